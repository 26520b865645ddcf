// The commands that change the database or the user settings: add, delete, delete-template,
// config custom-dir.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <ostream>

#include "cli/gfpdb_cli.h"
#include "pgm/gfpdb/gfpdb_qspi_adapt.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"

namespace gfpdb_cli {
namespace {

// One row per value of `add`: its option, the parameter the manager validates it as and where
// the option holds it, as text or as a number. Checked and stored in this order.
struct ADD_VALUE {
    const char* option;
    GFPDB_FLASH_PARAM param;
    std::string OPTIONS::*text;
    uint32_t OPTIONS::*number;
};
const ADD_VALUE add_values[] = {
    {"NAME", GFPDB_FLASH_PARAM_NAME, &OPTIONS::name, nullptr},
    {"--id", GFPDB_FLASH_PARAM_ID, &OPTIONS::id, nullptr},
    {"--voltage", GFPDB_FLASH_PARAM_IO_VOLTAGE, &OPTIONS::voltage, nullptr},
    {"--density", GFPDB_FLASH_PARAM_DENSITY, &OPTIONS::density, nullptr},
    {"--dies", GFPDB_FLASH_PARAM_TOTAL_DIE, nullptr, &OPTIONS::dies},
    {"--dummy", GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr, &OPTIONS::dummy},
    {"--dummy-x4", GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr, &OPTIONS::dummy_x4},
    {"--template", GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, &OPTIONS::template_name, nullptr},
    {"--save-template", GFPDB_FLASH_PARAM_TEMPLATE_NAME, &OPTIONS::save_template,
     nullptr},  // optional
};

bool is_given(const OPTIONS& options, const ADD_VALUE& value) {
    return value.param != GFPDB_FLASH_PARAM_TEMPLATE_NAME || !options.save_template.empty();
}

// Every value through the manager, so that one run names every rejected value, each once:
// the manager's explanation, then what is allowed instead.
bool add_values_are_valid(SESSION& session, GFPDB_MGR* manager, const OPTIONS& options) {
    bool valid = true;
    for (const ADD_VALUE& value : add_values) {
        if (!is_given(options, value))
            continue;
        std::string error;
        unsigned id = 0;
        session.capture([&](const POSTED& posted) { id = posted.id; }, nullptr);
        const bool accepted =
            value.text ? manager->is_parameter_valid(value.param, options.*value.text, &error)
                       : manager->is_parameter_valid(value.param, options.*value.number, &error);
        session.end_capture();
        if (!accepted) {
            std::string allowed = allowed_values(manager, id);
            if (value.text && (id == GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR ||
                               id == GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE ||
                               id == GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR))
                allowed += "; such as " + suggested_name(options.*value.text);
            print_error(std::string(value.option) + " rejected: " + error +
                            (allowed.empty() ? "" : " Allowed: " + allowed + "."),
                        id);
            valid = false;
        }
    }
    // The validator also accepts the flow template of the record last looked up; only a
    // template that exists has flows to copy.
    if (valid && !gfpdb_template_flow(manager, options.template_name, GFPDB_PROG_FLOW_TYPE_SFL)) {
        print_error("no programming-flow template '" + options.template_name +
                    "' (see gfpdb templates)");
        valid = false;
    }
    // The template is written after the device, and a template may not share a device's name.
    if (!options.save_template.empty() && options.save_template == options.name) {
        print_error("the template cannot take the device's own name '" + options.name + "'");
        valid = false;
    }
    return valid;
}

GFPDB_FLASH* build_device(GFPDB_MGR* manager, const OPTIONS& options) {
    GFPDB_FLASH* flash = manager->create_flash(options.name);
    for (const ADD_VALUE& value : add_values) {
        if (value.param == GFPDB_FLASH_PARAM_NAME || !is_given(options, value))
            continue;
        if (value.param == GFPDB_FLASH_PARAM_DENSITY)
            flash->set_density(options.density);
        else if (value.text)
            flash->set_parameter_value(value.param, options.*value.text);
        else
            flash->set_parameter_value(value.param, options.*value.number);
    }
    // The device owns copies: the template's operations stay the manager's.
    for (const auto& [key, flow] : chosen_flows("")) {
        std::vector<GFPDB_OPERATION*> copies;
        for (GFPDB_OPERATION* operation :
             *gfpdb_template_flow(manager, options.template_name, flow))
            copies.push_back(
                new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(operation)));
        flash->set_operation_list(copies, flow);
    }
    return flash;
}

void print_message(std::ostream& out, const JSON& document) {
    out << document["message"].get<std::string>() << '\n';
    if (document.contains("adapted"))
        for (const JSON& change : document["adapted"])
            out << "  " << change.get<std::string>() << '\n';
    if (document.contains("findings"))
        print_lint_findings(out, document["findings"]);
}
}  // namespace

