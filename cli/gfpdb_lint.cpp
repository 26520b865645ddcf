// lint: whether the flows of devices and templates would work on the chips they program,
// reported like a compiler at the line of the action in its file.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <ostream>
#include <set>

#include "cli/gfpdb_cli.h"
#include "pgm/gfpdb/gfpdb_qspi_lint.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_version.h"

namespace gfpdb_cli {
namespace {

namespace fs = std::filesystem;

const char* const golden_file = "xml/pgm_flash_db_qspi.xml";
const char* const qspi_schema = "xsd/gfpdb_qspi.xsd";
const char* const flow_elements[] = {"SFL", "SDM"};
// Operation elements by GFPDB_OP_TYPE.
const char* const operation_elements[GFPDB_OP_TYPE_COUNT] = {
    "INITIALIZATION", "PROGRAM", "ERASE", "VERIFY_BLANKCHECK_EXAMINE", "TERMINATION"};
// Golden template elements by GFPDB_PROG_FLOW_TEMPLATE.
const char* const golden_elements[GFPDB_PROG_FLOW_TEMPLATE_COUNT] = {"MICRON", "MACRONIX",
                                                                     "CYPRESS", "WINBOND"};

// The device value a record-wide finding of a rule is about; others point at the record.
struct RULE_ELEMENT {
    const char* rule;
    const char* element;  // under DEVICE_INFO
};
const RULE_ELEMENT rule_elements[] = {
    {"id-vendor", "DEVICE_ID"},
    {"id-capacity", "DEVICE_ID"},
    {"id-shadow", "DEVICE_ID"},
    {"die-count", "TOTAL_DEVICE_DIE"},
    {"quad-enable", "DUMMY_CLOCK_CYCLE_X4"},
};

// SARIF levels have the lint's severity names.
const char* const sarif_schema = "https://json.schemastore.org/sarif-2.1.0.json";

bool is_user_file(const std::string& name) {
    return name.rfind("pgm_flash_", 0) == 0 && name.size() > 4 &&
           name.compare(name.size() - 4, 4, ".xml") == 0;
}

// Where each record of a file stands: its element path, by "device:NAME" or "template:NAME";
// the first of a name wins, as in loading.
struct PLACE {
    std::string file;
    std::string path;  // "QSPI_FLASH[1]/FLASH[2]"
};

class LOCATOR {
public:
    explicit LOCATOR(const SESSION& session) : m_session(session) {}

    void add_file(const std::string& file, bool golden) {
        std::string error, warning, info;
        const std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(PGM_COMMON_XML::parse_xml(
            PGM_COMMON_XML_FILE_GFPDB_QSPI, file, m_session.host_dir + qspi_schema, golden, error,
            warning, info));
        const auto name_of = [](const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
            const std::vector<PGM_COMMON_XML_ELEMENT*> children = parent->get_childs(kind);
            return children.empty() ? std::string() : children.front()->get_value_text();
        };
        size_t index = 0;
        for (const PGM_COMMON_XML_ELEMENT* flash : root->get_childs(PGM_COMMON_XML_ENUM_FLASH)) {
            ++index;
            for (const PGM_COMMON_XML_ELEMENT* info_element :
                 flash->get_childs(PGM_COMMON_XML_ENUM_DEVICE_INFO))
                m_places.emplace("device:" + name_of(info_element, PGM_COMMON_XML_ENUM_DEVICE_NAME),
                                 PLACE{file, "QSPI_FLASH[1]/FLASH[" + std::to_string(index) + "]"});
        }
        index = 0;
        for (const PGM_COMMON_XML_ELEMENT* user :
             root->get_childs(PGM_COMMON_XML_ENUM_USER_TEMPLATE)) {
            ++index;
            m_places.emplace(
                "template:" + name_of(user, PGM_COMMON_XML_ENUM_TEMPLATE_NAME),
                PLACE{file, "QSPI_FLASH[1]/USER_TEMPLATE[" + std::to_string(index) + "]"});
        }
        if (golden)
            for (int t = 0; t < GFPDB_PROG_FLOW_TEMPLATE_COUNT; ++t)
                m_places.emplace("template:" + gfpdb_prog_flow_template_name[t],
                                 PLACE{file, std::string("QSPI_FLASH[1]/GOLDEN_TEMPLATE[1]/") +
                                                 golden_elements[t] + "[1]"});
    }

