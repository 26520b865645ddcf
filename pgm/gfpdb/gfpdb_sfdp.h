// The Serial Flash Discoverable Parameters a chip reports about itself (JESD216), read from a
// dump of its SFDP space: bytes in, a plain record out. No files, no XML, no manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_export.h"

enum GFPDB_SFDP_ADDRESS_BYTES {
    GFPDB_SFDP_ADDRESS_3 = 0,       // 3-byte addressing only
    GFPDB_SFDP_ADDRESS_3_OR_4 = 1,  // powers up in 3-byte mode, can enter 4-byte mode
    GFPDB_SFDP_ADDRESS_4 = 2,       // 4-byte addressing only
    GFPDB_SFDP_ADDRESS_RESERVED = 3
};

enum GFPDB_SFDP_POLL {
    GFPDB_SFDP_POLL_UNKNOWN = 0,     // the table does not say
    GFPDB_SFDP_POLL_STATUS_WIP = 1,  // read 0x05, bit 0 set while busy
    GFPDB_SFDP_POLL_FLAG_READY = 2   // read 0x70, bit 7 set when ready
};

// Methods to enter 4-byte addressing (DWORD 16 bits 30:24, shifted down to bits 6:0).
enum GFPDB_SFDP_ENTER_4B {
    GFPDB_SFDP_ENTER_4B_B7 = 1 << 0,                 // 0xB7 alone
    GFPDB_SFDP_ENTER_4B_WREN_B7 = 1 << 1,            // 0x06 then 0xB7
    GFPDB_SFDP_ENTER_4B_EXT_ADDR_REG = 1 << 2,       // extended address register 0xC5/0xC8
    GFPDB_SFDP_ENTER_4B_BANK_REG = 1 << 3,           // bank register 0x17/0x16, bit 7
    GFPDB_SFDP_ENTER_4B_NV_CONFIG_REG = 1 << 4,      // 16-bit non-volatile configuration register
    GFPDB_SFDP_ENTER_4B_DEDICATED_OPCODES = 1 << 5,  // 4-byte instruction set
    GFPDB_SFDP_ENTER_4B_ALWAYS = 1 << 6              // always in 4-byte mode
};

// Instructions of the 4-byte address instruction table (its DWORD 1, bits 12:0).
enum GFPDB_SFDP_4BAIT {
    GFPDB_SFDP_4BAIT_READ_13 = 1 << 0,
    GFPDB_SFDP_4BAIT_FAST_READ_0C = 1 << 1,
    GFPDB_SFDP_4BAIT_READ_1_1_2_3C = 1 << 2,
    GFPDB_SFDP_4BAIT_READ_1_2_2_BC = 1 << 3,
    GFPDB_SFDP_4BAIT_READ_1_1_4_6C = 1 << 4,
    GFPDB_SFDP_4BAIT_READ_1_4_4_EC = 1 << 5,
    GFPDB_SFDP_4BAIT_PROGRAM_12 = 1 << 6,
    GFPDB_SFDP_4BAIT_PROGRAM_1_1_4_34 = 1 << 7,
    GFPDB_SFDP_4BAIT_PROGRAM_1_4_4_3E = 1 << 8,
    GFPDB_SFDP_4BAIT_ERASE_TYPE_1 = 1 << 9  // types 2 to 4 follow in bits 10 to 12
};

struct GFPDB_SFDP_ERASE {
    uint8_t type = 0;   // 1 to 4, its place in the Basic Flash Parameter Table
    uint32_t size = 0;  // bytes, a power of two
    uint8_t opcode = 0;
    uint8_t opcode_4b = 0;    // from the 4-byte address instruction table; 0 when not listed
    uint32_t typical_ms = 0;  // 0: not given
    uint32_t max_ms = 0;
};

struct GFPDB_SFDP_READ {
    std::string mode;  // "1-1-2", "1-2-2", "1-1-4" or "1-4-4"
    uint8_t opcode = 0;
    uint8_t mode_clocks = 0;
    uint8_t wait_states = 0;
};

// What a dump says; a field the tables do not carry stays at its "unknown" value.
struct GFPDB_EXPORT GFPDB_SFDP {
    bool has_header = false;  // false: the dump held the Basic Flash Parameter Table alone
    uint8_t sfdp_major = 0, sfdp_minor = 0;
    uint8_t bfpt_major = 0, bfpt_minor = 0;
    uint32_t bfpt_dwords = 0;  // DWORDs of the Basic Flash Parameter Table that were read

    uint64_t density_bytes = 0;
    GFPDB_SFDP_ADDRESS_BYTES address_bytes = GFPDB_SFDP_ADDRESS_3;
    uint32_t page_size = 0;                     // 0: not given
    std::vector<GFPDB_SFDP_ERASE> erase_types;  // sorted by size
    std::vector<GFPDB_SFDP_READ> reads;         // the supported fast reads, in the order above
    GFPDB_SFDP_POLL poll = GFPDB_SFDP_POLL_UNKNOWN;
    int quad_enable = -1;     // quad-enable requirement code 0 to 7; -1: not given
    uint32_t enter_4b = 0;    // GFPDB_SFDP_ENTER_4B bits
    uint32_t exit_4b = 0;     // DWORD 16 bits 23:14, shifted down
    uint32_t soft_reset = 0;  // DWORD 16 bits 13:8, shifted down; bit 4 is 0x66 then 0x99
    bool has_4bait = false;
    uint32_t four_byte_instructions = 0;                            // GFPDB_SFDP_4BAIT bits
    uint32_t page_program_typical_us = 0, page_program_max_us = 0;  // 0: not given
    uint32_t chip_erase_typical_ms = 0, chip_erase_max_ms = 0;

    std::vector<std::string> warnings;  // contradictions and oddities of the tables

    // The density as the database writes it ("128Mb"); empty when it is no whole megabit.
    std::string density_text() const;
    // "3", "3or4", "4" or "reserved".
    std::string address_bytes_text() const;
    // "status-wip", "flag-ready" or empty.
    std::string poll_text() const;
    // The read of a mode; null when the part does not report it.
    const GFPDB_SFDP_READ* find_read(const std::string& mode) const;
    // Whether the part takes 4-byte addresses above 16 MiB at all.
    bool needs_4byte() const { return density_bytes > (uint64_t(1) << 24); }
};

// The bytes of a dump in any of the forms users hand over: raw binary, `hexdump -C` output
// (with its '*' runs), `xxd` output, plain hex (`xxd -p`, or bytes separated by blanks), with
// '#' comment lines. False, with a one-line reason, when the text cannot be read.
GFPDB_EXPORT bool gfpdb_sfdp_decode_dump(const std::string& content, std::vector<uint8_t>* bytes,
                                         std::string* error);

// Reads an SFDP space from address 0, or a Basic Flash Parameter Table alone when the bytes
// do not start with the "SFDP" signature. Never reads outside `data[0, size)`. False, with a
// one-line reason, when the tables cannot be read at all.
GFPDB_EXPORT bool gfpdb_sfdp_read(const uint8_t* data, size_t size, GFPDB_SFDP* sfdp,
                                  std::string* error);

// Both steps for a dump's content.
GFPDB_EXPORT bool gfpdb_sfdp_read_dump(const std::string& content, GFPDB_SFDP* sfdp,
                                       std::string* error);
