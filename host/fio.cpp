#include "host/fio.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {
namespace fs = std::filesystem;

// "*" matches any run of characters, "?" any one character.
bool wildcard_match(const std::string& pattern, const std::string& name) {
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
}  // namespace

FIO_PATH::FIO_PATH(const std::string& path) {
    std::error_code ec;
    fs::path absolute(path);
    if (absolute.is_relative())
        absolute = fs::current_path(ec) / absolute;
    const std::string normal = absolute.lexically_normal().string();
    // A trailing "/" or an existing directory names a directory: the file name stays empty.
    if (normal.empty() || normal.back() == '/' || fs::is_directory(normal, ec)) {
        m_directory = normal.empty() || normal.back() != '/' ? normal + "/" : normal;
        return;
    }
    const size_t slash = normal.rfind('/');
    m_directory = normal.substr(0, slash + 1);
    m_name = normal.substr(slash + 1);
}

FIO_PATH::~FIO_PATH() = default;

std::string FIO_PATH::full_directory() const {
    return m_directory;
}

std::string FIO_PATH::fullpath() const {
    return m_directory + m_name;
}

std::string FIO_PATH::filename(const std::string& name) {
    m_name = name;
    return fullpath();
}

FIO_FIND::FIO_FIND(const std::string& pattern_path) {
    const size_t slash = pattern_path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : pattern_path.substr(0, slash + 1);
    const std::string pattern = pattern_path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(type_ec) && wildcard_match(pattern, name))
            m_names.push_back(name);
    }
    std::sort(m_names.begin(), m_names.end());
}

FIO_FIND::~FIO_FIND() = default;

std::string FIO_FIND::find_first() {
    m_next = 0;
    return find_next();
}

std::string FIO_FIND::find_next() {
    return m_next < m_names.size() ? m_names[m_next++] : std::string();
}

bool FIO_FILE_SYSTEM::exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

bool FIO_FILE_SYSTEM::exists(const char* path) {
    return path && exists(std::string(path));
}

bool FIO_FILE_SYSTEM::touch(const std::string& path) {
    if (!exists(path))
        std::ofstream(path, std::ios::app).close();
    return exists(path);
}

bool FIO_FILE_SYSTEM::_chmod(const char* path, int mode) {
    return path && ::chmod(path, static_cast<mode_t>(mode)) == 0;
}

bool FIO_FILE_SYSTEM::remove(const char* path) {
    std::error_code ec;
    return path && fs::remove(path, ec) && !ec;
}