int run_add(SESSION& session) {
    const OPTIONS& options = session.options;
    if (!options.sfdp.empty())
        return run_add_sfdp(session);
    if (options.density.empty() || options.template_name.empty()) {
        print_error("add needs --density and --template, or --sfdp to draft them");
        return EXIT_USAGE;
    }
    GFPDB_MGR* manager = session.qspi_manager();
    if (!add_values_are_valid(session, manager, options))
        return EXIT_REJECTED;

    JSON document = JSON::object();
    const int status = save_new_device(session, manager, build_device(manager, options), document);
    if (status == EXIT_OK)
        emit(session, document, print_message);
    return status;
}

// Why the file system refused, when it said: ": PATH: reason".
std::string failure_reason() {
    const std::string reason = FIO_FILE_SYSTEM::last_failure().describe();
    return reason.empty() ? reason : ": " + reason;
}

// Runs a save or delete; one that the library refused because the file holds records that
// did not load (the warning above names them) runs again with --force, after saying so.
template <typename CHANGE>
bool with_force(const OPTIONS& options, CHANGE change) {
    FIO_FILE_SYSTEM::clear_last_failure();
    if (change())
        return true;
    if (!options.force || FIO_FILE_SYSTEM::last_failure().error != 0)
        return false;
    print_error("--force: going on; what the warning above names is lost");
    cfg_set_value("pgm_gfpdb_overwrite_unloaded", true);
    const bool done = change();
    cfg_set_value("pgm_gfpdb_overwrite_unloaded", false);
    return done;
}

int save_new_device(SESSION& session, GFPDB_MGR* manager, GFPDB_FLASH* flash, JSON& document) {
    const OPTIONS& options = session.options;
    const std::string folder = options.to == "host" ? session.db_host_dir : session.custom_dir;
    if (folder.empty()) {
        print_error(
            "no custom folder is set: give --custom-dir DIR, store one with 'gfpdb "
            "config custom-dir DIR', or save with --to host");
        return EXIT_REJECTED;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);

    // The template's flows fitted to the chip, then checked against it before anything is
    // written. Listing the other devices moves the manager's current record off the new one,
    // which stays ours until update_db takes it.
    const std::vector<GFPDB_FLASH*> devices = database_devices(manager);
    manager->get_flash("", true);
    const std::vector<std::string> adapted = gfpdb_qspi_adapt_flash(flash);
    const JSON findings = lint_flash_json(session, flash, devices, false);
    if (lint_error_count(findings) && !options.force) {
        print_lint_findings(std::cerr, findings);
        print_error("'" + options.name + "' was not saved: its flows have lint errors (--force " +
                    "saves it anyway)");
        delete flash;
        return EXIT_REJECTED;
    }
    if (!with_force(options, [&] { return manager->update_db(flash, folder); })) {
        if (manager->device_exist_in_db(options.name, true))
            print_error("'" + options.name + "' was saved, but not its template '" +
                        options.save_template + "'" + failure_reason());
        else {
            print_error("could not save '" + options.name + "' in " + folder + failure_reason());
            delete flash;  // not the manager's current record any more, nor in its maps
        }
        return EXIT_REJECTED;
    }

    const std::string file = folder + "pgm_flash_" + options.name + ".xml";
    std::string message = "Added " + options.name + " to " + shown_path(file);
    document["added"] = options.name;
    document["file"] = file;
    document["template"] = nullptr;
    if (!adapted.empty())
        message +=
            "\nFitted the template's flows to " + flash->get_density() + " and " +
            std::to_string(flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE)) +
            " dummy cycles: " + std::to_string(adapted.size()) + " changes";
    document["adapted"] = adapted;
    document["findings"] = lint_flash_json(session, flash, devices, true);
    if (!options.save_template.empty()) {
        const std::string template_file =
            folder + "pgm_flash_template_" + options.save_template + ".xml";
        message += "\nSaved its flows as template " + options.save_template + " in " +
                   shown_path(template_file);
        document["template"] = {{"name", options.save_template}, {"file", template_file}};
    }
    document["message"] = message;
    return EXIT_OK;
}

