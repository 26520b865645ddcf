// gfpdb sfdp FILE: what a chip's SFDP dump says, for people or as JSON.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>

#include "cli/gfpdb_cli.h"
#include "pgm/gfpdb/gfpdb_sfdp.h"
#include "pgm/gfpdb/gfpdb_sfdp_draft.h"

namespace gfpdb_cli {
namespace {

std::string hex_byte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

std::string size_cell(uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " B";
}

JSON or_null(uint64_t value) {
    return value ? JSON(value) : JSON();
}

// One row per entry method to 4-byte addressing, named as the JSON lists them.
struct ENTER_ROW {
    GFPDB_SFDP_ENTER_4B bit;
    const char* name;
};
const ENTER_ROW enter_rows[] = {
    {GFPDB_SFDP_ENTER_4B_B7, "B7"},
    {GFPDB_SFDP_ENTER_4B_WREN_B7, "06+B7"},
    {GFPDB_SFDP_ENTER_4B_EXT_ADDR_REG, "ext-addr-register"},
    {GFPDB_SFDP_ENTER_4B_BANK_REG, "bank-register"},
    {GFPDB_SFDP_ENTER_4B_NV_CONFIG_REG, "nv-config"},
    {GFPDB_SFDP_ENTER_4B_DEDICATED_OPCODES, "4-byte-opcodes"},
    {GFPDB_SFDP_ENTER_4B_ALWAYS, "always"},
};

JSON sfdp_json(const GFPDB_SFDP& sfdp) {
    JSON erase_types = JSON::array();
    for (const GFPDB_SFDP_ERASE& erase : sfdp.erase_types) {
        JSON row = {{"size", erase.size},
                    {"opcode", hex_byte(erase.opcode)},
                    {"opcode_4byte", erase.opcode_4b ? JSON(hex_byte(erase.opcode_4b)) : JSON()},
                    {"typical_ms", or_null(erase.typical_ms)},
                    {"max_ms", or_null(erase.max_ms)}};
        erase_types.push_back(row);
    }
    JSON reads = JSON::array();
    for (const GFPDB_SFDP_READ& read : sfdp.reads)
        reads.push_back({{"mode", read.mode},
                         {"opcode", hex_byte(read.opcode)},
                         {"dummy", read.mode_clocks + read.wait_states},
                         {"mode_clocks", read.mode_clocks},
                         {"wait_states", read.wait_states}});
    JSON enter = JSON::array();
    for (const ENTER_ROW& row : enter_rows)
        if (sfdp.enter_4b & row.bit)
            enter.push_back(row.name);
    const std::string density = sfdp.density_text();
    const std::string poll = sfdp.poll_text();
    JSON document = {
        {"density", density.empty() ? JSON() : JSON(density)},
        {"density_bytes", sfdp.density_bytes},
        {"address_bytes", sfdp.address_bytes_text()},
        {"page_size", or_null(sfdp.page_size)},
        {"erase_types", erase_types},
        {"reads", reads},
        {"poll", poll.empty() ? JSON() : JSON(poll)},
        {"quad_enable", sfdp.quad_enable < 0 ? JSON() : JSON(sfdp.quad_enable)},
        {"warnings", sfdp.warnings},
        {"enter_4byte", enter},
        {"table_4byte", sfdp.has_4bait},
        {"soft_reset_66_99", (sfdp.soft_reset & 0x10) != 0},
        {"page_program_us",
         {{"typical", or_null(sfdp.page_program_typical_us)},
          {"max", or_null(sfdp.page_program_max_us)}}},
        {"chip_erase_ms",
         {{"typical", or_null(sfdp.chip_erase_typical_ms)},
          {"max", or_null(sfdp.chip_erase_max_ms)}}},
        {"revision", sfdp.has_header ? JSON(std::to_string(sfdp.sfdp_major) + "." +
                                            std::to_string(sfdp.sfdp_minor))
                                     : JSON()},
        {"bfpt_revision", sfdp.has_header ? JSON(std::to_string(sfdp.bfpt_major) + "." +
                                                 std::to_string(sfdp.bfpt_minor))
                                          : JSON()},
        {"bfpt_dwords", sfdp.bfpt_dwords},
    };
    return document;
}

std::string list_text(const JSON& list) {
    std::string text;
    for (const JSON& item : list)
        text += (text.empty() ? "" : ", ") + item.get<std::string>();
    return text.empty() ? "-" : text;
}

void print_sfdp(std::ostream& out, const JSON& shown) {
    std::string tables = "basic table alone";
    if (!shown["revision"].is_null())
        tables = "SFDP " + shown["revision"].get<std::string>() + ", basic table " +
                 shown["bfpt_revision"].get<std::string>();
    tables += " of " + std::to_string(shown["bfpt_dwords"].get<unsigned>()) + " DWORDs";
    if (shown["table_4byte"].get<bool>())
        tables += ", 4-byte table";
    const JSON& pp = shown["page_program_us"];
    print_fields(
        out, "",
        {{"Tables", tables},
         {"Density", cell_text(shown["density"]) + " (" +
                         std::to_string(shown["density_bytes"].get<uint64_t>()) + " bytes)"},
         {"Address bytes", shown["address_bytes"].get<std::string>()},
         {"4-byte entry", list_text(shown["enter_4byte"])},
         {"Page size", cell_text(shown["page_size"])},
         {"Page program", pp["typical"].is_null() ? "-"
                                                  : cell_text(pp["typical"]) + " us typical, " +
                                                        cell_text(pp["max"]) + " us max"},
         {"Busy poll", cell_text(shown["poll"])},
         {"Quad enable", cell_text(shown["quad_enable"])}});
    JSON erase_rows = JSON::array();
    for (const JSON& erase : shown["erase_types"]) {
        JSON row = erase;
        row["size_text"] = size_cell(erase["size"].get<uint64_t>());
        erase_rows.push_back(row);
    }
    out << "\nErase types\n";
    print_table(out,
                {{"Size", "size_text"},
                 {"Opcode", "opcode"},
                 {"4-byte", "opcode_4byte"},
                 {"Typical ms", "typical_ms"},
                 {"Max ms", "max_ms"}},
                erase_rows);
    out << "\nFast reads\n";
    print_table(out,
                {{"Mode", "mode"},
                 {"Opcode", "opcode"},
                 {"Mode clocks", "mode_clocks"},
                 {"Wait states", "wait_states"},
                 {"Dummy", "dummy"}},
                shown["reads"]);
    if (!shown["warnings"].empty()) {
        out << "\nWarnings\n";
        for (const JSON& warning : shown["warnings"])
            print_text(out, "  ", "    ", warning.get<std::string>());
    }
}
// One row per value the user gives beside the dump, checked before anything is drafted.
struct GIVEN_VALUE {
    const char* option;
    GFPDB_FLASH_PARAM param;
    std::string OPTIONS::*text;
};
const GIVEN_VALUE given_values[] = {
    {"NAME", GFPDB_FLASH_PARAM_NAME, &OPTIONS::name},
    {"--id", GFPDB_FLASH_PARAM_ID, &OPTIONS::id},
    {"--voltage", GFPDB_FLASH_PARAM_IO_VOLTAGE, &OPTIONS::voltage},
    {"--save-template", GFPDB_FLASH_PARAM_TEMPLATE_NAME, &OPTIONS::save_template},
};

// The drafted values through the same validators as typed ones.
struct DRAFTED_VALUE {
    const char* what;
    GFPDB_FLASH_PARAM param;
};
const DRAFTED_VALUE drafted_values[] = {
    {"density", GFPDB_FLASH_PARAM_DENSITY},
    {"die count", GFPDB_FLASH_PARAM_TOTAL_DIE},
    {"dummy clock cycles", GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE},
    {"x4 dummy clock cycles", GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4},
    {"template", GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE},
};

bool drafted_values_are_valid(GFPDB_MGR* manager, GFPDB_FLASH* flash) {
    bool valid = true;
    for (const DRAFTED_VALUE& value : drafted_values) {
        std::string error;
        const bool accepted =
            value.param == GFPDB_FLASH_PARAM_DENSITY
                ? manager->is_parameter_valid(value.param, flash->get_density(), &error)
            : value.param == GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE
                ? manager->is_parameter_valid(value.param, flash->get_parameter_value(value.param),
                                              &error)
                : manager->is_parameter_valid(
                      value.param, flash->get_parameter_value_in_dword(value.param), &error);
        if (!accepted) {
            print_error(std::string("drafted ") + value.what + " rejected: " + error);
            valid = false;
        }
    }
    return valid;
}

void print_draft(std::ostream& out, const JSON& shown) {
    print_table(out, {{"Value", "what"}, {"Drafted", "value"}, {"From", "source"}},
                shown["drafted"]);
    bool noted = false;
    for (const JSON& row : shown["drafted"])
        if (!row["note"].get<std::string>().empty()) {
            if (!noted)
                out << "\nNotes\n";
            noted = true;
            print_text(out, "  ", "    ",
                       row["what"].get<std::string>() + ": " + row["note"].get<std::string>());
        }
    if (!shown["warnings"].empty()) {
        out << "\nSFDP warnings\n";
        for (const JSON& warning : shown["warnings"])
            print_text(out, "  ", "    ", warning.get<std::string>());
    }
    if (shown.contains("device")) {
        out << '\n';
        print_shown_device(out, shown["device"]);
    }
    if (shown.contains("message"))
        out << '\n' << shown["message"].get<std::string>() << '\n';
}
}  // namespace

bool read_sfdp_file(const std::string& path, GFPDB_SFDP* sfdp) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        print_error("cannot read " + path);
        return false;
    }
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    std::string error;
    if (!gfpdb_sfdp_read_dump(content, sfdp, &error)) {
        print_error(path + ": " + error);
        return false;
    }
    return true;
}

