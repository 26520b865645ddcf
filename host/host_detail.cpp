#include "host/host_detail.h"

#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <vector>

namespace HOST_DETAIL {

std::string signature_of(const struct stat& info) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
           std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
}

std::string vformat(const char* format, va_list args) {
    if (!format)
        return std::string();
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(size));
}

void report_once(const std::string& key, const std::string& line) {
    // Never destroyed: data files may still be read while other modules unload.
    static auto* reported = new std::set<std::string>;
    if (!reported->insert(key).second)
        return;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace HOST_DETAIL
