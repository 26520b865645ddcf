// check: what loading a database file would keep and drop, found by loading it.
//
// Each file is copied alone into a throw-away custom folder and loaded by a fresh manager,
// against the host folder's golden and host devices, exactly as loading the custom folder
// would; the files of a folder are also loaded together, as the folder would be. What a file
// holds is then compared with what the managers kept from it. Every value of every device and
// action is also put to the library's validators on its own, so that one run names each bad
// value with its line, its place in the flows and what is allowed, where loading stops at the
// first bad device.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>

#include "cli/gfpdb_cli.h"
#include "pgm/gfpdb/gfpdb_file_walk.h"
#include "pgm/gfpdb/gfpdb_host_check.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"

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

// One problem of a checked file, at a line of it (0: the whole file).
struct FINDING {
    std::string severity;  // "error", "warning" (both drop records) or "note"
    unsigned line = 0;
    unsigned id = 0;    // the library message's, 0 for the command's own
    std::string place;  // "device GF_A, SFL 2.3"
    std::string message;
    std::string allowed;
    std::string also;             // where the other definition of a duplicate lies
    std::vector<unsigned> lines;  // of identical findings folded into this one
    bool folds = true;            // false: a line of its own even when the message repeats
};

// The device and template names a file holds, in document order, with the line of each name,
// and what was found wrong in it.
struct CONTENT {
    std::vector<std::string> devices;
    std::vector<unsigned> device_lines;
    std::vector<std::string> templates;
    std::vector<unsigned> template_lines;
    std::vector<FINDING> findings;
};

// What the library posts while it runs `call`, instead of showing it.
std::vector<POSTED> posted_by(SESSION& session, const std::function<void()>& call) {
    std::vector<POSTED> posted;
    session.capture([&](const POSTED& one) { posted.push_back(one); }, [](const std::string&) {});
    call();
    session.end_capture();
    return posted;
}

// Places every finding of a parsed file at its line, with what is allowed where a set exists.
class FILE_WALK : public GFPDB_FILE_WALK {
public:
    FILE_WALK(SESSION& session, GFPDB_MGR* manager, const std::string& file, CONTENT& content,
              const std::set<std::string>& templates)
        : GFPDB_FILE_WALK(*manager, file),
          m_session(session),
          m_content(content),
          m_templates(templates) {}

private:
    void add(const std::string& severity, const ELEMENT& at, const std::string& place,
             const POSTED& posted, const std::string& allowed) {
        FINDING finding;
        finding.severity = severity;
        finding.line = line_of(at);
        finding.id = posted.id;
        finding.place = place;
        finding.message = posted.text;
        finding.allowed = allowed;
        m_content.findings.push_back(finding);
    }

    void device(const ELEMENT& info, const ELEMENT& name, const std::string& place) override {
        m_content.devices.push_back(text_of(name));
        m_content.device_lines.push_back(line_of(name));
        // Loading takes any name and template; the editor does not.
        for (const POSTED& posted : posted_by(m_session, [&] {
                 std::string error;
                 m_manager.is_parameter_valid(GFPDB_FLASH_PARAM_NAME, text_of(name), &error);
             }))
            if (posted.id == GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR ||
                posted.id == GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE)
                add("note", name, place + ", refused by add", posted,
                    allowed_values(&m_manager, posted.id) + "; such as " +
                        suggested_name(text_of(name)));
        if (m_manager.get_flash_family() == DEV_FAMILY_SDMMC_FLASH)
            return;
        const ELEMENT flow_template = first(info, PGM_COMMON_XML_ENUM_PROG_FLOW_TEMPLATE);
        const std::string wanted = text_of(flow_template);
        if (m_templates.count(wanted))
            return;
        for (const POSTED& posted : posted_by(m_session, [&] {
                 std::string error;
                 m_manager.is_parameter_valid(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, wanted, &error);
             })) {
            std::string allowed;
            for (const std::string& known : m_templates)
                allowed += (allowed.empty() ? "" : ", ") + known;
            add("note", flow_template, place + ", no such template", posted, allowed);
        }
    }

    void device_value(const ELEMENT& leaf, GFPDB_FLASH_PARAM param,
                      const std::string& place) override {
        for (const POSTED& posted : posted_by(m_session, [&] {
                 std::string error;
                 device_value_is_valid(param, text_of(leaf), &error);
             }))
            add(severity_of(posted), leaf, place, posted, allowed_values(&m_manager, posted.id));
    }

