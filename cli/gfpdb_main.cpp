// The gfpdb command: parses the command line and runs one subcommand.
#include <algorithm>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/gfpdb_cli.h"
#include "pgm/gfpdb/gfpdb_version.h"

namespace {
using namespace gfpdb_cli;

void define_none(CLI::App&, OPTIONS&) {}

void define_list(CLI::App& command, OPTIONS& options) {
    CLI::Option* family =
        command.add_option("--family", options.family, "Device family, by number or name");
    command.add_option("--scheme", options.scheme, "Configuration scheme number")->needs(family);
    command.add_flag("--all", options.all, "Do not filter by the family's flash I/O voltage");
    command.add_flag("--names", options.names, "Only the device names, one a line");
}

void define_templates(CLI::App& command, OPTIONS& options) {
    command.add_flag("--names", options.names, "Only the template names, one a line");
}

void define_flow(CLI::App& command, OPTIONS& options) {
    command.add_option("--flow", options.flow, "Only this programming flow (default: both)")
        ->check(CLI::IsMember({"sfl", "sdm"}));
}

void define_show(CLI::App& command, OPTIONS& options) {
    command.add_option("NAME", options.name, "Device name")->required();
    define_flow(command, options);
}

void define_show_template(CLI::App& command, OPTIONS& options) {
    command.add_option("NAME", options.name, "Template name (see 'gfpdb templates')")->required();
    define_flow(command, options);
}

void define_disable(CLI::App& command, OPTIONS& options) {
    command.add_option("--disable", options.disable, "Turn a lint rule off (repeatable)")
        ->allow_extra_args(false);
}

void define_check(CLI::App& command, OPTIONS& options) {
    command.add_option("PATH", options.paths, "Files, or folders of pgm_flash_*.xml files")
        ->required();
    command.add_flag("--no-lint", options.no_lint, "Do not lint the flows of the files");
    define_disable(command, options);
}

void define_lint(CLI::App& command, OPTIONS& options) {
    command.add_option("PATH", options.paths,
                       "Files, or folders of pgm_flash_*.xml files (default: the whole database)");
    define_disable(command, options);
    command.add_flag("--sarif", options.sarif, "SARIF 2.1.0 output for code scanning");
}

const char* const force_help = "Delete even when the file holds records that did not load";

void define_add(CLI::App& command, OPTIONS& options) {
    command.add_option("NAME", options.name, "New device name")->required();
    command.add_option("--id", options.id, "ID bytes, such as \"0xEF 0x40 0x18\"")->required();
    command.add_option("--voltage", options.voltage, "I/O voltage: 1.8V or 3.0V/3.3V")->required();
    command.add_option("--density", options.density,
                       "1Mb, 2Mb, 4Mb ... 2048Mb; needed without --sfdp");
    command.add_option("--dies", options.dies, "Number of dies")
        ->capture_default_str()
        ->each([&options](const std::string&) { options.dies_given = true; });
    command.add_option("--dummy", options.dummy, "Dummy clock cycles of reads")
        ->capture_default_str()
        ->each([&options](const std::string&) { options.dummy_given = true; });
    command.add_option("--dummy-x4", options.dummy_x4, "Dummy clock cycles of x4 reads")
        ->capture_default_str()
        ->each([&options](const std::string&) { options.dummy_x4_given = true; });
    command.add_option("--template", options.template_name,
                       "Template of the flows; needed without --sfdp");
    command.add_option("--sfdp", options.sfdp, "Draft the device from this SFDP dump of the chip");
    command.add_flag("--dry-run", options.dry_run, "With --sfdp: show the draft, save nothing");
    command.add_option("--save-template", options.save_template,
                       "Also save the flows as this user template");
    command.add_flag("--force", options.force, "Save despite lint errors or unloaded records");
    command.add_option("--to", options.to, "Folder to save into")
        ->capture_default_str()
        ->check(CLI::IsMember({"host", "custom"}));
}

void define_delete(CLI::App& command, OPTIONS& options) {
    command.add_option("NAME", options.name, "Device name")->required();
    command.add_option("--from", options.from, "Folder to delete from (default: the active one)")
        ->check(CLI::IsMember({"host", "custom"}));
    command.add_flag("--force", options.force, force_help);
}

void define_delete_template(CLI::App& command, OPTIONS& options) {
    command.add_option("NAME", options.name, "User template name")->required();
}

void define_custom_dir(CLI::App& command, OPTIONS& options) {
    command.add_option("DIR", options.dir, "Folder to store (created when missing)");
}

void define_sfdp(CLI::App& command, OPTIONS& options) {
    command.add_option("FILE", options.sfdp, "SFDP dump: binary, hexdump -C, xxd or plain hex")
        ->required();
}

void define_serve(CLI::App& command, OPTIONS& options) {
    command.add_option("--port", options.port, "Port on 127.0.0.1 (default: any free one)")
        ->check(CLI::Range(1, 65535));
    command.add_flag("--open", options.open, "Open the page in the desktop's browser");
}

// Groups of subcommands that take a subcommand of their own.
struct GROUP {
    const char* name;
    const char* help;
};
const GROUP groups[] = {
    {"config", "Show or store user settings"},
};

// One row per subcommand: where it sits, what it is for, its own options and what runs it.
struct COMMAND {
    const char* group;  // nullptr: directly under gfpdb
    const char* name;
    const char* help;
    void (*define)(CLI::App& command, OPTIONS& options);
    int (*run)(SESSION& session);
};
const COMMAND commands[] = {
    {nullptr, "families", "Device families with flash I/O voltage and flow", define_none,
     run_families},
    {nullptr, "list", "Devices usable with a family and scheme", define_list, run_list},
    {nullptr, "show", "A device's parameters and programming flows", define_show, run_show},
    {nullptr, "templates", "Golden and user programming-flow templates", define_templates,
     run_templates},
    {nullptr, "show-template", "The two flows of a programming-flow template", define_show_template,
     run_show_template},
    {nullptr, "check", "Check database files as loading them would", define_check, run_check},
    {nullptr, "lint", "Lint flows against the chips they program", define_lint, run_lint},
    {nullptr, "add", "Add a QSPI device with a template's flows", define_add, run_add},
    {nullptr, "delete", "Delete a user device", define_delete, run_delete},
    {nullptr, "delete-template", "Delete a user template", define_delete_template,
     run_delete_template},
    {nullptr, "sfdp", "Decode a chip's SFDP dump", define_sfdp, run_sfdp},
    {nullptr, "serve", "The device editor as a local web page", define_serve, run_serve},
    {"config", "custom-dir", "Show or store the custom folder", define_custom_dir,
     run_config_custom_dir},
};

std::string check_setting(const std::string& text) {
    const size_t equal = text.find('=');
    if (equal == 0 || equal == std::string::npos)
        return "expected NAME=on or NAME=off, got '" + text + "'";
    const std::string value = text.substr(equal + 1);
    return value == "on" || value == "off" ? std::string()
                                           : "the value of '" + text + "' must be on or off";
}

// The command's own version, the version of the library it runs with, and that of the data in
// the host folder (the first line of its VERSION file).
std::string version_text(const std::string& chosen_host_dir) {
    std::string host_dir =
        chosen_host_dir.empty() ? PGM_COMMON::pgm_get_common_programmer() : chosen_host_dir;
    if (host_dir.back() != '/')
        host_dir += '/';
    std::ifstream file(host_dir + "VERSION");
    std::string data_version;
    if (!std::getline(file, data_version) || data_version.empty())
        data_version = "unknown (no VERSION file)";
    return "gfpdb " GFPDB_COMMAND_VERSION "\nlibrary " +
           std::string(GFPDB_VERSION::get_library_version()) + "\ndata " + data_version + " in " +
           host_dir;
}

int run(int argc, char** argv) {
    OPTIONS options;
    CLI::App app("Work with the flash database of the device programmer outside the programmer.",
                 "gfpdb");
    app.footer(
        "--host-dir defaults to $GFPDB_HOST_DIR, else the bundled data/ folder.\n"
        "--custom-dir defaults to the folder that 'gfpdb config custom-dir' stored in\n"
        "the user settings file ($GFPDB_USER_INI, else ~/.gfpdb/user.ini).\n"
        "Exit status: 0 success, 1 a rejected value or failed check, 2 a usage error.");
    app.require_subcommand(1);
    // Global options may follow the subcommand too: "gfpdb list --json".
    app.fallthrough();
    app.add_option("--host-dir", options.host_dir, "Host folder: xml/, xsd/ and device/");
    app.add_option("--custom-dir", options.custom_dir, "Custom database folder");
    app.add_option("--set", options.settings, "Boolean setting for this run, NAME=on|off")
        ->check(CLI::Validator(check_setting, "NAME=on|off"))
        ->allow_extra_args(false);
    app.add_flag("--json", options.json, "Machine-readable output (one JSON document)");
    app.add_flag("-v,--verbose", options.verbose, "Debug lines of the database on standard error");
    // After --host-dir, so that its value is known when the version is shown.
    app.set_version_flag(
        "--version", [&options] { return version_text(options.host_dir); },
        "Versions of the command, library and data");

    std::vector<CLI::App*> group_apps;
    for (const GROUP& group : groups) {
        CLI::App* sub = app.add_subcommand(group.name, group.help);
        sub->require_subcommand(1);
        group_apps.push_back(sub);
    }
    std::vector<CLI::App*> command_apps;
    for (const COMMAND& command : commands) {
        CLI::App* parent = &app;
        for (size_t i = 0; command.group && i < group_apps.size(); ++i)
            if (group_apps[i]->get_name() == command.group)
                parent = group_apps[i];
        CLI::App* sub = parent->add_subcommand(command.name, command.help);
        command.define(*sub, options);
        command_apps.push_back(sub);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error) == 0 ? EXIT_OK : EXIT_USAGE;
        // The flag may stand anywhere, or be what the parser stopped before.
        const bool json = std::any_of(argv + 1, argv + argc,
                                      [](const char* arg) { return std::string(arg) == "--json"; });
        if (status != EXIT_OK && json) {
            options.json = true;
            print_error(error.what());
            emit_error_document(options);
        }
        return status;
    }

    SESSION session(options);
    int status = session.open();
    for (size_t i = 0; status == EXIT_OK && i < command_apps.size(); ++i)
        if (command_apps[i]->parsed())
            status = commands[i].run(session);
    // A JSON reader gets a document whatever happened.
    if (status != EXIT_OK)
        emit_error_document(options);
    return status;
}
}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        gfpdb_cli::print_error(error.what());
        return gfpdb_cli::EXIT_REJECTED;
    }
}
