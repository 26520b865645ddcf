#include "host/fio.h"
#include "host/host_detail.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

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

FIO_FAILURE& last_failure_record() {
    static FIO_FAILURE failure;
    return failure;
}

struct INJECTED {
    unsigned nth = 0;  // 0: none
    int error = 0;
};
INJECTED injected[FIO_STEP_COUNT];

// Whether this operation of `step` is told to fail; then errno holds the chosen error.
bool injected_failure(FIO_STEP step) {
    INJECTED& i = injected[step];
    if (i.nth == 0 || --i.nth != 0)
        return false;
    errno = i.error;
    return true;
}

// Records errno as the reason of the failure of `step` on `path`; answers false.
bool failed(FIO_STEP step, const std::string& path) {
    last_failure_record() = {errno ? errno : EIO, step, path};
    return false;
}

// One step: the injected failure or the system call's answer (0 or a positive count for
// success).
template <typename CALL>
bool step_ok(FIO_STEP step, const std::string& path, CALL call) {
    if (injected_failure(step) || call() < 0)
        return failed(step, path);
    return true;
}

bool write_all(int fd, const std::string& data, const std::string& path) {
    if (injected_failure(FIO_STEP_WRITE))
        return failed(FIO_STEP_WRITE, path);
    for (size_t done = 0; done < data.size();) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return failed(FIO_STEP_WRITE, path);
        done += static_cast<size_t>(written);
    }
    return true;
}

// The mode a replaced file keeps, or the one a new file gets under the process's mask.
mode_t mode_for(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
}  // namespace

std::string FIO_FAILURE::describe() const {
    return error ? path + ": " + std::strerror(error) : std::string();
}

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
    return path &&
           step_ok(FIO_STEP_CHMOD, path, [&] { return ::chmod(path, static_cast<mode_t>(mode)); });
}

bool FIO_FILE_SYSTEM::remove(const char* path) {
    return path && step_ok(FIO_STEP_REMOVE, path, [&] { return ::unlink(path); });
}

bool FIO_FILE_SYSTEM::replace(const std::string& path, const std::string& data) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string temp = dir + "." + path.substr(slash + 1) + ".XXXXXX";
    const mode_t mode = mode_for(path);
    int fd = -1;
    if (!step_ok(FIO_STEP_CREATE, path, [&] { return fd = ::mkstemp(&temp[0]); }))
        return false;
    bool ok = write_all(fd, data, path) &&
              step_ok(FIO_STEP_CHMOD, path, [&] { return ::fchmod(fd, mode); }) &&
              step_ok(FIO_STEP_FSYNC, path, [&] { return ::fsync(fd); });
    if (::close(fd) != 0 && ok)
        ok = failed(FIO_STEP_WRITE, path);
    ok = ok &&
         step_ok(FIO_STEP_RENAME, path, [&] { return std::rename(temp.c_str(), path.c_str()); });
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    // The rename itself lasts once the folder is flushed too.
    const int dir_fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        ::fsync(dir_fd);
        ::close(dir_fd);
    }
    return true;
}

bool FIO_FILE_SYSTEM::read(const std::string& path, std::string* data) {
    data->clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        data->append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    ::close(fd);
    return got == 0;
}

std::string FIO_FILE_SYSTEM::signature(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string();
    return HOST_DETAIL::signature_of(st);
}

FIO_FAILURE FIO_FILE_SYSTEM::last_failure() {
    return last_failure_record();
}

void FIO_FILE_SYSTEM::clear_last_failure() {
    last_failure_record() = FIO_FAILURE();
}

void FIO_FILE_SYSTEM::fail_nth(FIO_STEP step, unsigned nth, int error) {
    if (step < FIO_STEP_COUNT)
        injected[step] = {nth, error};
}

void FIO_FILE_SYSTEM::clear_failures() {
    for (INJECTED& i : injected)
        i = INJECTED();
}

namespace {
struct HELD_FOLDER {
    int fd = -1;
    int depth = 0;
};
std::map<std::string, HELD_FOLDER>& held_folders() {
    static std::map<std::string, HELD_FOLDER> folders;
    return folders;
}
}  // namespace

FIO_FOLDER_LOCK::FIO_FOLDER_LOCK(const std::string& folder, int wait_ms)
    : m_folder(FIO_PATH(folder).full_directory()) {
    HELD_FOLDER& held = held_folders()[m_folder];
    if (held.depth > 0) {
        ++held.depth;
        m_held = true;
        return;
    }
    const int fd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        // A folder that cannot be opened cannot be written either: the save that follows
        // fails on its own terms.
        held_folders().erase(m_folder);
        m_held = true;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            // A file system without locks: nothing to wait for.
            ::close(fd);
            held_folders().erase(m_folder);
            m_held = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            held_folders().erase(m_folder);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    held = {fd, 1};
    m_held = true;
}

FIO_FOLDER_LOCK::~FIO_FOLDER_LOCK() {
    auto held = held_folders().find(m_folder);
    if (!m_held || held == held_folders().end() || --held->second.depth > 0)
        return;
    ::close(held->second.fd);
    held_folders().erase(held);
}