int run_sfdp(SESSION& session) {
    GFPDB_SFDP sfdp;
    if (!read_sfdp_file(session.options.sfdp, &sfdp))
        return EXIT_REJECTED;
    emit(session, sfdp_json(sfdp), print_sfdp);
    return EXIT_OK;
}

}  // namespace gfpdb_cli

namespace gfpdb_cli {

int run_add_sfdp(SESSION& session) {
    const OPTIONS& options = session.options;
    GFPDB_SFDP sfdp;
    if (!read_sfdp_file(options.sfdp, &sfdp))
        return EXIT_REJECTED;
    GFPDB_MGR* manager = session.qspi_manager();
    bool valid = true;
    for (const GIVEN_VALUE& value : given_values) {
        std::string error;
        const std::string& text = options.*value.text;
        if (value.param == GFPDB_FLASH_PARAM_TEMPLATE_NAME && text.empty())
            continue;
        if (!manager->is_parameter_valid(value.param, text, &error)) {
            print_error(std::string(value.option) + " rejected: " + error);
            valid = false;
        }
    }
    if (!valid)
        return EXIT_REJECTED;

    GFPDB_SFDP_DRAFT_INPUT input;
    input.id = options.id;
    input.voltage = options.voltage;
    input.density = options.density;
    input.dies = options.dies_given ? static_cast<int>(options.dies) : -1;
    input.dummy = options.dummy_given ? static_cast<int>(options.dummy) : -1;
    input.dummy_x4 = options.dummy_x4_given ? static_cast<int>(options.dummy_x4) : -1;
    input.template_name = options.template_name;
    GFPDB_FLASH* flash = manager->create_flash(options.name);
    GFPDB_SFDP_DRAFT draft;
    std::string error;
    if (!gfpdb_sfdp_draft_device(manager, sfdp, input, flash, &draft, &error)) {
        print_error(options.sfdp + ": " + error);
        return EXIT_REJECTED;
    }
    if (!options.save_template.empty())
        flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, options.save_template);
    if (!drafted_values_are_valid(manager, flash))
        return EXIT_REJECTED;

    JSON rows = JSON::array();
    for (const GFPDB_SFDP_DRAFT_VALUE& value : draft.report)
        rows.push_back({{"what", value.what},
                        {"value", value.value},
                        {"source", value.source},
                        {"note", value.note}});
    JSON document = {{"drafted", rows}, {"warnings", sfdp.warnings}};
    if (options.dry_run) {
        JSON device = device_json(session, manager, flash);
        device["source"] = "draft";
        device["removable"] = true;
        device["folder"] = "not saved";
        document["device"] = device;
        emit(session, document, print_draft);
        return EXIT_OK;
    }
    const int status = save_new_device(session, manager, flash, document);
    if (status == EXIT_OK)
        emit(session, document, print_draft);
    return status;
}

}  // namespace gfpdb_cli