    // The user files of a folder in the order loading reads them.
    void add_folder(const std::string& folder) {
        if (folder.empty() || !m_folders.insert(folder).second)
            return;
        std::vector<std::string> files;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
            const std::string name = entry.path().filename().string();
            if (is_user_file(name) && name != "pgm_flash_db_qspi.xml" &&
                name != "pgm_flash_db_sdmmc.xml")
                files.push_back(entry.path().string());
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files)
            add_file(file, false);
    }

    // The file and line of a finding; line 0 when the file has no such element.
    std::pair<std::string, unsigned> locate(const GFPDB_LINT_FINDING& finding) {
        const std::string key = finding.device.empty() ? "template:" + finding.template_name
                                                       : "device:" + finding.device;
        const auto place = m_places.find(key);
        if (place == m_places.end())
            return {"", 0};
        const std::map<std::string, unsigned>& lines = lines_of(place->second.file);
        std::vector<std::string> paths = {place->second.path};
        if (finding.flow != GFPDB_LINT_NONE) {
            paths.push_back(paths.back() + "/PROGRAMMING_FLOW[1]/" + flow_elements[finding.flow] +
                            "[1]");
            if (finding.operation != GFPDB_LINT_NONE) {
                paths.push_back(paths.back() + "/" + operation_elements[finding.operation] + "[1]");
                if (finding.action != GFPDB_LINT_NONE)
                    paths.push_back(paths.back() + "/ACTION[" + std::to_string(finding.action + 1) +
                                    "]");
            }
        } else {
            for (const RULE_ELEMENT& row : rule_elements)
                if (finding.rule == row.rule)
                    paths.push_back(paths.back() + "/DEVICE_INFO[1]/" + row.element + "[1]");
        }
        for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
            const auto line = lines.find(*path);
            if (line != lines.end())
                return {place->second.file, line->second};
        }
        return {place->second.file, 0};
    }

private:
    const std::map<std::string, unsigned>& lines_of(const std::string& file) {
        auto cached = m_lines.find(file);
        if (cached == m_lines.end())
            cached = m_lines.emplace(file, PGM_COMMON_XML::element_lines(file)).first;
        return cached->second;
    }

    const SESSION& m_session;
    std::map<std::string, PLACE> m_places;
    std::set<std::string> m_folders;
    std::map<std::string, std::map<std::string, unsigned>> m_lines;
};

JSON findings_json(const std::vector<GFPDB_LINT_FINDING>& findings, LOCATOR* locator) {
    JSON list = JSON::array();
    for (const GFPDB_LINT_FINDING& finding : findings) {
        const auto [file, line] = locator ? locator->locate(finding) : std::make_pair("", 0u);
        list.push_back(lint_finding_json(finding, file, line));
    }
    return list;
}

std::set<std::string> disabled_rules(const SESSION& session) {
    return {session.options.disable.begin(), session.options.disable.end()};
}

// The files a path names: itself, or a folder's pgm_flash_*.xml files.
std::vector<std::string> files_of(const std::string& path) {
    std::error_code error;
    if (!fs::is_directory(path, error))
        return {path};
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
        if (is_user_file(entry.path().filename().string()))
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// A whole database: every golden and user record where loading found it.
JSON lint_database(SESSION& session) {
    GFPDB_MGR* manager = session.qspi_manager();
    LOCATOR locator(session);
    locator.add_file(session.host_dir + golden_file, true);
    locator.add_folder(session.db_host_dir);
    locator.add_folder(session.custom_dir);
    const GFPDB_QSPI_LINT lint(disabled_rules(session));
    return findings_json(lint.lint_database(manager), &locator);
}

void print_sarif(std::ostream& out, const JSON& document) {
    JSON rules = JSON::array();
    std::map<std::string, size_t> rule_index;
    for (const GFPDB_LINT_RULE_INFO& rule : gfpdb_lint_rules()) {
        rule_index[rule.id] = rules.size();
        rules.push_back(
            {{"id", rule.id},
             {"shortDescription", {{"text", rule.summary}}},
             {"defaultConfiguration", {{"level", gfpdb_lint_severity_name[rule.severity]}}}});
    }
    JSON results = JSON::array();
    for (const JSON& finding : document["findings"]) {
        const std::string rule = finding["rule"].get<std::string>();
        JSON result = {{"ruleId", rule},
                       {"ruleIndex", rule_index[rule]},
                       {"level", finding["severity"]},
                       {"message", {{"text", finding["message"]}}}};
        if (!finding["file"].is_null()) {
            JSON location = {
                {"artifactLocation", {{"uri", shown_path(finding["file"].get<std::string>())}}}};
            if (finding["line"].get<unsigned>() > 0)
                location["region"] = {{"startLine", finding["line"]}};
            result["locations"] = JSON::array({{{"physicalLocation", location}}});
        }
        results.push_back(result);
    }
    const JSON sarif = {
        {"$schema", sarif_schema},
        {"version", "2.1.0"},
        {"runs", JSON::array({{{"tool",
                                {{"driver",
                                  {{"name", "gfpdb"},
                                   {"version", GFPDB_VERSION::get_library_version()},
                                   {"rules", rules}}}}},
                               {"results", results}}})}};
    print_json(out, sarif);
}
}  // namespace

