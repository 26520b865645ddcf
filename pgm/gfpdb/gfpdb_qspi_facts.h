// What the flow lint and the flow adaptation know of QSPI NOR flash commands and their makers:
// datasheet conventions and JEDEC practice, kept as tables. Library-internal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

namespace gfpdb_qspi_facts {

// Opcodes the rules name (datasheet convention, shared by the makers here).
enum OPCODE : int {
    OP_WRITE_STATUS = 0x01,
    OP_PAGE_PROGRAM = 0x02,
    OP_READ = 0x03,
    OP_WRITE_DISABLE = 0x04,
    OP_READ_STATUS = 0x05,
    OP_WRITE_ENABLE = 0x06,
    OP_FAST_READ = 0x0B,
    OP_FAST_READ_4B = 0x0C,
    OP_WRITE_STATUS_3 = 0x11,
    OP_READ_4B = 0x13,
    OP_READ_BANK = 0x16,
    OP_WRITE_BANK = 0x17,  // bank address register: bit 7 selects 4-byte addresses
    OP_WRITE_STATUS_2 = 0x31,
    OP_VOLATILE_WRITE_ENABLE = 0x50,  // clears the flag status register on Micron parts instead
    OP_CHIP_ERASE_60 = 0x60,
    OP_RESET_ENABLE = 0x66,
    OP_READ_FLAG_STATUS = 0x70,
    OP_WRITE_VOLATILE_CONFIG = 0x81,  // Micron: bits 7:4 are the dummy cycles
    OP_READ_VOLATILE_CONFIG = 0x85,
    OP_RESET = 0x99,
    OP_WRITE_NONVOLATILE_CONFIG = 0xB1,
    OP_ENTER_4BYTE = 0xB7,
    OP_DIE_ERASE = 0xC4,
    OP_WRITE_EXTENDED_ADDRESS = 0xC5,
    OP_CHIP_ERASE = 0xC7,
    OP_EXIT_4BYTE = 0xE9,
};

// The 3-byte and 4-byte forms of the addressed commands.
struct ADDRESS_FORMS {
    int three;
    int four;
};
constexpr ADDRESS_FORMS address_forms[] = {
    {0x03, 0x13},  // read
    {0x0B, 0x0C},  // fast read
    {0x3B, 0x3C},  // dual output read
    {0xBB, 0xBC},  // dual I/O read
    {0x6B, 0x6C},  // quad output read
    {0xEB, 0xEC},  // quad I/O read
    {0x0D, 0x0E},  // DTR fast read
    {0xBD, 0xBE},  // DTR dual I/O read
    {0xED, 0xEE},  // DTR quad I/O read
    {0x02, 0x12},  // page program
    {0x32, 0x34},  // quad input page program
    {0x38, 0x3E},  // quad I/O page program
    {0x20, 0x21},  // 4 KB erase
    {0x52, 0x5C},  // 32 KB erase
    {0xD8, 0xDC},  // 64 KB erase
};

// The 3-byte form of a 4-byte opcode; -1 when the opcode is none.
inline int three_byte_form(int opcode) {
    for (const ADDRESS_FORMS& forms : address_forms)
        if (forms.four == opcode)
            return forms.three;
    return -1;
}
inline bool is_four_byte_opcode(int opcode) {
    return three_byte_form(opcode) >= 0;
}

// 3-byte addresses reach 16 MB (128 Mbit).
constexpr uint64_t three_byte_reach = 16u << 20;

// Makers whose command sets the rules know. Facts from datasheets and the JEDEC ID tables.
enum CAPACITY_CODING {
    CAPACITY_UNKNOWN,       // no formula known: stay silent
    CAPACITY_LOG2,          // capacity byte = log2(bytes)
    CAPACITY_LOG2_TO_32MB,  // log2(bytes) up to 32 MB, then 0x20 = 64 MB, 0x21, 0x22 ...
    CAPACITY_MACRONIX,      // by memory type: 0x20/0x28 log2, 0x25/0x81 log2 + 0x20
    CAPACITY_SPANSION       // no formula: a table of known parts
};

// One way of setting the quad-enable bit: a register write and the byte of its data that
// holds the bit.
struct QE_WRITE {
    int opcode;
    unsigned byte;
};

struct VENDOR {
    const char* name;
    const char* golden_template;  // the golden template of its command set; null: none
    uint8_t makers[2];            // JEDEC manufacturer bytes (0: unused)
    bool write_enable_for_4byte;  // 0xB7/0xE9 need a write enable first
    bool flag_status;             // has the 0x70 flag status register
    CAPACITY_CODING capacity;
    QE_WRITE qe_writes[2];  // opcode 0: unused; no entry at all: the maker has no QE bit
    uint8_t qe_bit;
    int qe_read;  // the register read that shows the bit
};

constexpr VENDOR vendors[] = {
    // No quad-enable bit: the I/O lines are always quad capable.
    {"Micron", "Micron", {0x20, 0x2C}, true, true, CAPACITY_LOG2_TO_32MB, {}, 0, -1},
    {"Macronix", "Macronix", {0xC2, 0}, false, false, CAPACITY_MACRONIX, {{0x01, 0}}, 0x40, 0x05},
    // Quad enable is bit 1 of configuration register 1, the second byte of a 0x01 write.
    {"Cypress", "Cypress", {0x01, 0x34}, false, false, CAPACITY_SPANSION, {{0x01, 1}}, 0x02, 0x35},
    {"Winbond",
     "Winbond",
     {0xEF, 0},
     false,
     false,
     CAPACITY_LOG2_TO_32MB,
     {{0x31, 0}, {0x01, 1}},
     0x02,
     0x35},
    {"ISSI", nullptr, {0x9D, 0}, false, false, CAPACITY_LOG2, {{0x01, 0}}, 0x40, 0x05},
    {"GigaDevice",
     nullptr,
     {0xC8, 0},
     false,
     false,
     CAPACITY_LOG2,
     {{0x31, 0}, {0x01, 1}},
     0x02,
     0x35},
};

// The maker of a manufacturer byte; null when unknown.
inline const VENDOR* vendor_of_maker(int maker) {
    for (const VENDOR& vendor : vendors)
        for (uint8_t byte : vendor.makers)
            if (byte && byte == maker)
                return &vendor;
    return nullptr;
}
// The maker whose golden template has this name; null for user templates.
inline const VENDOR* vendor_of_template(const std::string& name) {
    for (const VENDOR& vendor : vendors)
        if (vendor.golden_template && name == vendor.golden_template)
            return &vendor;
    return nullptr;
}

// The dummy cycles a Micron volatile configuration byte sets; -1 for the part's default.
inline int micron_config_dummy(uint8_t config) {
    const int field = config >> 4;
    return field == 0 || field == 15 ? -1 : field;
}

// Property access by action type: the property of a role for each type, or -1.
enum ROLE { ROLE_COMMAND, ROLE_DATA, ROLE_DELAY, ROLE_MODE, ROLE_COUNT };
constexpr int role_property[GFPDB_ACT_TYPE_COUNT][ROLE_COUNT] = {
    {GFPDB_ACT_PROPERTY_WRITE_REG_COMMAND, GFPDB_ACT_PROPERTY_WRITE_REG_DATA,
     GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, -1},
    {GFPDB_ACT_PROPERTY_READ_REG_COMMAND, -1, GFPDB_ACT_PROPERTY_READ_REG_DELAY, -1},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_COMMAND, GFPDB_ACT_PROPERTY_WRITE_DATA_DATA,
     GFPDB_ACT_PROPERTY_WRITE_DATA_DELAY, GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE},
    {GFPDB_ACT_PROPERTY_READ_DATA_COMMAND, -1, GFPDB_ACT_PROPERTY_READ_DATA_DELAY,
     GFPDB_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE},
    {GFPDB_ACT_PROPERTY_ERASE_COMMAND, -1, GFPDB_ACT_PROPERTY_ERASE_DELAY,
     GFPDB_ACT_PROPERTY_ERASE_ADDRESSING_MODE},
    {-1, -1, -1, -1},
};

// The bytes of a data-list property; empty when unset, a reference to the programming file,
// or no data list.
inline std::vector<uint8_t> bytes_of(GFPDB_ACTION* action, int property) {
    std::vector<uint8_t> bytes;
    if (property < 0)
        return bytes;
    const auto p = static_cast<GFPDB_ACT_PROPERTY>(property);
    const std::string text = action->get_property_value(p);
    if (text.empty() || action->property_value_is_jic_file(text))
        return bytes;
    uint32_t size = 0;
    bool ok = false;
    unsigned char* array = action->get_property_value_in_byte_array(p, &size, &ok);
    if (array && ok)
        bytes.assign(array, array + size);
    delete[] array;
    return bytes;
}

// The command byte of an action; -1 for none.
inline int command_of(GFPDB_ACTION* action) {
    const int type = action->get_action_type();
    if (type < 0 || type >= GFPDB_ACT_TYPE_COUNT)
        return -1;
    const std::vector<uint8_t> bytes = bytes_of(action, role_property[type][ROLE_COMMAND]);
    return bytes.size() == 1 ? bytes[0] : -1;
}

inline std::string hex_byte(int value) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

}  // namespace gfpdb_qspi_facts