    void user_template(const ELEMENT& name, const std::string&) override {
        m_content.templates.push_back(text_of(name));
        m_content.template_lines.push_back(line_of(name));
    }

    void missing_property(const ELEMENT& action, GFPDB_ACT_PROPERTY property,
                          const std::string& place) override {
        add("warning", action, place,
            {0, MSG_POST_TYPE_WARNING,
             "no " + property_element_name(property) + " element: loading drops the " +
                 place.substr(0, place.find(','))},
            "");
    }

    void property_value(const ELEMENT& value, GFPDB_ACTION& model, GFPDB_ACT_PROPERTY property,
                        const std::string& place) override {
        for (const POSTED& posted : posted_by(m_session, [&] {
                 std::string error;
                 model.property_value_is_valid(property, text_of(value), &error);
             })) {
            std::string allowed = allowed_values(&m_manager, posted.id);
            if (posted.id == GFPDB_INVALID_ACTION_BUS_WIDTH)
                for (const std::string& width : model.get_property_value_list(property))
                    allowed += (allowed.empty() ? "" : ", ") + width;
            add(severity_of(posted), value, place, posted, allowed);
        }
    }

    static std::string severity_of(const POSTED& posted) {
        return posted.type == MSG_POST_TYPE_ERROR ? "error" : "warning";
    }

    SESSION& m_session;
    CONTENT& m_content;
    const std::set<std::string>& m_templates;
};

// What one load of the file kept, and what it said while reading the file.
struct LOAD_RESULT {
    std::vector<std::string> devices;  // states in the order of CONTENT::devices
    std::vector<std::string> templates;
    std::vector<POSTED> messages;
    std::vector<std::string> skipped;  // the loader's reasons for skipping the whole file
};

// The managers of the host folder alone: the validators of the walk, and the user templates
// that loading the host folder keeps (a template of the same name in a checked file is
// dropped without a message, since the first of a name wins).
struct REFERENCE {
    std::map<const FILE_KIND*, std::unique_ptr<GFPDB_MGR>> managers;
    std::set<std::string> host_templates;  // user templates of the host folder
    std::set<std::string> all_templates;   // with the golden ones

    GFPDB_MGR* manager(SESSION& session, const FILE_KIND& kind) {
        std::unique_ptr<GFPDB_MGR>& made = managers[&kind];
        if (!made) {
            GFPDB_MGR::set_db_custom_dir(session.db_host_dir);
            posted_by(session, [&] { made.reset(kind.load()); });
            restore_custom_dir(session);
        }
        return made.get();
    }
    static void restore_custom_dir(const SESSION& session) {
        GFPDB_MGR::set_db_custom_dir(session.custom_dir.empty() ? session.db_host_dir
                                                                : session.custom_dir);
    }
};

