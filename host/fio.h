// File-system library of the host.
#pragma once

#include <string>
#include <vector>

#include "host/host_export.h"

// A path made absolute and normal; the directory part always ends in "/".
class HOST_EXPORT FIO_PATH {
public:
    explicit FIO_PATH(const std::string& path);
    ~FIO_PATH();
    // The directory part, ending in "/".
    std::string full_directory() const;
    // The whole path.
    std::string fullpath() const;
    // Replaces the file-name part (a wildcard pattern is allowed) and returns the whole path.
    std::string filename(const std::string& name);
    operator std::string() const { return fullpath(); }  // NOLINT: the path is a string

private:
    std::string m_directory;
    std::string m_name;
};

// Walks the file names of one directory that match a wildcard pattern ("*" and "?"), in
// ascending byte order so that loading is the same on every file system.
class HOST_EXPORT FIO_FIND {
public:
    explicit FIO_FIND(const std::string& pattern_path);
    ~FIO_FIND();
    std::string find_first();
    // The empty string when there are no more names.
    std::string find_next();

private:
    std::vector<std::string> m_names;
    size_t m_next = 0;
};

class HOST_EXPORT FIO_FILE_SYSTEM {
public:
    static bool exists(const std::string& path);
    static bool exists(const char* path);
    // Creates the file if it is missing.
    static bool touch(const std::string& path);
    static bool _chmod(const char* path, int mode);
    static bool remove(const char* path);
};
