// The SFDP reader: what each real dump says, that every form of a dump reads alike, and what
// broken tables give.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pgm/gfpdb/gfpdb_sfdp.h"
#include "pgm/gfpdb/gfpdb_sfdp_draft.h"
#include "support/qspi_fixture.h"

namespace {

const std::string source_dir = GFPDB_SOURCE_DIR;

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> dump_bytes(const std::string& name) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(gfpdb_sfdp_decode_dump(read_text(source_dir + "/tests/data/sfdp/" + name + ".hex"),
                                       &bytes, &error))
        << error;
    return bytes;
}

std::string erase_text(const GFPDB_SFDP& sfdp) {
    std::string text;
    for (const GFPDB_SFDP_ERASE& erase : sfdp.erase_types)
        text += std::to_string(erase.size) + ":" + std::to_string(erase.opcode) + "/" +
                std::to_string(erase.opcode_4b) + " ";
    return text;
}

struct DUMP_CASE {
    const char* name;
    uint64_t density_bytes;
    const char* address_bytes;
    uint32_t page_size;
    const char* erase;    // size:opcode/4-byte opcode, by size, opcodes in decimal
    const char* x4_read;  // "opcode mode+wait" of the 1-4-4 read, else ""
    const char* poll;
    int quad_enable;
};
const DUMP_CASE dump_cases[] = {
    // types listed 4 KiB, 64 KiB, 32 KiB; 32 KiB has no 4-byte opcode in the 4-byte table
    {"mt25qu256a_20bb19", 32 << 20, "3or4", 256, "4096:32/33 32768:82/0 65536:216/220 ", "235 1+9",
     "flag-ready", 0},
    {"w25q128jv_ef4018", 16 << 20, "3", 256, "4096:32/0 32768:82/0 65536:216/0 ", "235 2+4",
     "status-wip", 4},
    // 9 DWORDs: no page size, polling or quad enable
    {"mx25l1606e_c22015", 2 << 20, "3", 0, "4096:32/0 65536:216/0 ", "", "", -1},
    // one opcode for two sizes; revision 1.0 with 20 DWORDs
    {"s25fs256t_342b19", 32 << 20, "3or4", 128, "65536:216/220 131072:216/220 ", "235 2+8",
     "status-wip", 5},
    // reserved quad-enable code
    {"gd25lb512me_c8671a", 64 << 20, "3or4", 256, "4096:32/33 32768:82/92 65536:216/220 ",
     "235 2+4", "status-wip", 7},
    // the table alone, with a 256-byte page erase
    {"p25q16h_856015", 2 << 20, "3", 0, "256:129/0 4096:32/0 32768:82/0 65536:216/0 ", "235 2+4",
     "", -1},
};

TEST(Sfdp, RealDumpsDecodeToTheirKnownParameters) {
    for (const DUMP_CASE& c : dump_cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = dump_bytes(c.name);
        GFPDB_SFDP sfdp;
        std::string error;
        ASSERT_TRUE(gfpdb_sfdp_read(bytes.data(), bytes.size(), &sfdp, &error)) << error;
        EXPECT_EQ(sfdp.density_bytes, c.density_bytes);
        EXPECT_EQ(sfdp.address_bytes_text(), c.address_bytes);
        EXPECT_EQ(sfdp.page_size, c.page_size);
        EXPECT_EQ(erase_text(sfdp), c.erase);
        const GFPDB_SFDP_READ* x4 = sfdp.find_read("1-4-4");
        EXPECT_EQ(x4 ? std::to_string(x4->opcode) + " " + std::to_string(x4->mode_clocks) + "+" +
                           std::to_string(x4->wait_states)
                     : "",
                  c.x4_read);
        EXPECT_EQ(sfdp.poll_text(), c.poll);
        EXPECT_EQ(sfdp.quad_enable, c.quad_enable);
    }
}

