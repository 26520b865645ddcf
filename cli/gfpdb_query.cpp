// The commands that only read the database: families, list, show, templates, show-template.
#include <algorithm>
#include <map>
#include <ostream>

#include "cli/gfpdb_cli.h"

namespace gfpdb_cli {
namespace {

template <typename T>
bool contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The host's built-in flash devices and their I/O voltages; a later line of a name wins, as
// in the QSPI manager.
const std::map<std::string, std::string>& built_in_voltages() {
    static const std::map<std::string, std::string> voltages = [] {
        std::map<std::string, std::string> found;
        const PGMDEV_FLASH_MANAGER flashes(true, 1, false, false);
        for (size_t i = 0; i < flashes.get_flash_count(); ++i)
            found[flashes.get_flash(i).get_name()] = flashes.get_flash(i).get_io_voltage();
        return found;
    }();
    return voltages;
}

JSON built_in_voltage(const std::string& name) {
    const auto found = built_in_voltages().find(name);
    return found == built_in_voltages().end() ? JSON() : JSON(found->second);
}

const std::vector<COLUMN> device_columns = {{"NAME", "name"},      {"ID", "id"},
                                            {"I/O", "io_voltage"}, {"SIZE", "density"},
                                            {"DIES", "dies"},      {"TEMPLATE", "template"},
                                            {"FROM", "source"},    {"REMOVABLE", "removable"}};

// How `show` reads each parameter of a record: name and density belong to the record itself.
enum VALUE_KIND { VALUE_TEXT, VALUE_NUMBER, VALUE_NAME, VALUE_DENSITY };
struct PARAMETER_ROW {
    GFPDB_FLASH_PARAM param;
    const char* key;
    const char* label;
    VALUE_KIND kind;
};
const PARAMETER_ROW parameter_rows[] = {
    {GFPDB_FLASH_PARAM_NAME, "name", "Name", VALUE_NAME},
    {GFPDB_FLASH_PARAM_ID, "id", "ID", VALUE_TEXT},
    {GFPDB_FLASH_PARAM_IO_VOLTAGE, "io_voltage", "I/O voltage", VALUE_TEXT},
    {GFPDB_FLASH_PARAM_DENSITY, "density", "Density", VALUE_DENSITY},
    {GFPDB_FLASH_PARAM_TOTAL_DIE, "total_die", "Total dies", VALUE_NUMBER},
    {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, "dummy_clock_cycle", "Dummy clock cycles", VALUE_NUMBER},
    {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, "dummy_clock_cycle_x4", "Dummy clock cycles (x4)",
     VALUE_NUMBER},
    {GFPDB_FLASH_PARAM_TEMPLATE_NAME, "template_name", "Template name", VALUE_TEXT},
    {GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, "prog_flow_template", "Programming flow template",
     VALUE_TEXT},
};

JSON parameter_value(GFPDB_FLASH* flash, const PARAMETER_ROW& row) {
    switch (row.kind) {
        case VALUE_NAME:
            return flash->get_name();
        case VALUE_DENSITY:
            return flash->get_density();
        case VALUE_NUMBER:
            return flash->get_parameter_value_in_dword(row.param);
        case VALUE_TEXT:
            break;
    }
    return flash->get_parameter_value(row.param);
}

std::string flow_title(const std::string& key) {
    return key == "sfl" ? "SFL flow" : "SDM flow";
}

void print_flows(std::ostream& out, const JSON& flows) {
    for (const auto& [key, flow] : flows.items()) {
        out << '\n';
        print_flow(out, flow_title(key), flow);
    }
}

void print_device(std::ostream& out, const JSON& device) {
    out << device["name"].get<std::string>() << " (" << device["flash"].get<std::string>() << ", "
        << device["source"].get<std::string>() << ", "
        << (device["removable"].get<bool>() ? "removable" : "not removable") << ")\n";
    if (device["source"] == "legacy") {
        print_fields(out, "  ", {{"I/O voltage", cell_text(device["io_voltage"])}});
        out << "A built-in device of the programmer: its parameters and flows are the "
               "programmer's\nown, not the database's.\n";
        return;
    }
    std::vector<std::pair<std::string, std::string>> fields;
    for (const PARAMETER_ROW& row : parameter_rows)
        if (device["parameters"].contains(row.key))
            fields.emplace_back(row.label, cell_text(device["parameters"][row.key]));
    fields.emplace_back("Generic name", device["generic_name"].get<std::string>());
    fields.emplace_back("Folder", shown_path(device["folder"].get<std::string>()));
    print_fields(out, "  ", fields);
    print_flows(out, device["flows"]);
    if (device.contains("findings") && !device["findings"].empty()) {
        out << "Lint\n";
        print_lint_findings(out, device["findings"]);
    }
}
}  // namespace

JSON device_row(const SESSION& session, GFPDB_FLASH* flash) {
    return {{"name", flash->get_name()},
            {"id", flash->get_parameter_value(GFPDB_FLASH_PARAM_ID)},
            {"io_voltage", flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE)},
            {"density", flash->get_density()},
            {"dies", flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE)},
            {"template", flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE)},
            {"source", session.source_of(flash)},
            {"removable", flash->get_flash_removable_permission()},
            {"folder", SESSION::folder_of(flash)}};
}