LOAD_RESULT load(SESSION& session, const FILE_KIND& kind, const std::string& file,
                 const CONTENT& content, const std::set<std::string>& baseline) {
    LOAD_RESULT result;
    SCRATCH_FOLDER folder("gfpdb-check");
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
    REFERENCE::restore_custom_dir(session);

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

// The name a duplicate error is about: "Found duplicate flash device names 'NAME' in ...".
std::string duplicate_name(const std::string& text) {
    const size_t open = text.find('\'');
    const size_t close = text.find("' in the ");
    return open == std::string::npos || close == std::string::npos || close <= open
               ? std::string()
               : text.substr(open + 1, close - open - 1);
}

JSON finding_json(const std::string& file, const FINDING& finding) {
    const auto number = [](unsigned value) { return value ? JSON(value) : JSON(); };
    JSON lines = JSON::array();
    for (unsigned line : finding.lines)
        lines.push_back(line);
    return {{"file", file},
            {"line", number(finding.line)},
            {"severity", finding.severity},
            {"id", number(finding.id)},
            {"place", finding.place},
            {"message", finding.message},
            {"allowed", finding.allowed.empty() ? JSON() : JSON(finding.allowed)},
            {"also", finding.also.empty() ? JSON() : JSON(finding.also)},
            {"count", finding.lines.size()},
            {"lines", lines}};
}

// Identical findings (the same message, place aside) become one with their lines.
std::vector<FINDING> folded(const std::vector<FINDING>& findings) {
    std::vector<FINDING> result;
    for (const FINDING& finding : findings) {
        auto same = std::find_if(result.begin(), result.end(), [&](const FINDING& kept) {
            return kept.folds && finding.folds && kept.severity == finding.severity &&
                   kept.id == finding.id && kept.message == finding.message &&
                   kept.allowed == finding.allowed && kept.also == finding.also;
        });
        if (same == result.end()) {
            result.push_back(finding);
            result.back().lines = {finding.line};
        } else {
            same->lines.push_back(finding.line);
        }
    }
    return result;
}

// "path:12: Element 'X': ..." as the schema library words its errors.
FINDING schema_finding(const std::string& file, const std::string& error) {
    FINDING finding;
    finding.severity = "error";
    finding.message = error;
    if (starts_with(error, file + ":")) {
        const size_t colon = error.find(": ", file.size() + 1);
        if (colon != std::string::npos) {
            finding.line =
                static_cast<unsigned>(std::strtoul(error.c_str() + file.size() + 1, nullptr, 10));
            finding.message = error.substr(colon + 2);
        }
    }
    return finding;
}

struct CHECKED {
    JSON report;
    CONTENT content;
};

CHECKED check_file(SESSION& session, REFERENCE& reference, const std::string& file) {
    CHECKED checked;
    JSON& report = checked.report;
    CONTENT& content = checked.content;
    report = {{"path", file},
              {"kind", nullptr},
              {"ok", true},
              {"findings", JSON::array()},
              {"devices", JSON::array()},
              {"templates", JSON::array()},
              {"notes", JSON::array()}};
    const std::string name = fs::path(file).filename().string();
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        report["notes"].push_back("no such file or folder");
        report["ok"] = false;
        return checked;
    }
    if (!is_user_file_name(name)) {
        report["notes"].push_back("loading reads only files named pgm_flash_*.xml: rename it");
        report["ok"] = false;
    }
    const SCHEMA_RESULT schema = check_schemas(session, file);
    if (!schema.kind) {
        for (const std::string& schema_error : schema.errors)
            content.findings.push_back(schema_finding(file, schema_error));
        for (const FINDING& finding : content.findings)
            report["findings"].push_back(finding_json(file, finding));
        report["notes"].push_back("the file fails the schema: loading skips all of it");
        report["ok"] = false;
        return checked;
    }
    const FILE_KIND& kind = *schema.kind;
    report["kind"] = kind.name;
    if (kind.kind == PGM_COMMON_XML_FILE_GFPDB_SDMMC) {
        // The SD/MMC manager needs its golden file, which the host folder may lack.
        const std::string problem = GFPDB_HOST_CHECK::problem(session.host_dir, true);
        if (!problem.empty()) {
            report["notes"].push_back("cannot load SD/MMC files with this host folder: " + problem);
            report["ok"] = false;
            return checked;
        }
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

    GFPDB_MGR* manager = reference.manager(session, kind);
    {
        std::string parse_error, warning, info;
        const std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(PGM_COMMON_XML::parse_xml(
            kind.kind, file, session.host_dir + kind.schema, false, parse_error, warning, info));
        // Templates a device may follow: the golden and host ones, and this file's own.
        std::set<std::string> templates = reference.all_templates;
        for (const PGM_COMMON_XML_ELEMENT* user :
             root->get_childs(PGM_COMMON_XML_ENUM_USER_TEMPLATE))
            for (const PGM_COMMON_XML_ELEMENT* named :
                 user->get_childs(PGM_COMMON_XML_ENUM_TEMPLATE_NAME))
                templates.insert(named->get_value_text());
        FILE_WALK(session, manager, file, content, templates).walk(root.get());
    }
    const LOAD_RESULT loaded = load(session, kind, file, content, reference.host_templates);
    for (const std::string& reason : loaded.skipped) {
        content.findings.push_back(schema_finding(file, reason));
        report["ok"] = false;
    }
    // What loading posted and the walk did not already place: duplicates and the loader's own.
    for (const POSTED& posted : loaded.messages) {
        const bool placed = std::any_of(
            content.findings.begin(), content.findings.end(),
            [&](const FINDING& f) { return f.id == posted.id && f.message == posted.text; });
        if (placed)
            continue;
        FINDING finding;
        finding.severity = posted.type == MSG_POST_TYPE_ERROR ? "error" : "warning";
        finding.id = posted.id;
        finding.message = posted.text;
        if (posted.id == GFPDB_FOUND_DUPLICATED_FLASH_IN_DB) {
            const std::string device = duplicate_name(posted.text);
            std::vector<size_t> at;
            for (size_t i = 0; i < content.devices.size(); ++i)
                if (content.devices[i] == device)
                    at.push_back(i);
            finding.place = "device " + device;
            if (at.size() > 1) {
                finding.line = content.device_lines[at[1]];
                finding.also = shown_path(file) + ":" + std::to_string(content.device_lines[at[0]]);
            } else if (!at.empty()) {
                finding.line = content.device_lines[at[0]];
                finding.also = "the host folder";
            }
        }
        content.findings.push_back(finding);
    }
    for (size_t i = 0; i < content.templates.size(); ++i)
        if (reference.host_templates.count(content.templates[i]) && i < loaded.templates.size() &&
            loaded.templates[i] != state_loads) {
            FINDING finding;
            finding.severity = "warning";
            finding.line = content.template_lines[i];
            finding.place = "template " + content.templates[i];
            finding.message =
                "the host folder defines this template: loading keeps that one "
                "and drops the templates of this file from here on";
            finding.also = "the host folder";
            content.findings.push_back(finding);
            break;
        }
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
    return checked;
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

// Findings shown to people per file; the JSON output keeps them all.
constexpr size_t shown_findings = 20;
// Lines of folded findings shown to people.
constexpr size_t shown_lines = 8;

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

// "FILE:LINE: severity: PLACE: MESSAGE Allowed: ... (3 times, lines 4, 9, 12)".
std::string finding_line(const JSON& finding) {
    std::string text = shown_path(finding["file"].get<std::string>());
    if (!finding["line"].is_null())
        text += ":" + std::to_string(finding["line"].get<unsigned>());
    text += ": " + finding["severity"].get<std::string>() + ": ";
    if (!finding["place"].get<std::string>().empty())
        text += finding["place"].get<std::string>() + ": ";
    text += finding["message"].get<std::string>();
    if (!finding["allowed"].is_null())
        text += " Allowed: " + finding["allowed"].get<std::string>() + ".";
    if (!finding["also"].is_null())
        text += " Also defined in " + finding["also"].get<std::string>() + ".";
    const JSON& lines = finding["lines"];
    if (lines.size() > 1) {
        text += " (" + std::to_string(lines.size()) + " times, lines ";
        for (size_t i = 0; i < lines.size() && i < shown_lines; ++i)
            text += (i ? ", " : "") + std::to_string(lines[i].get<unsigned>());
        text += lines.size() > shown_lines ? ", ...)" : ")";
    }
    return text;
}

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
        shown_path(report["path"].get<std::string>()) + ": " + (report["ok"] ? "OK" : "FAILED");
    if (!report["kind"].is_null())
        header += ", " + report["kind"].get<std::string>() + " file, " +
                  (parts.empty() ? "holds no device or template"
                                 : "loads " + parts[0] + (parts.size() > 1 ? ", " + parts[1] : ""));
    print_text(out, "", "    ", header);
    const JSON& findings = report["findings"];
    for (size_t i = 0; i < findings.size() && i < shown_findings; ++i)
        print_text(out, "", "    ", finding_line(findings[i]));
    if (findings.size() > shown_findings)
        out << "... and " << findings.size() - shown_findings << " more (see --json)\n";
    for (const RECORD_STATE& state : record_states) {
        const auto named = by_state.find(state.state);
        if (named == by_state.end() || (state.state == state_loads && report["ok"]))
            continue;
        out << "  " << state.title << '\n';
        print_wrapped(out, "    ", named->second);
    }
    for (const JSON& note : report["notes"])
        print_text(out, "  note: ", "      ", note.get<std::string>());
}

// The files a path names: itself, or a folder's pgm_flash_*.xml in the order loading reads
// them; none for a folder without such files.
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
    return files;
}