// Every seed of the reader's fuzz target is one of the dumps in another form (raw binary, xxd,
// xxd -p, hexdump -C with its '*' runs): each gives the bytes of the dump itself.
TEST(Sfdp, EveryFormOfADumpGivesItsBytes) {
    size_t forms = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(source_dir + "/fuzz/corpus/sfdp")) {
        const std::filesystem::path path = entry.path();
        if (path.extension() == ".hex")
            continue;
        SCOPED_TRACE(path.string());
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(gfpdb_sfdp_decode_dump(read_text(path.string()), &bytes, &error)) << error;
        EXPECT_EQ(bytes, dump_bytes(path.stem().string()));
        ++forms;
    }
    EXPECT_GE(forms, 9u);
}

struct BROKEN_CASE {
    const char* what;
    const char* dump;
    size_t cut;  // keep this many bytes; 0 keeps all
    std::vector<std::pair<size_t, uint8_t>> patches;
    const char* error;    // expected in the error; nullptr: the dump reads
    const char* warning;  // expected among the warnings when it reads
};
const char* const W25 = "w25q128jv_ef4018";    // one header, table at 0x80, 16 DWORDs
const char* const MT25 = "mt25qu256a_20bb19";  // 4-byte table at 0x80, 2 DWORDs
const BROKEN_CASE broken_cases[] = {
    {"header cut", W25, 12, {}, "SFDP header is cut short: 12 of 16", nullptr},
    {"major revision", W25, 0, {{5, 2}}, "major revision 2 is not 1", nullptr},
    {"headers cut",
     W25,
     20,
     {{6, 3}},
     "4 parameter headers need 40 bytes; the dump has 20",
     nullptr},
    {"first table", W25, 0, {{15, 0}}, "first parameter table is 0x0000", nullptr},
    {"length 0", W25, 0, {{11, 0}}, "has length 0", nullptr},
    {"pointer out", W25, 0, {{14, 0xFF}}, "at 0xFF0080 lies beyond the dump's 192 bytes", nullptr},
    {"unaligned", W25, 0, {{12, 0x82}}, "at 0x000082 is not DWORD aligned", nullptr},
    {"too short", W25, 0x80 + 32, {}, "has 8 DWORDs; at least 9 are needed", nullptr},
    {"density 2^64",
     W25,
     0,
     {{0x84, 0x40}, {0x85, 0}, {0x86, 0}, {0x87, 0x80}},
     "density of 2^64 bits is out of range",
     nullptr},
    {"density bits",
     W25,
     0,
     {{0x84, 2}, {0x85, 0}, {0x86, 0}, {0x87, 0}},
     "3 bits is no whole number of bytes",
     nullptr},
    {"bare table short", W25, 0x20, {{0, 0}}, "no SFDP signature, and 32 bytes", nullptr},
    // read as far as the dump goes, marked
    {"table cut", W25, 0x80 + 40, {}, nullptr, "cut short: 10 of 16 DWORDs"},
    {"4-byte table out",
     MT25,
     0,
     {{0x14, 0xF0}},
     nullptr,
     "lies beyond the dump's 136 bytes; it is ignored"},
    {"4-byte table short", MT25, 0, {{0x13, 1}}, nullptr, "fewer than 2 DWORDs; it is ignored"},
    {"lying address bytes", W25, 0, {{0x87, 0x0F}}, nullptr, "32 MiB part that claims 3-byte"},
    {"reserved address bytes", W25, 0, {{0x82, 0xFF}}, nullptr, "address-bytes code 3 is reserved"},
    {"reserved quad enable", "gd25lb512me_c8671a", 0, {}, nullptr, "requirement 7 is reserved"},
};

TEST(Sfdp, BrokenTablesGiveTheirErrorOrAMarkedField) {
    for (const BROKEN_CASE& c : broken_cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = dump_bytes(c.dump);
        if (c.cut)
            bytes.resize(c.cut);
        for (const auto& [offset, value] : c.patches)
            bytes.at(offset) = value;
        // An exact-size copy, so that a read past the end is an error of the sanitizers.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        GFPDB_SFDP sfdp;
        std::string error;
        const bool read = gfpdb_sfdp_read(exact.get(), bytes.size(), &sfdp, &error);
        EXPECT_EQ(read, c.error == nullptr) << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
        std::string warnings;
        for (const std::string& warning : sfdp.warnings)
            warnings += warning + "\n";
        if (c.warning) {
            EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
        }
    }
}

