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

// The file operations that can fail on their way to the disk, as a test names them to make one
// fail (FIO_FILE_SYSTEM::fail_nth).
enum FIO_STEP {
    FIO_STEP_CREATE,  // making a new file beside the one replaced
    FIO_STEP_WRITE,   // writing a file's content
    FIO_STEP_FSYNC,   // flushing it to the disk
    FIO_STEP_RENAME,  // putting it in the old file's place
    FIO_STEP_REMOVE,  // removing a file
    FIO_STEP_CHMOD,   // changing a file's mode
    FIO_STEP_COUNT
};

// Why a file operation failed: the system's error number, the step and the path.
struct HOST_EXPORT FIO_FAILURE {
    int error = 0;  // 0: nothing failed
    FIO_STEP step = FIO_STEP_COUNT;
    std::string path;
    // "PATH: reason" as the system words the error; empty when nothing failed.
    std::string describe() const;
};

class HOST_EXPORT FIO_FILE_SYSTEM {
public:
    static bool exists(const std::string& path);
    static bool exists(const char* path);
    // Creates the file if it is missing.
    static bool touch(const std::string& path);
    static bool _chmod(const char* path, int mode);
    // Removes a file; a folder or anything else in a file's place stays and is a failure.
    static bool remove(const char* path);

    // Replaces a file by `data` so that, whatever stops it midway, the path holds the whole
    // old file or the whole new one: the data goes to a new file beside it, whose name starts
    // with "." and ends in six random characters, is flushed to the disk, takes the old file's
    // mode and replaces the old file by a rename. False, with the old file as it was and no
    // file left beside it, when a step fails.
    static bool replace(const std::string& path, const std::string& data);
    static bool read(const std::string& path, std::string* data);
    // What identifies a file's current state (device, inode, size, modification time); it
    // changes whenever someone writes or replaces the file. Empty when there is no file.
    static std::string signature(const std::string& path);

    // The last failure of an operation of this process, until cleared.
    static FIO_FAILURE last_failure();
    static void clear_last_failure();
    // Test hook: the `nth` operation of `step` from now on (1 for the next) fails with the
    // error number `error` without touching the disk. 0 for `nth` clears that step.
    static void fail_nth(FIO_STEP step, unsigned nth, int error);
    static void clear_failures();
};

// An exclusive advisory lock on a folder (flock on the folder itself, so that nothing is
// added to it), held while the object lives. Nested locks of one process on one folder share
// the first one. Waits up to `wait_ms` for another process to let go.
class HOST_EXPORT FIO_FOLDER_LOCK {
public:
    FIO_FOLDER_LOCK(const std::string& folder, int wait_ms);
    ~FIO_FOLDER_LOCK();
    FIO_FOLDER_LOCK(const FIO_FOLDER_LOCK&) = delete;
    FIO_FOLDER_LOCK& operator=(const FIO_FOLDER_LOCK&) = delete;
    // False when another process held the folder for the whole wait.
    bool held() const { return m_held; }

private:
    std::string m_folder;
    bool m_held = false;
};
