// Text, number and path helpers of the host's XML document library.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_export.h"

class HOST_EXPORT PGM_COMMON {
public:
    // True when equal, byte for byte or ignoring ASCII case.
    static bool compare_string(const std::string& a, const std::string& b, bool ignore_case);

    // Decimal digits, or "0x" followed by hexadecimal digits. With `strict` the whole text must
    // be such a number; without it the leading number is taken and the rest ignored. `ok`
    // tells whether a number was read (and fits 64 bits, or `*limit` when given); a failed
    // conversion returns 0. `allow_sign` admits a leading "+".
    static uint64_t convert_string_to_qword(const std::string& text, bool strict,
                                            bool* ok = nullptr, const uint64_t* limit = nullptr,
                                            bool allow_sign = false);
    // As above, limited to 32 bits.
    static uint32_t convert_string_to_dword(const std::string& text, bool strict,
                                            bool* ok = nullptr, const uint32_t* limit = nullptr,
                                            bool allow_sign = false);
    // Hexadecimal digits (no prefix) to bytes, most significant first; an odd count gets a
    // leading 0. `count` < 0 takes every digit. The array is the caller's (delete[]); null
    // and *ok false for an empty text or a non-hexadecimal digit.
    static unsigned char* convert_hex_string_to_byte_array(const std::string& hex, int count,
                                                           uint32_t* byte_size, bool msb_first,
                                                           bool* ok);
    // Forward slashes only, and no doubled separators.
    static std::string change_folder_slash(const std::string& path);

    // The host's common programmer directory, ending in "/".
    static std::string pgm_get_common_programmer();
    // Control point of the standalone host; a "/" is added when missing.
    static void set_common_programmer(const std::string& dir);
};
