// check: what loading a database file would keep and drop, found by loading it.
//
// Each file is copied alone into a throw-away custom folder and loaded by a fresh manager,
// against the host folder's golden and host devices, exactly as loading the custom folder
// would. What the file holds is then compared with what the manager kept from it.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>

#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"
#include "cli/gfpdb_cli.h"

namespace gfpdb_cli {
namespace {

namespace fs = std::filesystem;

// The two file formats: every pgm_flash_*.xml of a folder is offered to both managers and the
// schema of the other format refuses it.
struct FILE_KIND {
    PGM_COMMON_XML_FILE_ENUM kind;
    const char* name;
    const char* schema;  // under the host folder
    GFPDB_MGR* (*load)();
};
const FILE_KIND file_kinds[] = {
    {PGM_COMMON_XML_FILE_GFPDB_QSPI, "QSPI", "xsd/gfpdb_qspi.xsd",
     []() -> GFPDB_MGR* { return new GFPDB_QSPI_MGR(); }},
    {PGM_COMMON_XML_FILE_GFPDB_SDMMC, "SD/MMC", "xsd/gfpdb_sdmmc.xsd",
     []() -> GFPDB_MGR* { return new GFPDB_SDMMC_MGR(); }},
};

// How the schema library says that a file's root belongs to no format of this schema.
const char* const foreign_root_error =
    "No matching global declaration available for the validation root";

const char* const user_file_prefix = "pgm_flash_";
const char* const user_file_suffix = ".xml";
const char* const custom_folder_line = "Parsing XML file in custom directory: ";
const char* const skip_line = "Skip ";

// What becomes of a device or template of a checked file.
const char* const state_loads = "loads";
const char* const state_dropped = "dropped";
const char* const state_hidden = "hidden";  // behind a built-in device of the same name

// Settings under which the SD/MMC manager reads user files at all.
const char* const sdmmc_settings[] = {"pgm_enable_sdmmc", "pgm_enable_custom_sdmmc"};

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool is_user_file_name(const std::string& name) {
    const std::string suffix = user_file_suffix;
    return starts_with(name, user_file_prefix) && name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The schema a file satisfies, or the errors of the schema it was written for.
struct SCHEMA_RESULT {
    const FILE_KIND* kind = nullptr;
    std::vector<std::string> errors;
};

SCHEMA_RESULT check_schemas(const SESSION& session, const std::string& file) {
    std::vector<std::vector<std::string>> errors;
    for (const FILE_KIND& kind : file_kinds) {
        std::string first, rest;
        PGM_COMMON_XML::check_xsd(file, session.host_dir + kind.schema, first, rest);
        if (first.empty() && rest.empty())
            return {&kind, {}};
        errors.push_back(lines_of(first + "\n" + rest));
    }
    // The other format's schema refuses the root and says nothing else.
    for (const std::vector<std::string>& kind_errors : errors)
        if (kind_errors.size() != 1 || kind_errors[0].find(foreign_root_error) == std::string::npos)
            return {nullptr, kind_errors};
    return {nullptr, errors.front()};
}

std::string first_child_text(const PGM_COMMON_XML_ELEMENT* element, PGM_COMMON_XML_ENUM kind) {
    const std::vector<PGM_COMMON_XML_ELEMENT*> children = element->get_childs(kind);
    return children.empty() ? std::string() : children.front()->get_value_text();
}

// The device and template names a file holds, in document order.
struct CONTENT {
    std::vector<std::string> devices;
    std::vector<std::string> templates;
};

CONTENT read_content(const SESSION& session, const FILE_KIND& kind, const std::string& file) {
    std::string error, warning, info;
    const std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(PGM_COMMON_XML::parse_xml(
        kind.kind, file, session.host_dir + kind.schema, false, error, warning, info));
    CONTENT content;
    for (const PGM_COMMON_XML_ELEMENT* flash : root->get_childs(PGM_COMMON_XML_ENUM_FLASH))
        for (const PGM_COMMON_XML_ELEMENT* device :
             flash->get_childs(PGM_COMMON_XML_ENUM_DEVICE_INFO))
            content.devices.push_back(first_child_text(device, PGM_COMMON_XML_ENUM_DEVICE_NAME));
    for (const PGM_COMMON_XML_ELEMENT* user_template :
         root->get_childs(PGM_COMMON_XML_ENUM_USER_TEMPLATE))
        content.templates.push_back(
            first_child_text(user_template, PGM_COMMON_XML_ENUM_TEMPLATE_NAME));
    return content;
}

// A folder of its own under the system's temporary folder, removed with this object.
class TEMP_FOLDER {
public:
    TEMP_FOLDER() {
        std::error_code error;
        std::string pattern = (fs::temp_directory_path(error) / "gfpdb-check-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = FIO_PATH(pattern + "/").full_directory();
    }
    ~TEMP_FOLDER() {
        std::error_code error;
        if (!m_path.empty())
            fs::remove_all(m_path, error);
    }
    TEMP_FOLDER(const TEMP_FOLDER&) = delete;
    TEMP_FOLDER& operator=(const TEMP_FOLDER&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// What one load of the file kept, and what it said while reading the file.
struct LOAD_RESULT {
    std::vector<std::string> devices;  // states in the order of CONTENT::devices
    std::vector<std::string> templates;
    std::vector<POSTED> messages;
    std::vector<std::string> skipped;  // the loader's reasons for skipping the whole file
};

// The user templates that loading the host folder alone keeps; a template of the same name in
// a checked file is dropped without a message, since the first of a name wins.
std::set<std::string> host_templates(const std::string& host_db_dir) {
    GFPDB_MGR::set_db_custom_dir(host_db_dir);
    const std::unique_ptr<GFPDB_MGR> manager(new GFPDB_QSPI_MGR());
    const std::vector<std::string> names = manager->get_user_template_list();
    return {names.begin(), names.end()};
}

LOAD_RESULT load(SESSION& session, const FILE_KIND& kind, const std::string& file,
                 const CONTENT& content, const std::set<std::string>& baseline) {
    LOAD_RESULT result;
    TEMP_FOLDER folder;
    const std::string name = fs::path(file).filename().string();
    std::error_code error;
    if (!folder.path().empty())
        fs::copy_file(file,
                      folder.path() + (is_user_file_name(name) ? name : "pgm_flash_checked.xml"),
                      error);
    if (folder.path().empty() || error) {
        result.skipped.push_back("cannot copy the file to a temporary folder");
        return result;
    }

    // The custom folder is read last: what is posted after the loader enters it is this file's.
    bool reading_file = false;
    session.capture(
        [&](const POSTED& posted) {
            if (reading_file)
                result.messages.push_back(posted);
        },
        [&](const std::string& line) {
            if (starts_with(line, custom_folder_line))
                reading_file = true;
            else if (reading_file && starts_with(line, skip_line))
                result.skipped.push_back(line);
        });
    GFPDB_MGR::set_db_custom_dir(folder.path());
    const std::unique_ptr<GFPDB_MGR> manager(kind.load());
    session.end_capture();
    GFPDB_MGR::set_db_custom_dir(session.custom_dir.empty() ? session.db_host_dir
                                                            : session.custom_dir);

    std::set<std::string> seen;
    for (const std::string& device : content.devices) {
        std::string state = state_dropped;
        if (!seen.insert(device).second) {
            // a later device of the same name: a duplicate
        } else if (manager->device_is_legacy(device, true)) {
            state = state_hidden;
        } else if (GFPDB_FLASH* flash = manager->get_flash(device, true)) {
            if (SESSION::folder_of(flash) == folder.path())
                state = state_loads;
        }
        result.devices.push_back(state);
    }
    const std::vector<std::string> loaded = manager->get_user_template_list();
    seen.clear();
    for (const std::string& user_template : content.templates) {
        const bool first = seen.insert(user_template).second;
        const bool kept = std::find(loaded.begin(), loaded.end(), user_template) != loaded.end();
        const bool loads = first && kept && !baseline.count(user_template);
        result.templates.push_back(loads ? state_loads : state_dropped);
    }
    // Messages name the folder of the copy; the user knows the file's own.
    const std::string real_folder = FIO_PATH(file).full_directory();
    for (POSTED& posted : result.messages)
        replace_all(posted.text, folder.path(), real_folder);
    return result;
}

JSON check_file(SESSION& session, const std::string& file, const std::set<std::string>& baseline) {
    JSON report = {{"path", file},
                   {"kind", nullptr},
                   {"ok", true},
                   {"schema_errors", JSON::array()},
                   {"messages", JSON::array()},
                   {"devices", JSON::array()},
                   {"templates", JSON::array()},
                   {"notes", JSON::array()}};
    const std::string name = fs::path(file).filename().string();
    if (!is_user_file_name(name)) {
        report["notes"].push_back("loading reads only files named pgm_flash_*.xml: rename it");
        report["ok"] = false;
    }
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        report["notes"].push_back("no such file");
        report["ok"] = false;
        return report;
    }
    const SCHEMA_RESULT schema = check_schemas(session, file);
    if (!schema.kind) {
        report["schema_errors"] = schema.errors;
        report["notes"].push_back("the file fails the schema: loading skips all of it");
        report["ok"] = false;
        return report;
    }
    const FILE_KIND& kind = *schema.kind;
    report["kind"] = kind.name;
    if (kind.kind == PGM_COMMON_XML_FILE_GFPDB_SDMMC) {
        bool read = true;
        for (const char* setting : sdmmc_settings)
            read = read && cfg_is_on(setting, false);
        if (!read)
            report["notes"].push_back(
                "SD/MMC user files are read only while pgm_enable_sdmmc and "
                "pgm_enable_custom_sdmmc are on");
        for (const char* setting : sdmmc_settings)
            cfg_set_value(setting, true);
    }

    const CONTENT content = read_content(session, kind, file);
    const LOAD_RESULT loaded = load(session, kind, file, content, baseline);
    for (const std::string& reason : loaded.skipped) {
        report["schema_errors"].push_back(reason);
        report["ok"] = false;
    }
    for (const POSTED& posted : loaded.messages)
        report["messages"].push_back(
            {{"id", posted.id},
             {"type", posted.type == MSG_POST_TYPE_ERROR ? "error" : "warning"},
             {"text", posted.text},
             {"line", posted_line(posted)}});
    const auto record = [&](const char* key, const std::vector<std::string>& names,
                            const std::vector<std::string>& states) {
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string state = i < states.size() ? states[i] : state_dropped;
            report[key].push_back({{"name", names[i]}, {"state", state}});
            if (state != state_loads)
                report["ok"] = false;
        }
    };
    record("devices", content.devices, loaded.devices);
    record("templates", content.templates, loaded.templates);
    return report;
}

// "1 of 2 devices", "1 template"; nothing for a kind the file does not hold.
void add_count(std::vector<std::string>& parts, size_t count, size_t of, const char* what) {
    if (of == 0)
        return;
    std::string text = std::to_string(count);
    if (of != count)
        text += " of " + std::to_string(of);
    parts.push_back(text + " " + what + (of == 1 ? "" : "s"));
}

// Schema errors shown to people; the JSON output keeps them all.
constexpr size_t shown_schema_errors = 10;

// The kinds of record a file holds, and the states a record ends in, in the order shown.
struct RECORD_KIND {
    const char* key;  // of the report
    const char* word;
};
const RECORD_KIND record_kinds[] = {{"devices", "device"}, {"templates", "template"}};
struct RECORD_STATE {
    const char* state;
    const char* title;
};
const RECORD_STATE record_states[] = {
    {state_loads, "loads:"},
    {state_dropped, "dropped:"},
    {state_hidden, "hidden by a built-in device:"},
};

void print_report(std::ostream& out, const JSON& report) {
    std::vector<std::string> parts;
    std::map<std::string, std::vector<std::string>> by_state;  // "device GF_A", ...
    for (const RECORD_KIND& kind : record_kinds) {
        size_t kept = 0;
        for (const JSON& entry : report[kind.key]) {
            const std::string state = entry["state"].get<std::string>();
            kept += state == state_loads;
            by_state[state].push_back(std::string(kind.word) + " " +
                                      entry["name"].get<std::string>());
        }
        add_count(parts, kept, report[kind.key].size(), kind.word);
    }
    std::string header =
        report["path"].get<std::string>() + ": " + (report["ok"] ? "OK" : "FAILED");
    if (!report["kind"].is_null())
        header += ", " + report["kind"].get<std::string>() + " file, " +
                  (parts.empty() ? "holds no device or template"
                                 : "loads " + parts[0] + (parts.size() > 1 ? ", " + parts[1] : ""));
    print_text(out, "", "    ", header);
    const JSON& schema_errors = report["schema_errors"];
    for (size_t i = 0; i < schema_errors.size() && i < shown_schema_errors; ++i)
        print_text(out, "  ", "      ", schema_errors[i].get<std::string>());
    if (schema_errors.size() > shown_schema_errors)
        out << "  ... and " << schema_errors.size() - shown_schema_errors
            << " more schema errors\n";
    for (const JSON& message : report["messages"])
        print_text(out, "  ", "      ", message["line"].get<std::string>());
    for (const RECORD_STATE& state : record_states) {
        const auto named = by_state.find(state.state);
        if (named == by_state.end())
            continue;
        out << "  " << state.title << '\n';
        print_wrapped(out, "    ", named->second);
    }
    for (const JSON& note : report["notes"])
        print_text(out, "  note: ", "      ", note.get<std::string>());
}

// The files a path names: itself, or a folder's pgm_flash_*.xml as loading would find them.
std::vector<std::string> files_of(const SESSION& session, const std::string& path) {
    std::error_code error;
    if (!fs::is_directory(path, error))
        return {path};
    FIO_PATH pattern(path + "/");
    const std::string folder = pattern.full_directory();
    FIO_FIND find(pattern.filename(std::string(user_file_prefix) + "*" + user_file_suffix));
    std::vector<std::string> files;
    for (std::string name = find.find_first(); !name.empty(); name = find.find_next()) {
        // The host folder's golden files are not user files there.
        const bool golden = name == "pgm_flash_db_qspi.xml" || name == "pgm_flash_db_sdmmc.xml";
        if (!(golden && folder == session.db_host_dir))
            files.push_back((fs::path(path) / name).string());
    }
    if (files.empty())
        print_error("no pgm_flash_*.xml file in " + path);
    return files;
}
}  // namespace

int run_check(SESSION& session) {
    const std::set<std::string> baseline = host_templates(session.db_host_dir);
    GFPDB_MGR::set_db_custom_dir(session.custom_dir.empty() ? session.db_host_dir
                                                            : session.custom_dir);
    JSON reports = JSON::array();
    bool ok = true;
    for (const std::string& path : session.options.paths) {
        for (const std::string& file : files_of(session, path)) {
            reports.push_back(check_file(session, file, baseline));
            ok = ok && reports.back()["ok"].get<bool>();
        }
    }
    emit(session, {{"ok", ok}, {"files", reports}}, [](std::ostream& out, const JSON& shown) {
        size_t failed = 0;
        for (const JSON& report : shown["files"]) {
            print_report(out, report);
            failed += !report["ok"].get<bool>();
        }
        if (shown["files"].size() > 1)
            out << shown["files"].size() << " files checked, " << failed << " failed\n";
    });
    return ok ? EXIT_OK : EXIT_REJECTED;
}

}  // namespace gfpdb_cli