JSON lint_finding_json(const GFPDB_LINT_FINDING& finding, const std::string& file, unsigned line) {
    JSON json = {{"rule", finding.rule},
                 {"severity", gfpdb_lint_severity_name[finding.severity]},
                 {"file", file.empty() ? JSON() : JSON(file)},
                 {"line", line}};
    if (finding.device.empty())
        json["template"] = finding.template_name;
    else
        json["device"] = finding.device;
    json["flow"] = finding.flow == GFPDB_LINT_NONE ? JSON() : JSON(flow_elements[finding.flow]);
    json["operation"] =
        finding.operation == GFPDB_LINT_NONE ? JSON() : JSON(gfpdb_op_type_name[finding.operation]);
    json["action"] = finding.action == GFPDB_LINT_NONE ? JSON() : JSON(finding.action + 1);
    json["message"] = finding.message;
    return json;
}

void print_lint_findings(std::ostream& out, const JSON& findings) {
    for (const JSON& finding : findings) {
        std::string where;
        if (!finding["file"].is_null()) {
            where = shown_path(finding["file"].get<std::string>());
            if (finding["line"].get<unsigned>() > 0)
                where += ":" + std::to_string(finding["line"].get<unsigned>());
        } else {
            // Not in a file yet: the record and the place in its flows.
            where = finding.contains("device") ? finding["device"].get<std::string>()
                                               : finding["template"].get<std::string>();
            if (!finding["flow"].is_null())
                where += " " + finding["flow"].get<std::string>();
            if (!finding["operation"].is_null())
                where += " " + finding["operation"].get<std::string>();
            if (!finding["action"].is_null())
                where += " action " + std::to_string(finding["action"].get<unsigned>());
        }
        out << where << ": " << finding["severity"].get<std::string>() << ": "
            << finding["message"].get<std::string>() << " [" << finding["rule"].get<std::string>()
            << "]\n";
    }
}

size_t lint_error_count(const JSON& findings) {
    return static_cast<size_t>(std::count_if(findings.begin(), findings.end(), [](const JSON& f) {
        return f["severity"] == gfpdb_lint_severity_name[GFPDB_LINT_SEVERITY_ERROR];
    }));
}