struct TEXT_CASE {
    const char* text;
    const char* error;
};
const TEXT_CASE text_cases[] = {
    {"# only a comment\n", "holds no bytes"},
    {"53 46 zz", "line 1: 'zz' is not hex bytes"},
    {"534", "line 1: '534' is not hex bytes"},
    {"00000000  53 46\n00000000  44 50\n", "line 2: offset 0x00000000 goes back"},
    {"00000000  53 46\n00000010  44 50\n", "line 2: offset 0x00000010 leaves a gap"},
    {"00000000  53 46\n*\nffffffff  00\n", "line 3: offset 0xFFFFFFFF lies beyond"},
    {"00000000: 5346 4x50  SF\n", "line 1: '4x50' is not hex bytes"},
};

TEST(Sfdp, UnreadableTextNamesItsLine) {
    for (const TEXT_CASE& c : text_cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_FALSE(gfpdb_sfdp_decode_dump(c.text, &bytes, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Drafting

namespace {

struct DRAFT_CASE {
    const char* given_template;  // --template; "" chooses
    const char* dump;
    const char* id;
    const char* voltage;
    const char* template_name;
    int mode;            // addressing mode of every read, program and erase
    bool enters_4byte;   // 0xB7 in each flow's Initialization (else 4-byte opcodes above 16 MB)
    const char* erases;  // sizes of the Erase operation
    uint32_t dummy_x4;
    int poll;      // opcode of every busy poll
    int qe_check;  // opcode of the quad-enable read-back; 0: none
};
const DRAFT_CASE draft_cases[] = {
    // 4-byte table lacks the 32 KB erase: the 0x06 + 0xB7 entry the tables name
    {"", "mt25qu256a_20bb19", "0x20 0xBB 0x19", "1.8V", "Micron", 4, true, "4096 32768 65536 ", 10,
     0x70, 0},
    {"", "w25q128jv_ef4018", "0xEF 0x40 0x18", "3.0V/3.3V", "Winbond", 3, false,
     "4096 32768 65536 ", 6, 0x05, 0x35},
    // no times, page size, polling or x4 read in a 9-DWORD table
    {"", "mx25l1606e_c22015", "0xC2 0x20 0x15", "3.0V/3.3V", "Macronix", 3, false, "4096 65536 ", 8,
     0x05, 0x05},
    // 0xD8 listed for two sizes: the larger; the bank-register template gets 0xB7
    {"", "s25fs256t_342b19", "0x34 0x2B 0x19", "1.8V", "Cypress", 4, true, "131072 ", 10, 0x05,
     0x35},
    // no template for 0xC8: the closest; every 4-byte opcode listed
    {"", "gd25lb512me_c8671a", "0xC8 0x67 0x1A", "1.8V", "Winbond", 4, false, "4096 32768 65536 ",
     6, 0x05, 0x35},
    // the 256-byte page erase is left out
    {"", "p25q16h_856015", "0x85 0x60 0x15", "3.0V/3.3V", "Winbond", 3, false, "4096 32768 65536 ",
     6, 0x05, 0x35},
    // templates of other makers: their quad-enable step and polls give way to the tables';
    // the 0xB7 the tables want after a write enable gets one
    {"Macronix", "w25q128jv_ef4018", "0xEF 0x40 0x18", "3.0V/3.3V", "Macronix", 3, false,
     "4096 32768 65536 ", 6, 0x05, 0x35},
    {"Winbond", "mt25qu256a_20bb19", "0x20 0xBB 0x19", "1.8V", "Winbond", 4, true,
     "4096 32768 65536 ", 10, 0x70, 0},
};

bool is_4byte_opcode(uint32_t opcode) {
    for (uint32_t four : {0x12, 0x13, 0x0C, 0x21, 0x5C, 0xDC})
        if (opcode == four)
            return true;
    return false;
}

}  // namespace

class SfdpDraft : public gfpdb_test::QSPI_DB_TEST {};

TEST_F(SfdpDraft, EachDumpDraftsADeviceWhoseFlowsFitThePartAndThatSaves) {
    for (const DRAFT_CASE& c : draft_cases) {
        SCOPED_TRACE(std::string(c.dump) + " " + c.given_template);
        GFPDB_SFDP sfdp;
        std::string error;
        ASSERT_TRUE(gfpdb_sfdp_read_dump(
            read_text(source_dir + "/tests/data/sfdp/" + c.dump + ".hex"), &sfdp, &error));
        auto mgr = load();
        GFPDB_FLASH* flash = mgr->create_flash(std::string("D_") + c.dump);
        GFPDB_SFDP_DRAFT_INPUT input;
        input.id = c.id;
        input.voltage = c.voltage;
        input.template_name = c.given_template;
        GFPDB_SFDP_DRAFT draft;
        ASSERT_TRUE(gfpdb_sfdp_draft_device(mgr.get(), sfdp, input, flash, &draft, &error))
            << error;
        EXPECT_EQ(draft.template_name, c.template_name);
        EXPECT_EQ(flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4),
                  c.dummy_x4);
        for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
            std::string erases;
            bool enters = false;
            int qe_check = 0;
            uint32_t previous = 0;
            for (GFPDB_OPERATION* op : *flash->get_operation_list(flow))
                for (GFPDB_ACTION* action : *op->get_action_list()) {
                    // every type but Custom has its command second
                    const std::vector<GFPDB_ACT_PROPERTY> p = action->get_property_enum_list();
                    const GFPDB_ACT_TYPE type = action->get_action_type();
                    if (type == GFPDB_ACT_TYPE_CUSTOM)
                        continue;
                    const uint32_t opcode = action->get_property_value_in_dword(p[1]);
                    if (type == GFPDB_ACT_TYPE_ERASE)
                        erases +=
                            action->get_property_value(GFPDB_ACT_PROPERTY_ERASE_ERASE_SIZE) + " ";
                    if (type == GFPDB_ACT_TYPE_WRITE_REGISTER && opcode == 0xB7)
                        enters = op->get_operation_type() == GFPDB_OP_TYPE_INITIALIZATION;
                    // parts polled by flag status want a write enable before 0xB7 and 0xE9
                    if (type == GFPDB_ACT_TYPE_WRITE_REGISTER &&
                        (opcode == 0xB7 || opcode == 0xE9) && c.poll == 0x70) {
                        EXPECT_EQ(previous, 0x06u);
                    }
                    previous = opcode;
                    if (type == GFPDB_ACT_TYPE_READ_REGISTER &&
                        action->get_property_value(GFPDB_ACT_PROPERTY_READ_REG_NAME) ==
                            "Check quad enable")
                        qe_check = static_cast<int>(opcode);
                    if (type == GFPDB_ACT_TYPE_READ_REGISTER &&
                        action->get_property_value_in_dword(
                            GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT) > 1) {
                        EXPECT_EQ(opcode, uint32_t(c.poll));
                    }
                    if (type == GFPDB_ACT_TYPE_WRITE_DATA || type == GFPDB_ACT_TYPE_READ_DATA ||
                        type == GFPDB_ACT_TYPE_ERASE) {
                        const GFPDB_ACT_PROPERTY mode =
                            type == GFPDB_ACT_TYPE_WRITE_DATA
                                ? GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE
                            : type == GFPDB_ACT_TYPE_READ_DATA
                                ? GFPDB_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE
                                : GFPDB_ACT_PROPERTY_ERASE_ADDRESSING_MODE;
                        EXPECT_EQ(action->get_property_value_in_dword(mode), uint32_t(c.mode));
                        EXPECT_EQ(is_4byte_opcode(opcode), c.mode == 4 && !c.enters_4byte)
                            << std::hex << opcode;
                    }
                }
            EXPECT_EQ(erases, c.erases);
            EXPECT_EQ(enters, c.enters_4byte);
            EXPECT_EQ(qe_check, c.qe_check);
        }
        // Saving validates every value and property; the reloaded record is the draft.
        ASSERT_TRUE(mgr->update_db(flash, custom_dir()));
        EXPECT_TRUE(load()->device_exist_in_db(std::string("D_") + c.dump, true));
    }
}
