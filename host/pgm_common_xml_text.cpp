// Which texts a database file can hold: what the writer may be given without losing it.
#include <cstdint>
#include <string>

#include "host/pgm_common_xml.h"

namespace {

// XML 1.0 characters: tab, line feed, carriage return, and everything from the space on
// except the surrogates and the two non-characters U+FFFE and U+FFFF.
bool is_xml_char(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// One code point of strict UTF-8 at `i`, which moves past it; false for a malformed or
// overlong sequence.
bool next_code_point(const std::string& text, size_t* i, uint32_t* c) {
    const auto lead = static_cast<unsigned char>(text[*i]);
    size_t length = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        *c = lead;
        ++*i;
        return true;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        least = 0x80;
        *c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        least = 0x800;
        *c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        least = 0x10000;
        *c = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - *i < length)
        return false;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[*i + k]);
        if ((next & 0xC0) != 0x80)
            return false;
        *c = *c << 6 | (next & 0x3F);
    }
    *i += length;
    return *c >= least;
}

}  // namespace

bool PGM_COMMON_XML::is_storable_text(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        if (!next_code_point(text, &i, &c) || !is_xml_char(c))
            return false;
    }
    return true;
}