// Loads a folder's files together, as loading the folder does, and gives each file what
// loading it there adds to checking it alone: devices dropped after a duplicate of another
// file, and templates dropped after one of another file.
void check_together(SESSION& session, const std::string& folder_path,
                    std::vector<CHECKED*>& files) {
    const std::string folder = FIO_PATH(folder_path + "/").full_directory();
    std::map<std::string, size_t> by_path;  // the loader's path of each file
    for (size_t i = 0; i < files.size(); ++i)
        by_path[folder +
                fs::path(files[i]->report["path"].get<std::string>()).filename().string()] = i;
    std::vector<std::vector<POSTED>> posted(files.size());
    size_t current = files.size();
    GFPDB_MGR::set_db_custom_dir(folder);
    for (const FILE_KIND& kind : file_kinds) {
        if (kind.kind == PGM_COMMON_XML_FILE_GFPDB_SDMMC &&
            !cfg_is_on("pgm_enable_custom_sdmmc", false))
            continue;
        session.capture(
            [&](const POSTED& one) {
                if (current < files.size())
                    posted[current].push_back(one);
            },
            [&](const std::string& line) {
                const size_t colon = line.find(": ");
                if (starts_with(line, "Parsing XML file in ") && colon != std::string::npos) {
                    const auto at = by_path.find(line.substr(colon + 2));
                    current = at == by_path.end() ? files.size() : at->second;
                }
            });
        const std::unique_ptr<GFPDB_MGR> manager(kind.load());
        session.end_capture();
        current = files.size();
    }
    REFERENCE::restore_custom_dir(session);

    // Where each device and template was first defined in the folder.
    std::map<std::string, std::string> first_device, first_template;
    for (size_t i = 0; i < files.size(); ++i) {
        CHECKED& checked = *files[i];
        const std::string path = shown_path(checked.report["path"].get<std::string>());
        CONTENT& content = checked.content;
        JSON& devices = checked.report["devices"];
        size_t dropped_from = content.devices.size();
        for (const POSTED& one : posted[i]) {
            if (one.id != GFPDB_FOUND_DUPLICATED_FLASH_IN_DB)
                continue;
            const std::string device = duplicate_name(one.text);
            const auto other = first_device.find(device);
            if (other == first_device.end())
                continue;  // within the file: checking it alone said so
            for (size_t d = 0; d < content.devices.size(); ++d) {
                if (content.devices[d] != device)
                    continue;
                FINDING finding;
                finding.severity = "error";
                finding.line = content.device_lines[d];
                finding.id = one.id;
                finding.place = "device " + device;
                finding.message = one.text;
                finding.also = other->second;
                content.findings.push_back(finding);
                dropped_from = std::min(dropped_from, d);
                break;
            }
        }
        for (size_t d = 0; d < content.devices.size(); ++d) {
            if (d >= dropped_from && devices[d]["state"] == state_loads)
                devices[d]["state"] = state_dropped;
            first_device.emplace(content.devices[d],
                                 path + ":" + std::to_string(content.device_lines[d]));
        }
        JSON& templates = checked.report["templates"];
        bool dropping = dropped_from < content.devices.size();
        for (size_t t = 0; t < content.templates.size(); ++t) {
            const auto other = first_template.find(content.templates[t]);
            if (!dropping && other != first_template.end() &&
                templates[t]["state"] == state_loads) {
                FINDING finding;
                finding.severity = "warning";
                finding.line = content.template_lines[t];
                finding.place = "template " + content.templates[t];
                finding.message =
                    "another file defines this template: loading keeps that one "
                    "and drops the templates of this file from here on";
                finding.also = other->second;
                content.findings.push_back(finding);
                dropping = true;
            }
            if (dropping)
                templates[t]["state"] = state_dropped;
            first_template.emplace(content.templates[t],
                                   path + ":" + std::to_string(content.template_lines[t]));
        }
        for (const JSON& entry : devices)
            if (entry["state"] != state_loads)
                checked.report["ok"] = false;
        for (const JSON& entry : templates)
            if (entry["state"] != state_loads)
                checked.report["ok"] = false;
    }
}