// A device the programmer knows by itself: the database holds nothing of it but its name.
JSON legacy_row(const std::string& name) {
    return {{"name", name},       {"id", nullptr},      {"io_voltage", built_in_voltage(name)},
            {"density", nullptr}, {"dies", nullptr},    {"template", nullptr},
            {"source", "legacy"}, {"removable", false}, {"folder", nullptr}};
}

JSON device_json(const SESSION& session, GFPDB_MGR* manager, GFPDB_FLASH* flash) {
    JSON device = device_row(session, flash);
    JSON parameters = JSON::object();
    for (const PARAMETER_ROW& row : parameter_rows)
        if (manager->is_parameter_valid(row.param))
            parameters[row.key] = parameter_value(flash, row);
    device["parameters"] = parameters;
    device["generic_name"] = flash->get_generic_name();
    device["density_bytes"] = flash->get_density_in_bytes_qword();
    JSON flows = JSON::object();
    // SD/MMC devices have no flows; asking for one would stop the program.
    if (manager->is_flash_operation_supported())
        for (const auto& [key, flow] : chosen_flows(session.options.flow))
            flows[key] = flow_json(flash->get_operation_list(flow));
    device["flows"] = flows;
    device["flash"] = flash_kind_name(manager);
    return device;
}

void print_shown_device(std::ostream& out, const JSON& device) {
    print_device(out, device);
}

int run_families(SESSION& session) {
    JSON rows = JSON::array();
    // No device is needed here, so no database is loaded.
    for (const auto& [flash_family, families] : GFPDB_HELPER::get_device_families()) {
        for (DEV_FAMILY_ENUM family : families) {
            const PGMDEV_DEVICE_INFO* info = family_info(family);
            rows.push_back({{"family", static_cast<int>(family)},
                            {"name", info ? info->get_name() : ""},
                            {"flash", flash_kind_name(flash_family)},
                            {"io_voltage", info ? info->get_flash_io_voltage() : ""},
                            {"flow", info && info->is_sdm_flow() ? "SDM" : "SFL"}});
        }
    }
    emit(session, {{"families", rows}}, [](std::ostream& out, const JSON& shown) {
        print_table(out,
                    {{"FAMILY", "family"},
                     {"NAME", "name"},
                     {"FLASH", "flash"},
                     {"I/O VOLTAGE", "io_voltage"},
                     {"FLOW", "flow"}},
                    shown["families"]);
    });
    return EXIT_OK;
}

int run_list(SESSION& session) {
    const OPTIONS& options = session.options;
    DEV_FAMILY_ENUM family = DEV_FAMILY_NONE;
    if (!options.family.empty()) {
        family = parse_family(options.family);
        if (family == DEV_FAMILY_NONE) {
            print_error("unknown device family '" + options.family + "' (see gfpdb families)");
            return EXIT_USAGE;
        }
    }
    PGMIO_CONFIG_SCHEME scheme = PGMIO_CONFIG_SCHEME_NONE;
    if (!options.scheme.empty()) {
        bool ok = false;
        scheme = static_cast<PGMIO_CONFIG_SCHEME>(
            PGM_COMMON::convert_string_to_dword(options.scheme, true, &ok));
        if (!ok || scheme == PGMIO_CONFIG_SCHEME_NONE) {
            print_error("the scheme must be a configuration scheme number, not '" + options.scheme +
                        "'");
            return EXIT_USAGE;
        }
    }

    JSON lists = JSON::array();
    for (GFPDB_MGR* manager : session.managers()) {
        if (family != DEV_FAMILY_NONE && !contains(manager->get_device_family_list(), family))
            continue;
        if (scheme != PGMIO_CONFIG_SCHEME_NONE &&
            !contains(manager->get_config_mode_list(), scheme))
            continue;
        // Without a family every device is listed, as the unfiltered lists give them.
        const bool show_all = options.all || family == DEV_FAMILY_NONE;
        const DEV_FAMILY_ENUM list_family =
            family != DEV_FAMILY_NONE ? family : manager->get_active_device_family();
        const PGMIO_CONFIG_SCHEME list_scheme =
            scheme != PGMIO_CONFIG_SCHEME_NONE ? scheme : manager->get_active_config_mode();

        JSON devices = JSON::array();
        std::vector<std::string> legacy =
            manager->get_legacy_config_device_list(list_family, list_scheme, show_all);
        for (const std::string& name :
             manager->get_new_config_device_list(list_family, list_scheme, show_all)) {
            // A database record named like a built-in device stands behind it.
            if (!manager->device_is_legacy(name, true))
                devices.push_back(device_row(session, manager->get_flash(name, true)));
            else if (!contains(legacy, name))
                legacy.push_back(name);
        }
        for (const std::string& name : legacy)
            devices.push_back(legacy_row(name));
        lists.push_back(
            {{"flash", flash_kind_name(manager)},
             {"family", family != DEV_FAMILY_NONE ? JSON(static_cast<int>(family)) : JSON()},
             {"family_name", family != DEV_FAMILY_NONE ? JSON(family_label(family)) : JSON()},
             {"scheme", family != DEV_FAMILY_NONE ? JSON(static_cast<int>(list_scheme)) : JSON()},
             {"filtered", !show_all},
             {"devices", devices}});
    }
    if (lists.empty()) {
        print_error("no flash manager serves " + family_label(family) +
                    (scheme != PGMIO_CONFIG_SCHEME_NONE
                         ? " with scheme " + std::to_string(static_cast<int>(scheme))
                         : std::string()) +
                    " (see gfpdb families)");
        return EXIT_USAGE;
    }

    if (options.names) {
        for (const JSON& list : lists)
            print_names(list["devices"]);
        return EXIT_OK;
    }
    const JSON document = {
        {"host_folder", session.db_host_dir},
        {"custom_folder", session.custom_dir.empty() ? JSON() : JSON(session.custom_dir)},
        {"lists", lists}};
    emit(session, document, [](std::ostream& out, const JSON& shown) {
        bool first = true;
        for (const JSON& list : shown["lists"]) {
            if (!first)
                out << '\n';
            first = false;
            out << list["flash"].get<std::string>() << " devices";
            if (list["family"].is_null())
                out << ", all families";
            else
                out << " for " << list["family_name"].get<std::string>() << ", scheme "
                    << list["scheme"].get<int>()
                    << (list["filtered"].get<bool>() ? "" : ", not filtered by I/O voltage");
            out << ":\n";
            print_table(out, device_columns, list["devices"]);
        }
    });
    return EXIT_OK;
}