JSON lint_file(SESSION& session, const std::string& file) {
    std::string first, rest;
    PGM_COMMON_XML::check_xsd(file, session.host_dir + qspi_schema, first, rest);
    if (!first.empty() || !rest.empty())
        return JSON::array();  // not a QSPI file that loads: check says why
    SCRATCH_FOLDER folder("gfpdb-lint");
    const std::string name = fs::path(file).filename().string();
    std::error_code error;
    if (folder.path().empty() ||
        !fs::copy_file(file, folder.path() + (is_user_file(name) ? name : "pgm_flash_linted.xml"),
                       error))
        return JSON::array();

    // Loading says its own piece through check; the lint only reads what loads.
    session.capture([](const POSTED&) {}, nullptr);
    GFPDB_MGR::set_db_custom_dir(folder.path());
    const std::unique_ptr<GFPDB_MGR> manager(new GFPDB_QSPI_MGR());
    session.end_capture();
    GFPDB_MGR::set_db_custom_dir(session.custom_dir.empty() ? session.db_host_dir
                                                            : session.custom_dir);

    const std::vector<GFPDB_FLASH*> devices = database_devices(manager.get());
    const GFPDB_QSPI_LINT lint(disabled_rules(session));
    std::vector<GFPDB_LINT_FINDING> findings;
    for (GFPDB_FLASH* flash : devices) {
        if (SESSION::folder_of(flash) != folder.path())
            continue;
        const std::vector<GFPDB_LINT_FINDING> more = lint.lint_flash(flash, devices);
        findings.insert(findings.end(), more.begin(), more.end());
    }
    LOCATOR locator(session);
    locator.add_file(file, false);
    for (std::string user : manager->get_user_template_list()) {
        // Templates of the host folder load too; only the file's own are linted.
        GFPDB_LINT_FINDING probe;
        probe.template_name = user;
        if (locator.locate(probe).first.empty())
            continue;
        const std::vector<GFPDB_LINT_FINDING> more = lint.lint_template(
            user, manager->get_user_template_operation_list(user, GFPDB_PROG_FLOW_TYPE_SFL),
            manager->get_user_template_operation_list(user, GFPDB_PROG_FLOW_TYPE_SDM));
        findings.insert(findings.end(), more.begin(), more.end());
    }
    return findings_json(findings, &locator);
}

std::vector<GFPDB_FLASH*> database_devices(GFPDB_MGR* manager) {
    std::vector<GFPDB_FLASH*> devices;
    for (const std::string& device : manager->get_new_config_device_list(
             manager->get_active_device_family(), manager->get_active_config_mode(), true))
        if (GFPDB_FLASH* flash = manager->get_flash(device, true))
            devices.push_back(flash);
    return devices;
}

JSON lint_flash_json(SESSION& session, GFPDB_FLASH* flash, const std::vector<GFPDB_FLASH*>& devices,
                     bool located) {
    const GFPDB_QSPI_LINT lint(disabled_rules(session));
    const std::vector<GFPDB_LINT_FINDING> findings = lint.lint_flash(flash, devices);
    if (!located)
        return findings_json(findings, nullptr);
    LOCATOR locator(session);
    if (flash->get_flash_removable_permission())
        locator.add_folder(SESSION::folder_of(flash));
    else
        locator.add_file(session.host_dir + golden_file, true);
    return findings_json(findings, &locator);
}

int run_lint(SESSION& session) {
    const OPTIONS& options = session.options;
    for (const std::string& rule : options.disable)
        if (!gfpdb_lint_rule_exists(rule)) {
            print_error("no lint rule '" + rule + "' (see the README's rule list)");
            return EXIT_USAGE;
        }
    JSON findings = JSON::array();
    if (options.paths.empty()) {
        findings = lint_database(session);
    } else {
        for (const std::string& path : options.paths)
            for (const std::string& file : files_of(path)) {
                std::error_code error;
                if (!fs::is_regular_file(file, error)) {
                    print_error("no such file: " + file);
                    return EXIT_USAGE;
                }
                for (const JSON& finding : lint_file(session, file))
                    findings.push_back(finding);
            }
    }
    // Like a compiler: file by file, line by line.
    std::stable_sort(findings.begin(), findings.end(), [](const JSON& a, const JSON& b) {
        return std::make_pair(a["file"].is_null() ? "" : a["file"].get<std::string>(),
                              a["line"].get<unsigned>()) <
               std::make_pair(b["file"].is_null() ? "" : b["file"].get<std::string>(),
                              b["line"].get<unsigned>());
    });
    const size_t errors = lint_error_count(findings);
    size_t warnings = 0;
    for (const JSON& finding : findings)
        warnings += finding["severity"] == gfpdb_lint_severity_name[GFPDB_LINT_SEVERITY_WARNING];
    const JSON document = {{"findings", findings}, {"errors", errors}, {"warnings", warnings}};
    if (options.sarif)
        print_sarif(std::cout, document);
    else
        emit(session, document, [](std::ostream& out, const JSON& shown) {
            print_lint_findings(out, shown["findings"]);
            out << shown["errors"].get<size_t>() << " errors, " << shown["warnings"].get<size_t>()
                << " warnings\n";
        });
    return errors ? EXIT_REJECTED : EXIT_OK;
}

}  // namespace gfpdb_cli