// Records that loading drops only because an earlier device of their file failed: loading
// stops at the first failing device, and reads a file's templates only when all its devices
// load. Each gets a line of its own that names that device.
void add_dropped_after(CHECKED& checked) {
    CONTENT& content = checked.content;
    const auto failed = [&](const std::string& place) {
        return std::any_of(content.findings.begin(), content.findings.end(), [&](const FINDING& f) {
            return f.severity != "note" && (f.place == place || starts_with(f.place, place + ","));
        });
    };
    const auto dropped = [&](const char* key, size_t i) {
        const JSON& records = checked.report[key];
        return i < records.size() && records[i]["state"] == state_dropped;
    };
    size_t first = 0;
    while (first < content.devices.size() &&
           !(dropped("devices", first) && failed("device " + content.devices[first])))
        ++first;
    if (first == content.devices.size())
        return;
    const std::string cause = "device " + content.devices[first] + " (line " +
                              std::to_string(content.device_lines[first]) + ") failed";
    const auto add = [&](const std::string& place, unsigned line, const std::string& message) {
        if (failed(place))
            return;
        FINDING finding;
        finding.severity = "warning";
        finding.line = line;
        finding.place = place;
        finding.message = message;
        finding.folds = false;
        content.findings.push_back(finding);
    };
    for (size_t d = first + 1; d < content.devices.size(); ++d)
        if (dropped("devices", d))
            add("device " + content.devices[d], content.device_lines[d],
                "dropped because " + cause + ": loading stops at the first failing device");
    for (size_t t = 0; t < content.templates.size(); ++t)
        if (dropped("templates", t))
            add("template " + content.templates[t], content.template_lines[t],
                "dropped because " + cause +
                    ": a file's templates load only when all its devices do");
}