int run_show(SESSION& session) {
    const std::string& name = session.options.name;
    session.load();
    GFPDB_MGR* manager = GFPDB_HELPER::get_flash_manager(name, true, false);
    if (!manager) {
        print_error("no device '" + name + "' in the database (see gfpdb list)");
        return EXIT_REJECTED;
    }
    JSON device;
    if (manager->device_is_legacy(name, true)) {
        device = legacy_row(name);
    } else {
        GFPDB_FLASH* flash = manager->get_flash(name, true);
        device = device_json(session, manager, flash);
        if (manager->is_flash_operation_supported())
            device["findings"] = lint_flash_json(session, flash, database_devices(manager), true);
    }
    device["flash"] = flash_kind_name(manager);
    emit(session, device, print_device);
    return EXIT_OK;
}

int run_templates(SESSION& session) {
    GFPDB_MGR* manager = session.qspi_manager();
    std::map<std::string, int> users;
    for (const std::string& device : manager->get_new_config_device_list(
             manager->get_active_device_family(), manager->get_active_config_mode(), true))
        if (!manager->device_is_legacy(device, true))
            ++users[manager->get_flash(device, true)
                        ->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE)];

    const std::vector<std::string> user_templates = manager->get_user_template_list();
    JSON rows = JSON::array();
    for (const std::string& name : manager->get_prog_flow_template_list()) {
        JSON row = {{"name", name}, {"kind", contains(user_templates, name) ? "user" : "golden"}};
        for (const auto& [key, flow] : chosen_flows("")) {
            size_t actions = 0;
            for (GFPDB_OPERATION* operation : *gfpdb_template_flow(manager, name, flow))
                actions += operation->get_action_list()->size();
            row[key + "_actions"] = actions;
        }
        row["devices"] = users[name];
        rows.push_back(row);
    }
    if (session.options.names) {
        print_names(rows);
        return EXIT_OK;
    }
    emit(session, {{"templates", rows}}, [](std::ostream& out, const JSON& shown) {
        print_table(out,
                    {{"NAME", "name"},
                     {"KIND", "kind"},
                     {"SFL ACTIONS", "sfl_actions"},
                     {"SDM ACTIONS", "sdm_actions"},
                     {"DEVICES", "devices"}},
                    shown["templates"]);
    });
    return EXIT_OK;
}

int run_show_template(SESSION& session) {
    GFPDB_MGR* manager = session.qspi_manager();
    const std::string& name = session.options.name;
    if (!gfpdb_template_flow(manager, name, GFPDB_PROG_FLOW_TYPE_SFL)) {
        print_error("no programming-flow template '" + name + "' (see gfpdb templates)");
        return EXIT_REJECTED;
    }
    JSON flows = JSON::object();
    for (const auto& [key, flow] : chosen_flows(session.options.flow))
        flows[key] = flow_json(gfpdb_template_flow(manager, name, flow));
    const bool user = contains(manager->get_user_template_list(), name);
    const JSON document = {{"name", name}, {"kind", user ? "user" : "golden"}, {"flows", flows}};
    emit(session, document, [](std::ostream& out, const JSON& shown) {
        out << shown["name"].get<std::string>() << " (" << shown["kind"].get<std::string>()
            << " template)\n";
        print_flows(out, shown["flows"]);
    });
    return EXIT_OK;
}

}  // namespace gfpdb_cli
