// Reading a chip's SFDP tables. Every offset is checked against the buffer in 64-bit
// arithmetic before it is read: dumps come from chips and from people, and both get it wrong.
#include "pgm/gfpdb/gfpdb_sfdp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// The SFDP address space is 24 bits wide; a dump that claims more is no SFDP dump.
constexpr uint64_t MAX_DUMP_BYTES = uint64_t(1) << 24;

std::string hex(uint64_t value, int digits = 2) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string size_text(uint64_t bytes) {
    if (bytes >= (uint64_t(1) << 20) && bytes % (uint64_t(1) << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// ---------------------------------------------------------------------------------------------
// Dump forms

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool is_hex(const std::string& token) {
    return !token.empty() &&
           std::all_of(token.begin(), token.end(), [](char c) { return hex_digit(c) >= 0; });
}

std::vector<std::string> tokens_of(const std::string& text) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : text + ' ') {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    return tokens;
}

// Raw binary holds bytes that no text form has.
bool looks_binary(const std::string& content) {
    return std::any_of(content.begin(), content.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u >= 0x7F || (u < 0x20 && u != '\n' && u != '\r' && u != '\t');
    });
}

enum TEXT_FORM { FORM_PLAIN, FORM_OFFSET_BYTES, FORM_XXD };

// The form is decided by the first data line: "OFFSET: groups" is xxd, "OFFSET  bb bb ..."
// (an offset of four digits or more, then single bytes) is hexdump, anything else plain hex.
TEXT_FORM form_of(const std::string& line) {
    const std::vector<std::string> tokens = tokens_of(line.substr(0, line.find('|')));
    if (tokens.empty())
        return FORM_PLAIN;
    const std::string& first = tokens[0];
    if (first.size() > 1 && first.back() == ':' && is_hex(first.substr(0, first.size() - 1)))
        return FORM_XXD;
    if (first.size() >= 4 && is_hex(first) && tokens.size() >= 2 &&
        std::all_of(tokens.begin() + 1, tokens.end(),
                    [](const std::string& t) { return t.size() == 2 && is_hex(t); }))
        return FORM_OFFSET_BYTES;
    return FORM_PLAIN;
}

bool append_hex(const std::string& token, std::vector<uint8_t>* bytes) {
    if (token.size() % 2 != 0 || !is_hex(token))
        return false;
    for (size_t i = 0; i < token.size(); i += 2)
        bytes->push_back(static_cast<uint8_t>(hex_digit(token[i]) * 16 + hex_digit(token[i + 1])));
    return true;
}

struct TEXT_READER {
    TEXT_FORM form = FORM_PLAIN;
    std::vector<uint8_t>* bytes;
    std::vector<uint8_t> last_line;  // what a hexdump '*' repeats
    uint64_t last_start = 0;
    bool squeezed = false;
    std::string error;

    bool fail(size_t number, const std::string& text) {
        error = "line " + std::to_string(number) + ": " + text;
        return false;
    }

    // Places one line's bytes at its offset; a gap is only allowed after a '*' line.
    bool place(size_t number, uint64_t offset, const std::vector<uint8_t>& line) {
        if (offset > MAX_DUMP_BYTES)
            return fail(number, "offset " + hex(offset, 8) + " lies beyond the SFDP space");
        if (offset < bytes->size())
            return fail(number,
                        "offset " + hex(offset, 8) + " goes back before " + hex(bytes->size(), 8));
        if (offset > bytes->size()) {
            if (!squeezed || last_line.empty())
                return fail(number, "offset " + hex(offset, 8) + " leaves a gap after " +
                                        hex(bytes->size(), 8));
            while (bytes->size() < offset)
                bytes->push_back(last_line[(bytes->size() - last_start) % last_line.size()]);
        }
        squeezed = false;
        if (!line.empty()) {
            last_line = line;
            last_start = offset;
        }
        bytes->insert(bytes->end(), line.begin(), line.end());
        return bytes->size() <= MAX_DUMP_BYTES ||
               fail(number, "the dump grows beyond the SFDP space");
    }

    bool line(size_t number, std::string text) {
        if (form == FORM_PLAIN) {
            for (std::string token : tokens_of(text)) {
                if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X'))
                    token = token.substr(2);
                if (!append_hex(token, bytes))
                    return fail(number, "'" + token + "' is not hex bytes");
            }
            return bytes->size() <= MAX_DUMP_BYTES ||
                   fail(number, "the dump grows beyond the SFDP space");
        }
        if (text == "*") {
            squeezed = true;
            return true;
        }
        std::string offset_text, rest;
        if (form == FORM_XXD) {
            const size_t colon = text.find(':');
            if (colon == std::string::npos)
                return fail(number, "no 'OFFSET:' as xxd writes it");
            offset_text = text.substr(0, colon);
            rest = text.substr(colon + 1);
            // The text column starts after two blanks and may hold anything.
            const size_t start = rest.find_first_not_of(' ');
            const size_t column = rest.find("  ", start == std::string::npos ? 0 : start);
            rest = rest.substr(0, column);
        } else {
            rest = text.substr(0, text.find('|'));
            const std::vector<std::string> tokens = tokens_of(rest);
            offset_text = tokens.empty() ? "" : tokens[0];
            rest = rest.substr(rest.find(offset_text) + offset_text.size());
        }
        if (!is_hex(offset_text) || offset_text.size() > 16)
            return fail(number, "'" + offset_text + "' is no offset");
        const uint64_t offset = std::stoull(offset_text, nullptr, 16);
        std::vector<uint8_t> line_bytes;
        for (const std::string& token : tokens_of(rest))
            if ((form == FORM_OFFSET_BYTES && token.size() != 2) || !append_hex(token, &line_bytes))
                return fail(number, "'" + token + "' is not hex bytes");
        return place(number, offset, line_bytes);
    }
};

// ---------------------------------------------------------------------------------------------
// Fields of the Basic Flash Parameter Table: DWORD (from 1, as the standard numbers them),
// lowest bit, width.

struct BFPT_FIELD {
    uint32_t dword;
    uint32_t shift;
    uint32_t width;
};

constexpr BFPT_FIELD address_bytes_field = {1, 17, 2};  // 00: 3 only, 01: 3 or 4, 10: 4 only
constexpr BFPT_FIELD density_field = {2, 0, 32};
constexpr BFPT_FIELD erase_time_multiplier = {10, 0, 4};  // max = typical x 2 x (M + 1)
constexpr BFPT_FIELD page_size_log2 = {11, 4, 4};
constexpr BFPT_FIELD program_time_multiplier = {11, 0, 4};
constexpr BFPT_FIELD page_program_count = {11, 8, 5};  // typical = (count + 1) x unit
constexpr BFPT_FIELD page_program_unit = {11, 13, 1};  // 8 us or 64 us
constexpr BFPT_FIELD chip_erase_count = {11, 24, 5};
constexpr BFPT_FIELD chip_erase_unit = {11, 29, 2};  // 16 ms, 256 ms, 4 s, 64 s
constexpr BFPT_FIELD poll_status_wip = {14, 2, 1};   // 0x05, bit 0
constexpr BFPT_FIELD poll_flag_ready = {14, 3, 1};   // 0x70, bit 7
constexpr BFPT_FIELD quad_enable_field = {15, 20, 3};
constexpr BFPT_FIELD enter_4b_field = {16, 24, 7};  // bit 31 is reserved and ignored
constexpr BFPT_FIELD exit_4b_field = {16, 14, 10};
constexpr BFPT_FIELD soft_reset_field = {16, 8, 6};

// One row per fast read: its support flag in DWORD 1 and where its 16-bit settings lie
// (bits 4:0 wait states, 7:5 mode clocks, 15:8 opcode).
struct READ_ROW {
    const char* mode;
    BFPT_FIELD supported;
    BFPT_FIELD settings;
};
const READ_ROW read_rows[] = {
    {"1-1-2", {1, 16, 1}, {4, 0, 16}},
    {"1-2-2", {1, 20, 1}, {4, 16, 16}},
    {"1-1-4", {1, 22, 1}, {3, 16, 16}},
    {"1-4-4", {1, 21, 1}, {3, 0, 16}},
};

// Erase types 1 to 4: size exponent and opcode, and the typical time in DWORD 10.
const BFPT_FIELD erase_type_fields[4] = {{8, 0, 16}, {8, 16, 16}, {9, 0, 16}, {9, 16, 16}};
const BFPT_FIELD erase_time_fields[4] = {{10, 4, 7}, {10, 11, 7}, {10, 18, 7}, {10, 25, 7}};

const uint32_t erase_time_units_ms[4] = {1, 16, 128, 1000};
const uint32_t chip_erase_units_ms[4] = {16, 256, 4000, 64000};

struct TABLE {
    const uint8_t* data;
    uint32_t dwords;

    uint32_t dword(uint32_t number) const {  // from 1
        const uint8_t* p = data + 4 * (number - 1);
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    bool has(const BFPT_FIELD& field) const { return field.dword <= dwords; }
    // The field's value, or `absent` when the table stops before its DWORD.
    uint32_t get(const BFPT_FIELD& field, uint32_t absent = 0) const {
        if (!has(field))
            return absent;
        const uint64_t mask = (uint64_t(1) << field.width) - 1;
        return static_cast<uint32_t>((dword(field.dword) >> field.shift) & mask);
    }
};

uint32_t saturating_multiply(uint64_t a, uint64_t b) {
    const uint64_t product = a * b;
    return product > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(product);
}

bool decode_density(uint32_t value, GFPDB_SFDP* sfdp, std::string* error) {
    uint64_t bits;
    if (value & 0x80000000u) {
        const uint32_t exponent = value & 0x7FFFFFFFu;
        // 2^63 bits is the most a 64-bit count of bits holds.
        if (exponent > 63 || exponent < 3) {
            *error = "density of 2^" + std::to_string(exponent) + " bits is out of range";
            return false;
        }
        bits = uint64_t(1) << exponent;
    } else {
        bits = uint64_t(value) + 1;
    }
    if (bits % 8 != 0) {
        *error = "density of " + std::to_string(bits) + " bits is no whole number of bytes";
        return false;
    }
    sfdp->density_bytes = bits / 8;
    return true;
}

void decode_reads(const TABLE& table, GFPDB_SFDP* sfdp) {
    for (const READ_ROW& row : read_rows) {
        if (!table.get(row.supported))
            continue;
        const uint32_t settings = table.get(row.settings);
        GFPDB_SFDP_READ read;
        read.mode = row.mode;
        read.wait_states = settings & 0x1F;
        read.mode_clocks = (settings >> 5) & 0x07;
        read.opcode = static_cast<uint8_t>(settings >> 8);
        if (read.opcode == 0x00 || read.opcode == 0xFF) {
            sfdp->warnings.push_back(std::string("the ") + row.mode +
                                     " read is flagged as supported but has no opcode");
            continue;
        }
        sfdp->reads.push_back(read);
    }
}

void decode_erase_types(const TABLE& table, GFPDB_SFDP* sfdp) {
    const uint32_t multiplier = table.get(erase_time_multiplier);
    for (int n = 0; n < 4; ++n) {
        const uint32_t field = table.get(erase_type_fields[n]);
        const uint32_t exponent = field & 0xFF;
        if (exponent == 0)
            continue;
        const std::string name = "erase type " + std::to_string(n + 1);
        if (exponent > 31) {
            sfdp->warnings.push_back(name + " of 2^" + std::to_string(exponent) +
                                     " bytes is ignored");
            continue;
        }
        GFPDB_SFDP_ERASE erase;
        erase.type = static_cast<uint8_t>(n + 1);
        erase.size = uint32_t(1) << exponent;
        erase.opcode = static_cast<uint8_t>(field >> 8);
        if (table.has(erase_time_fields[n])) {
            const uint32_t time = table.get(erase_time_fields[n]);
            erase.typical_ms = ((time & 0x1F) + 1) * erase_time_units_ms[time >> 5];
            erase.max_ms = saturating_multiply(erase.typical_ms, 2 * (uint64_t(multiplier) + 1));
        }
        if (erase.size > sfdp->density_bytes)
            sfdp->warnings.push_back(name + " of " + size_text(erase.size) +
                                     " exceeds the density");
        sfdp->erase_types.push_back(erase);
    }
    std::stable_sort(
        sfdp->erase_types.begin(), sfdp->erase_types.end(),
        [](const GFPDB_SFDP_ERASE& a, const GFPDB_SFDP_ERASE& b) { return a.size < b.size; });
    for (size_t i = 0; i < sfdp->erase_types.size(); ++i)
        for (size_t j = i + 1; j < sfdp->erase_types.size(); ++j)
            if (sfdp->erase_types[i].opcode == sfdp->erase_types[j].opcode)
                sfdp->warnings.push_back("opcode " + hex(sfdp->erase_types[i].opcode) + " erases " +
                                         size_text(sfdp->erase_types[i].size) + " and " +
                                         size_text(sfdp->erase_types[j].size) +
                                         ": the size depends on the part's configuration");
}

void decode_bfpt(const TABLE& table, GFPDB_SFDP* sfdp) {
    sfdp->bfpt_dwords = table.dwords;
    sfdp->address_bytes = static_cast<GFPDB_SFDP_ADDRESS_BYTES>(table.get(address_bytes_field));
    decode_reads(table, sfdp);
    decode_erase_types(table, sfdp);

    if (table.has(page_size_log2)) {
        const uint32_t exponent = table.get(page_size_log2);
        sfdp->page_size = uint32_t(1) << exponent;
        const uint32_t multiplier = 2 * (table.get(program_time_multiplier) + 1);
        sfdp->page_program_typical_us =
            (table.get(page_program_count) + 1) * (table.get(page_program_unit) ? 64 : 8);
        sfdp->page_program_max_us = sfdp->page_program_typical_us * multiplier;
        sfdp->chip_erase_typical_ms =
            (table.get(chip_erase_count) + 1) * chip_erase_units_ms[table.get(chip_erase_unit)];
        sfdp->chip_erase_max_ms = saturating_multiply(sfdp->chip_erase_typical_ms, multiplier);
    }
    if (table.has(poll_status_wip)) {
        if (table.get(poll_status_wip))
            sfdp->poll = GFPDB_SFDP_POLL_STATUS_WIP;
        else if (table.get(poll_flag_ready))
            sfdp->poll = GFPDB_SFDP_POLL_FLAG_READY;
    }
    if (table.has(quad_enable_field)) {
        sfdp->quad_enable = static_cast<int>(table.get(quad_enable_field));
        if (sfdp->quad_enable == 7)
            sfdp->warnings.push_back(
                "the quad-enable requirement 7 is reserved: the quad-enable step cannot be "
                "drafted from it");
    }
    // 3-byte-only parts fill these bits with ones.
    if (sfdp->address_bytes == GFPDB_SFDP_ADDRESS_3_OR_4 ||
        sfdp->address_bytes == GFPDB_SFDP_ADDRESS_4) {
        sfdp->enter_4b = table.get(enter_4b_field);
        sfdp->exit_4b = table.get(exit_4b_field);
    }
    sfdp->soft_reset = table.get(soft_reset_field);
}

void decode_4bait(const TABLE& table, GFPDB_SFDP* sfdp) {
    sfdp->has_4bait = true;
    const uint32_t supported = table.dword(1);
    const uint32_t opcodes = table.dword(2);
    sfdp->four_byte_instructions = supported & 0x1FFF;
    for (GFPDB_SFDP_ERASE& erase : sfdp->erase_types)
        if (supported & (GFPDB_SFDP_4BAIT_ERASE_TYPE_1 << (erase.type - 1)))
            erase.opcode_4b = static_cast<uint8_t>(opcodes >> (8 * (erase.type - 1)));
}

void add_consistency_warnings(GFPDB_SFDP* sfdp) {
    const bool big = sfdp->needs_4byte();
    if (sfdp->address_bytes == GFPDB_SFDP_ADDRESS_RESERVED)
        sfdp->warnings.push_back("the address-bytes code 3 is reserved");
    else if (big && sfdp->address_bytes == GFPDB_SFDP_ADDRESS_3)
        sfdp->warnings.push_back("a " + size_text(sfdp->density_bytes) +
                                 " part that claims 3-byte addressing only: above 16 MiB it "
                                 "needs 4-byte addresses");
    else if (!big && sfdp->address_bytes == GFPDB_SFDP_ADDRESS_4)
        sfdp->warnings.push_back("a " + size_text(sfdp->density_bytes) +
                                 " part that claims 4-byte addressing only");
    if (sfdp->page_size != 0 && (sfdp->page_size < 16 || sfdp->page_size > 4096))
        sfdp->warnings.push_back("page size of " + std::to_string(sfdp->page_size) +
                                 " bytes is unusual");
}

bool read_table(const uint8_t* data, size_t size, uint64_t pointer, uint64_t dwords,
                const std::string& name, TABLE* table, std::string* problem) {
    if (dwords == 0) {
        *problem = name + " has length 0";
        return false;
    }
    if (pointer % 4 != 0) {
        *problem = name + " at " + hex(pointer, 6) + " is not DWORD aligned";
        return false;
    }
    if (pointer >= size) {
        *problem = name + " at " + hex(pointer, 6) + " lies beyond the dump's " +
                   std::to_string(size) + " bytes";
        return false;
    }
    const uint64_t available = (size - pointer) / 4;
    table->data = data + pointer;
    table->dwords = static_cast<uint32_t>(std::min(dwords, available));
    if (available < dwords)
        *problem = name + " is cut short: " + std::to_string(available) + " of " +
                   std::to_string(dwords) + " DWORDs in the dump";
    return true;
}

// The Basic Flash Parameter Table holds at most 20 DWORDs of known meaning; read no more.
constexpr uint32_t BFPT_MIN_DWORDS = 9;
constexpr uint32_t BFPT_MAX_DWORDS = 20;

bool read_bfpt(TABLE table, GFPDB_SFDP* sfdp, std::string* error) {
    if (table.dwords < BFPT_MIN_DWORDS) {
        *error = "the Basic Flash Parameter Table has " + std::to_string(table.dwords) +
                 " DWORDs; at least 9 are needed";
        return false;
    }
    table.dwords = std::min(table.dwords, BFPT_MAX_DWORDS);
    if (!decode_density(table.get(density_field), sfdp, error))
        return false;
    decode_bfpt(table, sfdp);
    return true;
}

}  // namespace

std::string GFPDB_SFDP::density_text() const {
    const uint64_t bits = density_bytes * 8;
    if (bits == 0 || bits % (uint64_t(1) << 20) != 0)
        return "";
    return std::to_string(bits >> 20) + "Mb";
}

std::string GFPDB_SFDP::address_bytes_text() const {
    static const char* const names[] = {"3", "3or4", "4", "reserved"};
    return names[address_bytes & 3];
}

std::string GFPDB_SFDP::poll_text() const {
    return poll == GFPDB_SFDP_POLL_STATUS_WIP   ? "status-wip"
           : poll == GFPDB_SFDP_POLL_FLAG_READY ? "flag-ready"
                                                : "";
}

const GFPDB_SFDP_READ* GFPDB_SFDP::find_read(const std::string& mode) const {
    for (const GFPDB_SFDP_READ& read : reads)
        if (read.mode == mode)
            return &read;
    return nullptr;
}

bool gfpdb_sfdp_decode_dump(const std::string& content, std::vector<uint8_t>* bytes,
                            std::string* error) {
    bytes->clear();
    if (looks_binary(content)) {
        if (content.size() > MAX_DUMP_BYTES) {
            *error = "the dump is larger than the 16 MiB SFDP space";
            return false;
        }
        bytes->assign(content.begin(), content.end());
        return true;
    }
    TEXT_READER reader;
    reader.bytes = bytes;
    bool form_known = false;
    size_t number = 0, start = 0;
    while (start <= content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        if (!form_known) {
            reader.form = form_of(line);
            form_known = true;
        }
        if (!reader.line(number, line)) {
            *error = reader.error;
            bytes->clear();
            return false;
        }
    }
    if (bytes->empty()) {
        *error = "the dump holds no bytes";
        return false;
    }
    return true;
}

bool gfpdb_sfdp_read(const uint8_t* data, size_t size, GFPDB_SFDP* sfdp, std::string* error) {
    *sfdp = GFPDB_SFDP();
    static const uint8_t signature[4] = {'S', 'F', 'D', 'P'};
    if (size < 4 || !std::equal(signature, signature + 4, data)) {
        // The Basic Flash Parameter Table alone, as devicetree properties give it.
        const TABLE table = {data, static_cast<uint32_t>(std::min<size_t>(size / 4, 1024))};
        if (table.dwords < BFPT_MIN_DWORDS) {
            *error = "no SFDP signature, and " + std::to_string(size) +
                     " bytes are too few for a Basic Flash Parameter Table (36 or more)";
            return false;
        }
        if (!read_bfpt(table, sfdp, error))
            return false;
        add_consistency_warnings(sfdp);
        return true;
    }
    sfdp->has_header = true;
    if (size < 16) {
        *error = "the SFDP header is cut short: " + std::to_string(size) + " of 16 bytes";
        return false;
    }
    sfdp->sfdp_minor = data[4];
    sfdp->sfdp_major = data[5];
    if (sfdp->sfdp_major != 1) {
        *error = "SFDP major revision " + std::to_string(sfdp->sfdp_major) + " is not 1";
        return false;
    }
    const uint64_t headers = uint64_t(data[6]) + 1;
    const uint64_t headers_end = 8 + 8 * headers;
    if (headers_end > size) {
        *error = "the " + std::to_string(headers) + " parameter headers need " +
                 std::to_string(headers_end) + " bytes; the dump has " + std::to_string(size);
        return false;
    }
    TABLE bfpt = {nullptr, 0};
    for (uint64_t i = 0; i < headers; ++i) {
        const uint8_t* header = data + 8 + 8 * i;
        const uint32_t id = uint32_t(header[7]) << 8 | header[0];
        const uint64_t dwords = header[3];
        const uint64_t pointer =
            uint64_t(header[4]) | uint64_t(header[5]) << 8 | uint64_t(header[6]) << 16;
        std::string problem;
        if (i == 0) {
            if (id != 0xFF00) {
                *error = "the first parameter table is " + hex(id, 4) +
                         ", not the Basic Flash Parameter Table (0xFF00)";
                return false;
            }
            sfdp->bfpt_minor = header[1];
            sfdp->bfpt_major = header[2];
            if (!read_table(data, size, pointer, dwords, "the Basic Flash Parameter Table", &bfpt,
                            &problem)) {
                *error = problem;
                return false;
            }
            if (!problem.empty())
                sfdp->warnings.push_back(problem);
            if (!read_bfpt(bfpt, sfdp, error))
                return false;
            continue;
        }
        if (id != 0xFF84)
            continue;  // tables the draft does not use are skipped by their length
        TABLE table;
        bool readable = read_table(data, size, pointer, dwords,
                                   "the 4-byte address instruction table", &table, &problem);
        if (readable && table.dwords < 2) {
            readable = false;
            problem = "the 4-byte address instruction table has fewer than 2 DWORDs";
        }
        if (!problem.empty())
            sfdp->warnings.push_back(readable ? problem : problem + "; it is ignored");
        if (readable)
            decode_4bait(table, sfdp);
    }
    add_consistency_warnings(sfdp);
    return true;
}

bool gfpdb_sfdp_read_dump(const std::string& content, GFPDB_SFDP* sfdp, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!gfpdb_sfdp_decode_dump(content, &bytes, error))
        return false;
    return gfpdb_sfdp_read(bytes.data(), bytes.size(), sfdp, error);
}