void finish(CHECKED& checked) {
    add_dropped_after(checked);
    const std::string file = checked.report["path"].get<std::string>();
    JSON& findings = checked.report["findings"];
    findings = JSON::array();
    for (const FINDING& finding : folded(checked.content.findings)) {
        findings.push_back(finding_json(file, finding));
        if (finding.severity != "note")
            checked.report["ok"] = false;
    }
}
}  // namespace

int run_check(SESSION& session) {
    REFERENCE reference;
    {
        GFPDB_MGR* qspi = reference.manager(session, file_kinds[0]);
        for (const std::string& name : qspi->get_user_template_list())
            reference.host_templates.insert(name);
        for (const std::string& name : qspi->get_prog_flow_template_list())
            reference.all_templates.insert(name);
        reference.all_templates.insert(reference.host_templates.begin(),
                                       reference.host_templates.end());
    }
    std::vector<std::unique_ptr<CHECKED>> checked;
    JSON empty_folders = JSON::array();
    for (const std::string& path : session.options.paths) {
        const std::vector<std::string> files = files_of(session, path);
        if (files.empty()) {
            print_error("no pgm_flash_*.xml file in " + path + ": nothing to check");
            empty_folders.push_back(path);
        }
        std::vector<CHECKED*> folder_files;
        for (const std::string& file : files) {
            checked.push_back(std::make_unique<CHECKED>(check_file(session, reference, file)));
            if (!checked.back()->report["kind"].is_null())
                folder_files.push_back(checked.back().get());
        }
        std::error_code error;
        if (folder_files.size() > 1 && fs::is_directory(path, error))
            check_together(session, path, folder_files);
    }
    JSON reports = JSON::array();
    bool ok = !checked.empty() && empty_folders.empty();
    for (const std::unique_ptr<CHECKED>& one : checked) {
        finish(*one);
        if (!session.options.no_lint && one->report["kind"] == "QSPI") {
            one->report["lint"] = lint_file(session, one->report["path"].get<std::string>());
            if (lint_error_count(one->report["lint"]))
                one->report["ok"] = false;
        }
        reports.push_back(one->report);
        ok = ok && one->report["ok"].get<bool>();
    }
    emit(session, {{"ok", ok}, {"files", reports}, {"empty_folders", empty_folders}},
         [](std::ostream& out, const JSON& shown) {
             size_t failed = 0;
             for (const JSON& report : shown["files"]) {
                 print_report(out, report);
                 if (report.contains("lint"))
                     print_lint_findings(out, report["lint"]);
                 failed += !report["ok"].get<bool>();
             }
             if (shown["files"].size() != 1)
                 out << shown["files"].size() << " files checked, " << failed << " failed\n";
         });
    return ok ? EXIT_OK : EXIT_REJECTED;
}

}  // namespace gfpdb_cli