int run_delete(SESSION& session) {
    const OPTIONS& options = session.options;
    const std::string& name = options.name;
    session.load();
    GFPDB_MGR* manager = GFPDB_HELPER::get_flash_manager(name, true, false);
    if (!manager) {
        print_error("no device '" + name + "' in the database (see gfpdb list)");
        return EXIT_REJECTED;
    }
    if (manager->device_is_legacy(name, true)) {
        print_error("'" + name + "' is a built-in device of the programmer, not a user device");
        return EXIT_REJECTED;
    }
    GFPDB_FLASH* flash = manager->get_flash(name, true);
    if (!flash->get_flash_removable_permission()) {
        print_error("'" + name + "' is a golden device and cannot be deleted");
        return EXIT_REJECTED;
    }
    const std::string active = SESSION::folder_of(flash);
    std::string folder = active;
    if (options.from == "host")
        folder = session.db_host_dir;
    if (options.from == "custom") {
        if (session.custom_dir.empty()) {
            print_error("no custom folder is set (see --custom-dir)");
            return EXIT_REJECTED;
        }
        folder = session.custom_dir;
    }
    // The manager deletes only the active definition; asking it to delete a host copy that a
    // custom one hides would stop the program.
    if (folder != active) {
        if (folder == session.db_host_dir)
            print_error("the active definition of '" + name + "' lies in the custom folder " +
                        active + "; delete it there first (--from custom) to reach a host copy");
        else
            print_error("the active definition of '" + name + "' lies in the host folder " +
                        active + ", not in the custom folder");
        return EXIT_REJECTED;
    }
    if (!with_force(options, [&] { return manager->delete_db(name, folder); })) {
        print_error("could not delete '" + name + "' from " + folder + failure_reason());
        return EXIT_REJECTED;
    }

    std::string message = "Deleted " + name + " from " + shown_path(folder);
    JSON document = {{"deleted", name}, {"folder", folder}, {"now_from", nullptr}};
    // A copy in the other folder, or a golden one, takes over at the next load.
    // What loading says again was said when the command started.
    session.capture([](const POSTED&) {}, nullptr);
    GFPDB_HELPER::refresh_flash_managers();
    session.end_capture();
    if (GFPDB_MGR* again = GFPDB_HELPER::get_flash_manager(name, true, false)) {
        GFPDB_FLASH* other = again->get_flash(name, true);
        const std::string source =
            again->device_is_legacy(name, true) ? "legacy" : session.source_of(other);
        message += "\n" + name + " now comes from the " + source + " definition";
        document["now_from"] = source;
    }
    document["message"] = message;
    emit(session, document, print_message);
    return EXIT_OK;
}

int run_delete_template(SESSION& session) {
    const std::string& name = session.options.name;
    GFPDB_MGR* manager = session.qspi_manager();
    const std::vector<std::string> user = manager->get_user_template_list();
    if (std::find(user.begin(), user.end(), name) == user.end()) {
        print_error(gfpdb_template_flow(manager, name, GFPDB_PROG_FLOW_TYPE_SFL)
                        ? "'" + name + "' is a golden template and cannot be deleted"
                        : "no user template '" + name + "' (see gfpdb templates)");
        return EXIT_REJECTED;
    }
    // Deleting by name reaches a device of that name first.
    if (manager->device_exist_in_db(name, true)) {
        print_error("a device is named '" + name +
                    "' too; the template cannot be deleted without touching the device");
        return EXIT_REJECTED;
    }
    if (!manager->delete_template(name)) {
        print_error("could not delete the template '" + name + "'");
        return EXIT_REJECTED;
    }
    emit(session, {{"deleted_template", name}, {"message", "Deleted template " + name}},
         print_message);
    return EXIT_OK;
}

int run_config_custom_dir(SESSION& session) {
    const std::string& dir = session.options.dir;
    if (!dir.empty()) {
        std::error_code error;
        const std::string folder = std::filesystem::absolute(dir, error).lexically_normal();
        std::filesystem::create_directories(folder, error);
        if (!GFPDB_MGR::save_custom_dir_to_ini(folder, false)) {
            print_error("could not store '" + folder + "' in " + cfg_get_user_ini_file());
            return EXIT_REJECTED;
        }
    }
    const std::string stored = cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR);
    const JSON document = {{"custom_folder", stored.empty() ? JSON() : JSON(stored)},
                           {"settings_file", cfg_get_user_ini_file()}};
    emit(session, document, [](std::ostream& out, const JSON& shown) {
        print_fields(
            out, "",
            {{"Custom folder", shown["custom_folder"].is_null()
                                   ? "not set"
                                   : shown_path(shown["custom_folder"].get<std::string>())},
             {"Settings file", shown_path(shown["settings_file"].get<std::string>())}});
    });
    return EXIT_OK;
}

}  // namespace gfpdb_cli
