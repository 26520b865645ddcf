// Helpers shared by the host's own sources; never part of the host's public face.
#pragma once

#include <cstdarg>
#include <string>

namespace HOST_DETAIL {
// printf into a new string.
std::string vformat(const char* format, va_list args);
// Writes one line to standard error the first time `key` is seen in this process, so that a
// broken data file is named once and not at every read.
void report_once(const std::string& key, const std::string& line);
// Without leading and trailing blanks, tabs and line ends.
std::string trim(const std::string& text);
}  // namespace HOST_DETAIL
