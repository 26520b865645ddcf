// Helpers shared by the host's own sources; never part of the host's public face.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

struct stat;

#include "host/pgm_common_xml_enum.h"

namespace HOST_DETAIL {
// printf into a new string.
std::string vformat(const char* format, va_list args);
// Writes one line to standard error the first time `key` is seen in this process, so that a
// broken data file is named once and not at every read.
void report_once(const std::string& key, const std::string& line);
// Without leading and trailing blanks, tabs and line ends.
std::string trim(const std::string& text);
// pgm_common_xml_enum_from_name without building a string from the parser's name.
bool kind_from_name(std::string_view name, PGM_COMMON_XML_ENUM* kind);
// The text of FIO_FILE_SYSTEM::signature for a file's status.
std::string signature_of(const struct stat& info);
}  // namespace HOST_DETAIL
