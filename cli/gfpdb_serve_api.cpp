// The JSON API of `gfpdb serve`: reads, checks and changes the database through the managers.
#include "cli/gfpdb_serve_api.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"
#include "pgm/gfpdb/gfpdb_sfdp_draft.h"

namespace gfpdb_cli {
namespace {

// How the editor shows and checks each device parameter. Name and density belong to the record
// itself; the numbers are checked as numbers, the rest as text.
enum PARAM_KIND { PARAM_TEXT, PARAM_NUMBER, PARAM_NAME, PARAM_DENSITY };
struct PARAMETER {
    GFPDB_FLASH_PARAM param;
    const char* key;
    const char* label;
    PARAM_KIND kind;
    bool optional;  // an empty value is left out rather than checked
};
const PARAMETER parameters[] = {
    {GFPDB_FLASH_PARAM_NAME, "name", "Name", PARAM_NAME, false},
    {GFPDB_FLASH_PARAM_ID, "id", "ID", PARAM_TEXT, false},
    {GFPDB_FLASH_PARAM_IO_VOLTAGE, "io_voltage", "I/O voltage", PARAM_TEXT, false},
    {GFPDB_FLASH_PARAM_DENSITY, "density", "Density", PARAM_DENSITY, false},
    {GFPDB_FLASH_PARAM_TOTAL_DIE, "total_die", "Total dies", PARAM_NUMBER, false},
    {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, "dummy_clock_cycle", "Dummy clock cycles", PARAM_NUMBER,
     false},
    {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, "dummy_clock_cycle_x4", "Dummy clock cycles (x4)",
     PARAM_NUMBER, false},
    {GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, "prog_flow_template", "Programming flow template",
     PARAM_TEXT, false},
    {GFPDB_FLASH_PARAM_TEMPLATE_NAME, "template_name", "Also save flows as template", PARAM_TEXT,
     true},
};

const PARAMETER* find_parameter(const std::string& key) {
    for (const PARAMETER& row : parameters)
        if (key == row.key)
            return &row;
    return nullptr;
}

// The values the library offers for a parameter; null where any text may be typed.
JSON parameter_choices(GFPDB_MGR* manager, GFPDB_FLASH_PARAM param) {
    switch (param) {
        case GFPDB_FLASH_PARAM_IO_VOLTAGE:
            return manager->get_device_io_voltage_list();
        case GFPDB_FLASH_PARAM_DENSITY:
            return manager->get_device_density_list();
        case GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE:
            return manager->get_prog_flow_template_list();
        default:
            return nullptr;
    }
}

std::string parameter_text(GFPDB_FLASH* flash, const PARAMETER& row) {
    switch (row.kind) {
        case PARAM_NAME:
            return flash->get_name();
        case PARAM_DENSITY:
            return flash->get_density();
        case PARAM_NUMBER:
            return std::to_string(flash->get_parameter_value_in_dword(row.param));
        case PARAM_TEXT:
            break;
    }
    return flash->get_parameter_value(row.param);
}

// A JSON value as the text a field holds: numbers are accepted as well as strings.
bool text_of(const JSON& value, std::string* text) {
    if (value.is_string())
        *text = value.get<std::string>();
    else if (value.is_number_unsigned())
        *text = std::to_string(value.get<uint64_t>());
    else
        return false;
    return true;
}

// The action type that owns each property, from the actions the manager makes.
GFPDB_ACT_TYPE owner_type(GFPDB_MGR* manager, GFPDB_ACT_PROPERTY property) {
    for (int type = 0; type < GFPDB_ACT_TYPE_COUNT; ++type) {
        std::unique_ptr<GFPDB_ACTION> action(
            manager->create_action(static_cast<GFPDB_ACT_TYPE>(type)));
        const std::vector<GFPDB_ACT_PROPERTY> list = action->get_property_enum_list();
        if (std::find(list.begin(), list.end(), property) != list.end())
            return static_cast<GFPDB_ACT_TYPE>(type);
    }
    return GFPDB_ACT_TYPE_CUSTOM;  // unreachable: every property belongs to a type
}

JSON property_json(GFPDB_ACTION* action, GFPDB_ACT_PROPERTY property) {
    const bool fixed = !action->property_value_is_enable(property);
    // Only the bus widths have a list of allowed values.
    const bool listed = std::string(property_key(property)) == "bus_width";
    return {{"property", static_cast<int>(property)},
            {"key", property_key(property)},
            {"label", action->get_property_name(property)},
            {"value", action->get_property_value(property)},
            {"fixed", fixed},
            {"choices", listed ? JSON(action->get_property_value_list(property)) : JSON()}};
}

JSON action_json(GFPDB_ACTION* action) {
    JSON properties = JSON::array();
    for (GFPDB_ACT_PROPERTY property : action->get_property_enum_list())
        properties.push_back(property_json(action, property));
    return {{"type", static_cast<int>(action->get_action_type())},
            {"type_name", gfpdb_act_type_name[action->get_action_type()]},
            {"properties", properties},
            {"findings", JSON::array()}};
}

JSON flow_json_of(const std::vector<GFPDB_OPERATION*>* operations) {
    JSON flow = JSON::array();
    for (GFPDB_OPERATION* operation : *operations) {
        JSON actions = JSON::array();
        for (GFPDB_ACTION* action : *operation->get_action_list())
            actions.push_back(action_json(action));
        flow.push_back({{"type", static_cast<int>(operation->get_operation_type())},
                        {"operation", operation->get_name()},
                        {"description", operation->get_operation_description()},
                        {"actions", actions}});
    }
    return flow;
}

JSON flows_json(
    const std::function<const std::vector<GFPDB_OPERATION*>*(GFPDB_PROG_FLOW_TYPE)>& flow_of) {
    JSON flows = JSON::object();
    for (const auto& [key, flow] : chosen_flows(""))
        flows[key] = flow_json_of(flow_of(flow));
    return flows;
}

}  // namespace

// Operations built from a request, owned here until a record takes them.
struct BUILT_FLOWS {
    std::vector<GFPDB_OPERATION*> lists[2];  // indexed by GFPDB_PROG_FLOW_TYPE
    BUILT_FLOWS() = default;
    BUILT_FLOWS(const BUILT_FLOWS&) = delete;
    BUILT_FLOWS& operator=(const BUILT_FLOWS&) = delete;
    ~BUILT_FLOWS() {
        for (auto& list : lists)
            for (GFPDB_OPERATION* operation : list)
                delete operation;
    }
    // Hands the operations to a record, which owns them from then on.
    void give_to(GFPDB_FLASH* flash) {
        for (int flow = 0; flow < 2; ++flow) {
            if (!lists[flow].empty())
                flash->set_operation_list(lists[flow], static_cast<GFPDB_PROG_FLOW_TYPE>(flow));
            lists[flow].clear();
        }
    }
};

namespace {

void copy_flows(
    const std::function<const std::vector<GFPDB_OPERATION*>*(GFPDB_PROG_FLOW_TYPE)>& flow_of,
    BUILT_FLOWS& built) {
    for (const auto& [key, flow] : chosen_flows(""))
        for (GFPDB_OPERATION* operation : *flow_of(flow))
            built.lists[flow].push_back(
                new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(operation)));
}

JSON field_error(const std::string& field, const API::VERDICT& verdict) {
    return {{"field", field}, {"message", verdict.message}, {"id", verdict.id}};
}

API_REPLY refused_fields(const JSON& fields) {
    API_REPLY reply = API::refuse(400, fields[0]["message"], fields[0]["id"]);
    reply.body["error"]["fields"] = fields;
    return reply;
}

std::string template_file_name(const std::string& name) {
    return "pgm_flash_template_" + name + ".xml";
}

bool is_user_template(GFPDB_MGR* manager, const std::string& name) {
    const std::vector<std::string> user = manager->get_user_template_list();
    return std::find(user.begin(), user.end(), name) != user.end();
}

// Puts each finding on the action it names in `flows` (as flows_json gives them); answers the
// findings about the record, a flow or an operation as a whole.
JSON place_findings(const std::vector<GFPDB_LINT_FINDING>& findings, JSON& flows) {
    JSON rest = JSON::array();
    for (const GFPDB_LINT_FINDING& finding : findings) {
        JSON shown = lint_finding_json(finding, "", 0);
        shown.erase("file");  // not in a file: the page shows it at its place
        shown.erase("line");
        JSON* action = nullptr;
        for (const auto& [key, flow] : chosen_flows(""))
            if (finding.action != GFPDB_LINT_NONE && flow == finding.flow)
                for (JSON& operation : flows[key])
                    if (!action && operation["type"] == finding.operation &&
                        static_cast<size_t>(finding.action) < operation["actions"].size())
                        action = &operation["actions"][static_cast<size_t>(finding.action)];
        (action ? (*action)["findings"] : rest).push_back(shown);
    }
    return rest;
}

// The bytes of a base64 text (blanks and line breaks allowed); false when it is none.
bool base64_decode(const std::string& text, std::string* bytes) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    uint32_t buffer = 0;
    int bits = 0;
    bool padded = false;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        const size_t value = alphabet.find(c);
        if (value == std::string::npos || padded)
            return false;
        buffer = (buffer << 6 | static_cast<uint32_t>(value)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes->push_back(static_cast<char>(buffer >> bits & 0xFF));
        }
    }
    return true;
}
// Sets a record's values from a checked body and hands it the built flows.
void fill_record(GFPDB_FLASH* flash, const JSON& values, BUILT_FLOWS& built) {
    for (const PARAMETER& row : parameters) {
        std::string text;
        if (row.kind == PARAM_NAME || !values.contains(row.key) || !text_of(values[row.key], &text))
            continue;
        if (row.kind == PARAM_DENSITY)
            flash->set_density(text);
        else if (row.kind == PARAM_NUMBER)
            flash->set_parameter_value(row.param, PGM_COMMON::convert_string_to_dword(text, true));
        else
            flash->set_parameter_value(row.param, text);
    }
    built.give_to(flash);
}
}  // namespace

API_REPLY API::refuse(int status, const std::string& message, const JSON& id) {
    return {status, {{"error", {{"message", message}, {"id", id}}}}};
}

API_REPLY API::refused_change(const std::string& what) const {
    // The file system failed (500), or the library kept a file it would not overwrite (409).
    const int status = FIO_FILE_SYSTEM::last_failure().error != 0 ? 500 : 409;
    if (m_posted.empty())
        return refuse(status, what);
    return refuse(status, what + " " + m_posted.back().text, m_posted.back().id);
}

void API::begin() {
    m_posted.clear();
    m_session.capture([this](const POSTED& posted) { m_posted.push_back(posted); }, nullptr);
}

void API::end() {
    m_session.end_capture();
}

API::VERDICT API::ask(const std::function<bool(std::string*)>& validator) {
    const size_t before = m_posted.size();
    std::string error;
    if (validator(&error))
        return {true, "", nullptr};
    return {false, error, m_posted.size() > before ? JSON(m_posted.back().id) : JSON()};
}

API::VERDICT API::check_parameter(GFPDB_MGR* manager, const std::string& key, const JSON& value) {
    const PARAMETER* row = find_parameter(key);
    std::string text;
    if (!row)
        return {false, "There is no device parameter '" + key + "'.", nullptr};
    if (!text_of(value, &text))
        return {false, std::string(row->label) + " must be given as text.", nullptr};
    if (row->kind != PARAM_NUMBER)
        return ask([&](std::string* error) {
            return manager->is_parameter_valid(row->param, text, error);
        });
    bool ok = false;
    const uint32_t number = PGM_COMMON::convert_string_to_dword(text, true, &ok);
    if (!ok)
        return {false, std::string(row->label) + " '" + text + "' is not a number.", nullptr};
    return ask(
        [&](std::string* error) { return manager->is_parameter_valid(row->param, number, error); });
}

API::VERDICT API::check_property(GFPDB_ACT_PROPERTY property, const std::string& value) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    std::unique_ptr<GFPDB_ACTION> action(manager->create_action(owner_type(manager, property)));
    return ask([&](std::string* error) {
        return action->property_value_is_valid(property, value, error);
    });
}

std::string API::folder_for(const JSON& body, std::string* problem) const {
    const std::string chosen = body.value("folder", std::string("custom"));
    if (chosen == "host")
        return m_session.db_host_dir;
    if (chosen != "custom") {
        *problem = "The folder must be \"custom\" or \"host\", not '" + chosen + "'.";
        return "";
    }
    if (m_session.custom_dir.empty())
        *problem =
            "No custom folder is set: start the server with --custom-dir, or save in the "
            "host folder.";
    return m_session.custom_dir;
}

API_REPLY API::families(const API_REQUEST&) {
    JSON rows = JSON::array();
    for (GFPDB_MGR* manager : m_session.managers())
        for (DEV_FAMILY_ENUM family : manager->get_device_family_list()) {
            const PGMDEV_DEVICE_INFO* info = family_info(family);
            rows.push_back({{"family", static_cast<int>(family)},
                            {"name", info ? info->get_name() : ""},
                            {"flash", flash_kind_name(manager)},
                            {"io_voltage", info ? info->get_flash_io_voltage() : ""},
                            {"flow", info && info->is_sdm_flow() ? "SDM" : "SFL"}});
        }
    JSON schemes = JSON::array();
    for (PGMIO_CONFIG_SCHEME scheme : m_session.qspi_manager()->get_config_mode_list())
        schemes.push_back(static_cast<int>(scheme));
    return {200, {{"families", rows}, {"schemes", schemes}}};
}

API_REPLY API::vocabulary(const API_REQUEST&) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    JSON fields = JSON::array();
    for (const PARAMETER& row : parameters)
        fields.push_back({{"key", row.key},
                          {"label", row.label},
                          {"number", row.kind == PARAM_NUMBER},
                          {"optional", row.optional},
                          {"choices", parameter_choices(manager, row.param)}});
    JSON operations = JSON::array();
    for (int type = 0; type < GFPDB_OP_TYPE_COUNT; ++type)
        operations.push_back({{"type", type},
                              {"operation", gfpdb_op_type_name[type]},
                              {"description", gfpdb_op_type_description[type]}});
    JSON actions = JSON::array();
    for (int type = 0; type < GFPDB_ACT_TYPE_COUNT; ++type) {
        std::unique_ptr<GFPDB_ACTION> action(
            manager->create_action(static_cast<GFPDB_ACT_TYPE>(type)));
        actions.push_back(action_json(action.get()));
    }
    return {200,
            {{"parameters", fields},
             {"operations", operations},
             {"actions", actions},
             {"folders",
              {{"host", m_session.db_host_dir},
               {"custom", m_session.custom_dir.empty() ? JSON() : JSON(m_session.custom_dir)}}}}};
}

API_REPLY API::devices(const API_REQUEST& request) {
    DEV_FAMILY_ENUM family = DEV_FAMILY_NONE;
    const auto family_text = request.query.find("family");
    const bool family_given = family_text != request.query.end() && !family_text->second.empty();
    if (family_given)
        family = parse_family(family_text->second);
    PGMIO_CONFIG_SCHEME scheme = PGMIO_CONFIG_SCHEME_NONE;
    const auto scheme_text = request.query.find("scheme");
    const bool scheme_given = scheme_text != request.query.end() && !scheme_text->second.empty();
    bool scheme_ok = !scheme_given;
    if (scheme_given)
        scheme = static_cast<PGMIO_CONFIG_SCHEME>(
            PGM_COMMON::convert_string_to_dword(scheme_text->second, true, &scheme_ok));
    bool served = !family_given, scheme_served = !scheme_given;
    JSON rows = JSON::array();
    // Every manager's devices, or those of the manager that serves the family; each manager
    // lists with its own active scheme unless one is given.
    for (GFPDB_MGR* manager : m_session.managers()) {
        const std::vector<DEV_FAMILY_ENUM> families = manager->get_device_family_list();
        if (family_given && std::find(families.begin(), families.end(), family) == families.end())
            continue;
        const std::vector<PGMIO_CONFIG_SCHEME> schemes = manager->get_config_mode_list();
        if (scheme_given && std::find(schemes.begin(), schemes.end(), scheme) == schemes.end())
            continue;
        served = scheme_served = true;
        // Without a family every device is listed.
        const DEV_FAMILY_ENUM list_family =
            family_given ? family : manager->get_active_device_family();
        const PGMIO_CONFIG_SCHEME list_scheme =
            scheme_given ? scheme : manager->get_active_config_mode();
        std::vector<std::string> legacy =
            manager->get_legacy_config_device_list(list_family, list_scheme, !family_given);
        JSON these = JSON::array();
        for (const std::string& name :
             manager->get_new_config_device_list(list_family, list_scheme, !family_given)) {
            if (!manager->device_is_legacy(name, true))
                these.push_back(device_row(m_session, manager->get_flash(name, true)));
            else if (std::find(legacy.begin(), legacy.end(), name) == legacy.end())
                legacy.push_back(name);
        }
        for (const std::string& name : legacy)
            these.push_back(legacy_row(name));
        for (JSON& row : these) {
            row["flash"] = flash_kind_name(manager);
            rows.push_back(row);
        }
    }
    if (family_given && (family == DEV_FAMILY_NONE || !served))
        return refuse(400, "No device family '" + family_text->second + "'.");
    if (!scheme_ok || !scheme_served)
        return refuse(400, "No configuration scheme '" + scheme_text->second + "'.");
    return {200, {{"devices", rows}}};
}

JSON API::device_json(GFPDB_MGR* manager, const std::string& name) {
    if (manager->device_is_legacy(name, true)) {
        JSON device = legacy_row(name);
        device["flash"] = flash_kind_name(manager);
        device["editable"] = false;
        return device;
    }
    GFPDB_FLASH* flash = manager->get_flash(name, true);
    JSON device = device_row(m_session, flash);
    device["flash"] = flash_kind_name(manager);
    device.update(record_json(manager, flash));
    device["generic_name"] = flash->get_generic_name();
    device["editable"] = flash->get_flash_removable_permission();
    device["operations_editable"] = manager->get_operation_editable_permission(flash);
    return device;
}

JSON API::record_json(GFPDB_MGR* manager, GFPDB_FLASH* flash) {
    JSON values = JSON::array();
    for (const PARAMETER& row : parameters)
        values.push_back({{"key", row.key},
                          {"label", row.label},
                          // Saving as a template is a choice of each save, not a stored value.
                          {"value", row.optional ? std::string() : parameter_text(flash, row)},
                          {"number", row.kind == PARAM_NUMBER},
                          {"optional", row.optional},
                          {"choices", parameter_choices(manager, row.param)}});
    JSON flows =
        flows_json([flash](GFPDB_PROG_FLOW_TYPE flow) { return flash->get_operation_list(flow); });
    const GFPDB_QSPI_LINT lint(
        {m_session.options.disable.begin(), m_session.options.disable.end()});
    const JSON findings = place_findings(lint.lint_flash(flash, database_devices(manager)), flows);
    return {{"parameters", values}, {"flows", flows}, {"findings", findings}};
}

API_REPLY API::device(const API_REQUEST& request) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    const std::string& name = request.path.at(0);
    if (manager->device_exist_in_db(name, true))
        return {200, device_json(manager, name)};
    // Other kinds of flash are shown, not edited: they have parameters and no flows.
    for (GFPDB_MGR* other : m_session.managers()) {
        if (other == manager || !other->device_exist_in_db(name, true))
            continue;
        if (other->device_is_legacy(name, true)) {
            JSON device = legacy_row(name);
            device["flash"] = flash_kind_name(other);
            device["editable"] = false;
            return {200, device};
        }
        GFPDB_FLASH* flash = other->get_flash(name, true);
        JSON device = device_row(m_session, flash);
        JSON values = JSON::array();
        for (const PARAMETER& row : parameters)
            if (row.kind != PARAM_NAME && !row.optional && other->is_parameter_valid(row.param))
                values.push_back({{"key", row.key},
                                  {"label", row.label},
                                  {"value", parameter_text(flash, row)},
                                  {"number", row.kind == PARAM_NUMBER},
                                  {"optional", false},
                                  {"choices", nullptr}});
        device["flash"] = flash_kind_name(other);
        device["parameters"] = values;
        device["generic_name"] = flash->get_generic_name();
        device["editable"] = false;
        return {200, device};
    }
    return refuse(404, "No device '" + name + "' in the database.");
}

// Checks every value of a device or template body and builds its flows; the first refusal of
// each field is reported, all fields at once.
static bool build_flows(
    GFPDB_MGR* manager, const JSON& flows, BUILT_FLOWS& built, JSON& errors,
    const std::function<API::VERDICT(GFPDB_ACT_PROPERTY, const std::string&)>& check) {
    for (const auto& [key, flow] : chosen_flows("")) {
        const auto given = flows.find(key);
        if (given == flows.end())
            continue;
        if (!given->is_array()) {
            errors.push_back(field_error(key, {false, "A flow is a list of operations.", nullptr}));
            continue;
        }
        for (size_t op_index = 0; op_index < given->size(); ++op_index) {
            const JSON& operation = (*given)[op_index];
            const std::string op_field = key + "." + std::to_string(op_index);
            const int op_type = operation.is_object() ? operation.value("type", -1) : -1;
            if (op_type < 0 || op_type >= GFPDB_OP_TYPE_COUNT) {
                errors.push_back(
                    field_error(op_field, {false, "Unknown operation type.", nullptr}));
                continue;
            }
            GFPDB_OPERATION* built_operation =
                manager->create_operation(static_cast<GFPDB_OP_TYPE>(op_type));
            built.lists[flow].push_back(built_operation);
            const JSON actions = operation.value("actions", JSON::array());
            for (size_t act_index = 0; act_index < actions.size(); ++act_index) {
                const JSON& action = actions[act_index];
                const std::string act_field = op_field + "." + std::to_string(act_index);
                const int act_type = action.is_object() ? action.value("type", -1) : -1;
                if (act_type < 0 || act_type >= GFPDB_ACT_TYPE_COUNT) {
                    errors.push_back(
                        field_error(act_field, {false, "Unknown action type.", nullptr}));
                    continue;
                }
                GFPDB_ACTION* built_action =
                    manager->create_action(static_cast<GFPDB_ACT_TYPE>(act_type));
                built_operation->add_action_into_list(built_action);
                const std::vector<GFPDB_ACT_PROPERTY> own = built_action->get_property_enum_list();
                for (const JSON& property : action.value("properties", JSON::array())) {
                    const int number = property.is_object() ? property.value("property", -1) : -1;
                    std::string text;
                    if (std::find(own.begin(), own.end(), number) == own.end() ||
                        !property.contains("value") || !text_of(property["value"], &text)) {
                        errors.push_back(field_error(
                            act_field,
                            {false, "A property of this action is unknown or has no text.",
                             nullptr}));
                        continue;
                    }
                    built_action->set_property_value(static_cast<GFPDB_ACT_PROPERTY>(number), text);
                }
                // Every property is written to the file, so every one must pass, defaults too.
                for (GFPDB_ACT_PROPERTY property : own) {
                    const API::VERDICT verdict =
                        check(property, built_action->get_property_value(property));
                    if (!verdict.ok)
                        errors.push_back(
                            field_error(act_field + "." + std::to_string(property), verdict));
                }
            }
        }
    }
    return errors.empty();
}

API_REPLY API::create_device(const API_REQUEST& request) {
    if (!request.body.is_object())
        return refuse(400, "The request needs a JSON object.");
    if (request.body.contains("sfdp"))
        return create_from_sfdp(request.body);
    return store_device(request.body.value("name", std::string()), request.body, false);
}

API_REPLY API::save_device(const API_REQUEST& request) {
    if (!request.body.is_object())
        return refuse(400, "The request needs a JSON object.");
    return store_device(request.path.at(0), request.body, true);
}

JSON API::check_device(GFPDB_MGR* manager, const std::string& name, const JSON& body, bool new_name,
                       BUILT_FLOWS& built, bool* copied) {
    JSON errors = JSON::array();
    if (new_name) {
        const VERDICT verdict = check_parameter(manager, "name", name);
        if (!verdict.ok)
            errors.push_back(field_error("name", verdict));
    }
    const JSON values = body.value("parameters", JSON::object());
    if (!values.is_object())
        return JSON::array({field_error(
            "parameters", {false, "The parameters are an object of values by key.", nullptr})});
    for (const PARAMETER& row : parameters) {
        if (row.kind == PARAM_NAME)
            continue;
        const auto given = values.find(row.key);
        if (row.optional && (given == values.end() || *given == "" || given->is_null()))
            continue;
        if (given == values.end()) {
            errors.push_back(
                field_error(row.key, {false, std::string(row.label) + " has no value.", nullptr}));
            continue;
        }
        const VERDICT verdict = check_parameter(manager, row.key, *given);
        if (!verdict.ok)
            errors.push_back(field_error(row.key, verdict));
    }
    std::string template_name, flow_template;
    text_of(values.value("template_name", JSON("")), &template_name);
    text_of(values.value("prog_flow_template", JSON("")), &flow_template);
    if (!template_name.empty() && template_name == name)
        errors.push_back(field_error(
            "template_name",
            {false, "The template cannot take the device's own name '" + name + "'.", nullptr}));

    *copied = false;
    if (body.contains("flows")) {
        build_flows(manager, body["flows"], built, errors,
                    [this](GFPDB_ACT_PROPERTY property, const std::string& value) {
                        return check_property(property, value);
                    });
    } else if (errors.empty()) {
        // A new device without flows of its own copies its template's.
        if (!gfpdb_template_flow(manager, flow_template, GFPDB_PROG_FLOW_TYPE_SFL)) {
            errors.push_back(field_error(
                "prog_flow_template",
                {false, "No programming-flow template '" + flow_template + "'.", nullptr}));
        } else {
            copy_flows(
                [&](GFPDB_PROG_FLOW_TYPE flow) {
                    return gfpdb_template_flow(manager, flow_template, flow);
                },
                built);
            *copied = true;
        }
    }
    return errors;
}

API_REPLY API::store_device(const std::string& name, const JSON& body, bool replacing) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    std::string folder;
    if (replacing) {
        if (!manager->device_exist_in_db(name, true))
            return refuse(404, "No device '" + name + "' in the database.");
        if (manager->device_is_legacy(name, true))
            return refuse(409, "'" + name + "' is a built-in device of the programmer.");
        GFPDB_FLASH* stored = manager->get_flash(name, true);
        if (!stored->get_flash_removable_permission())
            return refuse(409, "'" + name +
                                   "' is a golden device and cannot be changed; create a new "
                                   "device from it.");
        folder = SESSION::folder_of(stored);
    } else {
        std::string problem;
        folder = folder_for(body, &problem);
        if (!problem.empty())
            return refuse(400, problem);
    }

    BUILT_FLOWS built;
    bool copied = false;
    const JSON errors = check_device(manager, name, body, !replacing, built, &copied);
    if (!errors.empty())
        return refused_fields(errors);
    const JSON& values = body.at("parameters");
    const std::string template_name = values.value("template_name", std::string());

    GFPDB_FLASH* flash = manager->create_flash(name);
    fill_record(flash, values, built);
    // A template's flows fitted to the chip, as `gfpdb add` fits them.
    const std::vector<std::string> adapted =
        copied ? gfpdb_qspi_adapt_flash(flash) : std::vector<std::string>();

    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    begin();
    FIO_FILE_SYSTEM::clear_last_failure();
    if (!manager->update_db(flash, folder)) {
        // Only the template was refused when the record went into the maps.
        if (manager->device_exist_in_db(name, true) && manager->get_flash(name, true) == flash)
            return refused_change("'" + name + "' was saved, but not its template '" +
                                  template_name + "'.");
        // The manager never took the record: it lets go of it, and it goes here.
        manager->get_flash("", true);
        delete flash;
        return refused_change("Could not save '" + name + "' in " + folder + ".");
    }
    JSON device = device_json(manager, name);
    device["file"] = folder + "pgm_flash_" + name + ".xml";
    device["adapted"] = adapted;
    return {replacing ? 200 : 201, device};
}

API_REPLY API::delete_device(const API_REQUEST& request) {
    const std::string& name = request.path.at(0);
    GFPDB_MGR* manager = m_session.qspi_manager();
    if (!manager->device_exist_in_db(name, true))
        return refuse(404, "No device '" + name + "' in the database.");
    if (manager->device_is_legacy(name, true))
        return refuse(409, "'" + name + "' is a built-in device of the programmer.");
    GFPDB_FLASH* flash = manager->get_flash(name, true);
    if (!flash->get_flash_removable_permission())
        return refuse(409, "'" + name + "' is a golden device and cannot be deleted.");
    const std::string folder = SESSION::folder_of(flash);
    FIO_FILE_SYSTEM::clear_last_failure();
    if (!manager->delete_db(name, folder))
        return refused_change("Could not delete '" + name + "' from " + folder + ".");
    // A copy in the other folder, or a golden one, takes over once the database is loaded again.
    GFPDB_HELPER::refresh_flash_managers();
    manager = m_session.qspi_manager();
    JSON now_from = nullptr;
    if (manager->device_exist_in_db(name, true))
        now_from = manager->device_is_legacy(name, true)
                       ? "legacy"
                       : m_session.source_of(manager->get_flash(name, true));
    return {200, {{"deleted", name}, {"folder", folder}, {"now_from", now_from}}};
}

API_REPLY API::templates(const API_REQUEST&) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    JSON rows = JSON::array();
    for (const std::string& name : manager->get_prog_flow_template_list()) {
        JSON row = {{"name", name}, {"kind", is_user_template(manager, name) ? "user" : "golden"}};
        for (const auto& [key, flow] : chosen_flows("")) {
            size_t actions = 0;
            for (GFPDB_OPERATION* operation : *gfpdb_template_flow(manager, name, flow))
                actions += operation->get_action_list()->size();
            row[key + "_actions"] = actions;
        }
        rows.push_back(row);
    }
    return {200, {{"templates", rows}}};
}

API_REPLY API::template_flows(const API_REQUEST& request) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    const std::string& name = request.path.at(0);
    if (!gfpdb_template_flow(manager, name, GFPDB_PROG_FLOW_TYPE_SFL))
        return refuse(404, "No programming-flow template '" + name + "'.");
    return {200,
            {{"name", name},
             {"kind", is_user_template(manager, name) ? "user" : "golden"},
             {"flows", flows_json([&](GFPDB_PROG_FLOW_TYPE flow) {
                  return gfpdb_template_flow(manager, name, flow);
              })}}};
}

API_REPLY API::create_template(const API_REQUEST& request) {
    if (!request.body.is_object())
        return refuse(400, "The request needs a JSON object.");
    return save_template_flows(request, request.body.value("name", std::string()), false);
}

API_REPLY API::save_template(const API_REQUEST& request) {
    return save_template_flows(request, request.path.at(0), true);
}

API_REPLY API::save_template_flows(const API_REQUEST& request, const std::string& name,
                                   bool replace) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    const JSON& body = request.body;
    if (!body.is_object())
        return refuse(400, "The request needs a JSON object.");
    std::string folder;
    if (replace) {
        if (!is_user_template(manager, name))
            return refuse(404, "No user template '" + name + "'.");
        if (manager->device_exist_in_db(name, true))
            return refuse(409, "A device is named '" + name +
                                   "' too; the template cannot be "
                                   "replaced without touching it.");
        // The template is written again where its file lies.
        folder = m_session.db_host_dir;
        std::error_code ignored;
        if (!m_session.custom_dir.empty() &&
            std::filesystem::exists(m_session.custom_dir + template_file_name(name), ignored))
            folder = m_session.custom_dir;
    } else {
        std::string problem;
        folder = folder_for(body, &problem);
        if (!problem.empty())
            return refuse(400, problem);
    }

    JSON errors = JSON::array();
    if (!replace) {
        const VERDICT verdict = ask([&](std::string* error) {
            return manager->is_parameter_valid(GFPDB_FLASH_PARAM_TEMPLATE_NAME, name, error);
        });
        if (!verdict.ok)
            errors.push_back(field_error("name", verdict));
    }
    BUILT_FLOWS built;
    build_flows(manager, body.value("flows", JSON::object()), built, errors,
                [this](GFPDB_ACT_PROPERTY property, const std::string& value) {
                    return check_property(property, value);
                });
    if (!errors.empty())
        return refused_fields(errors);

    // A record of the manager's own class that the manager never holds: it only lends the
    // template its name and flows, and goes when this request ends.
    GFPDB_QSPI_FLASH record(name);
    record.set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, name);
    built.give_to(&record);
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    // The library writes a template only under a name no template has: the old one goes
    // first, kept here to be written back if the new one is refused.
    GFPDB_QSPI_FLASH old(name);
    if (replace) {
        old.set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, name);
        BUILT_FLOWS kept;
        copy_flows(
            [&](GFPDB_PROG_FLOW_TYPE flow) { return gfpdb_template_flow(manager, name, flow); },
            kept);
        kept.give_to(&old);
        begin();
        FIO_FILE_SYSTEM::clear_last_failure();
        if (!manager->delete_template(name))
            return refused_change("Could not replace the template '" + name +
                                  "'; it is unchanged.");
    }
    begin();
    FIO_FILE_SYSTEM::clear_last_failure();
    if (!manager->update_template_db(&record, folder)) {
        std::string refused = "Could not save the template '" + name + "' in " + folder;
        if (replace)
            refused += manager->update_template_db(&old, folder)
                           ? "; the old one is kept"
                           : "; nor could the old one be written back";
        return refused_change(refused + ".");
    }
    API_REPLY reply = template_flows({{name}, {}, nullptr});
    reply.status = replace ? 200 : 201;
    reply.body["file"] = folder + template_file_name(name);
    return reply;
}

API_REPLY API::delete_template(const API_REQUEST& request) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    const std::string& name = request.path.at(0);
    if (!is_user_template(manager, name))
        return refuse(404, gfpdb_template_flow(manager, name, GFPDB_PROG_FLOW_TYPE_SFL)
                               ? "'" + name + "' is a golden template and cannot be deleted."
                               : "No user template '" + name + "'.");
    // Deleting by name reaches a device of that name first.
    if (manager->device_exist_in_db(name, true))
        return refuse(409, "A device is named '" + name +
                               "' too; the template cannot be deleted without touching it.");
    begin();
    FIO_FILE_SYSTEM::clear_last_failure();
    if (!manager->delete_template(name))
        return refused_change("Could not delete the template '" + name + "'.");
    return {200, {{"deleted_template", name}}};
}

API_REPLY API::validate(const API_REQUEST& request) {
    const JSON& body = request.body;
    if (!body.is_object() || !body.contains("value"))
        return refuse(400, "The request needs {\"parameter\" or \"property\", \"value\"}.");
    GFPDB_MGR* manager = m_session.qspi_manager();
    VERDICT verdict;
    JSON choices = nullptr;
    if (body.contains("parameter") && body["parameter"].is_string()) {
        const std::string key = body["parameter"].get<std::string>();
        verdict = check_parameter(manager, key, body["value"]);
        if (const PARAMETER* row = find_parameter(key))
            choices = parameter_choices(manager, row->param);
    } else if (body.contains("property") && body["property"].is_number_integer()) {
        const int number = body["property"].get<int>();
        std::string text;
        if (number < 0 || number >= GFPDB_ACT_PROPERTY_COUNT)
            return refuse(400, "There is no action property " + std::to_string(number) + ".");
        if (!text_of(body["value"], &text))
            return refuse(400, "The value must be given as text.");
        const auto property = static_cast<GFPDB_ACT_PROPERTY>(number);
        verdict = check_property(property, text);
        std::unique_ptr<GFPDB_ACTION> action(manager->create_action(owner_type(manager, property)));
        choices = property_json(action.get(), property)["choices"];
    } else {
        return refuse(400, "The request needs {\"parameter\" or \"property\", \"value\"}.");
    }
    if (verdict.ok)
        return {200, {{"ok", true}, {"choices", choices}}};
    return {
        200,
        {{"ok", false}, {"message", verdict.message}, {"id", verdict.id}, {"choices", choices}}};
}

API_REPLY API::lint(const API_REQUEST& request) {
    const JSON& body = request.body;
    if (!body.is_object())
        return refuse(400, "The request needs a JSON object.");
    GFPDB_MGR* manager = m_session.qspi_manager();
    const std::string name = body.value("name", std::string());
    BUILT_FLOWS built;
    bool copied = false;
    // The name only labels the findings: an edited device keeps its own.
    const JSON errors = check_device(manager, name, body, false, built, &copied);
    if (!errors.empty())
        return refused_fields(errors);
    GFPDB_QSPI_FLASH record(name);  // never the manager's: it goes with this request
    fill_record(&record, body.at("parameters"), built);
    if (copied)
        gfpdb_qspi_adapt_flash(&record);
    const JSON shown = record_json(manager, &record);
    // Only the findings go back, by operation and action index: the page keeps its values.
    JSON places = JSON::object();
    for (const auto& [key, operations] : shown["flows"].items()) {
        places[key] = JSON::array();
        for (const JSON& operation : operations) {
            JSON actions = JSON::array();
            for (const JSON& action : operation["actions"])
                actions.push_back(action["findings"]);
            places[key].push_back(actions);
        }
    }
    return {200, {{"findings", shown["findings"]}, {"flows", places}}};
}

API_REPLY API::create_from_sfdp(const JSON& body) {
    GFPDB_MGR* manager = m_session.qspi_manager();
    const std::string name = body.value("name", std::string());
    JSON given = body.value("parameters", JSON::object());
    if (!given.is_object())
        given = JSON::object();
    JSON errors = JSON::array();
    // The ID and the I/O voltage are not in the tables; the rest is drafted unless given.
    for (const char* key : {"id", "io_voltage"})
        if (!given.contains(key))
            given[key] = "";
    for (const auto& [key, value] : given.items()) {
        if (value.is_null() || (value == "" && key != "id" && key != "io_voltage"))
            continue;
        const VERDICT verdict = check_parameter(manager, key, value);
        if (!verdict.ok)
            errors.push_back(field_error(key, verdict));
    }
    std::string problem;
    folder_for(body, &problem);
    if (!problem.empty())
        return refuse(400, problem);
    const VERDICT named = check_parameter(manager, "name", name);
    if (!named.ok)
        errors.insert(errors.begin(), field_error("name", named));
    std::string content;
    if (!body["sfdp"].is_string() || !base64_decode(body["sfdp"].get<std::string>(), &content))
        errors.push_back(
            field_error("sfdp", {false, "The dump must be sent as base64 text.", nullptr}));
    if (!errors.empty())
        return refused_fields(errors);

    GFPDB_SFDP sfdp;
    std::string error;
    if (!gfpdb_sfdp_read_dump(content, &sfdp, &error))
        return refused_fields(JSON::array({field_error("sfdp", {false, error, nullptr})}));
    const auto text = [&given](const char* key) {
        std::string value;
        text_of(given.value(key, JSON("")), &value);
        return value;
    };
    const auto number = [&text](const char* key) {
        bool ok = false;
        const uint32_t value = PGM_COMMON::convert_string_to_dword(text(key), true, &ok);
        return ok ? static_cast<int>(value) : -1;
    };
    GFPDB_SFDP_DRAFT_INPUT input;
    input.id = text("id");
    input.voltage = text("io_voltage");
    input.density = text("density");
    input.dies = number("total_die");
    input.dummy = number("dummy_clock_cycle");
    input.dummy_x4 = number("dummy_clock_cycle_x4");
    input.template_name = text("prog_flow_template");
    GFPDB_QSPI_FLASH record(name);  // the draft, never the manager's
    GFPDB_SFDP_DRAFT draft;
    if (!gfpdb_sfdp_draft_device(manager, sfdp, input, &record, &draft, &error))
        return refused_fields(JSON::array({field_error("sfdp", {false, error, nullptr})}));
    // As `gfpdb add --sfdp` saves it: the template's flows fitted to the chip.
    gfpdb_qspi_adapt_flash(&record);

    JSON shown = record_json(manager, &record);
    JSON drafted = JSON::array();
    for (const GFPDB_SFDP_DRAFT_VALUE& value : draft.report)
        drafted.push_back({{"what", value.what},
                           {"value", value.value},
                           {"source", value.source},
                           {"note", value.note}});
    // The draft saves as any new device with its values and flows.
    JSON device_body = {{"folder", body.value("folder", JSON("custom"))},
                        {"parameters", JSON::object()},
                        {"flows", shown["flows"]}};
    for (JSON& parameter : shown["parameters"])
        if (parameter["key"] != "name")
            device_body["parameters"][parameter["key"].get<std::string>()] =
                parameter["optional"].get<bool>() ? given.value(parameter["key"], JSON(""))
                                                  : parameter["value"];
    if (body.value("dry_run", false)) {
        BUILT_FLOWS built;
        bool copied = false;
        shown["name"] = name;
        shown["template"] = draft.template_name;
        shown["drafted"] = drafted;
        shown["warnings"] = sfdp.warnings;
        // What a save would refuse, each at its field, for the user to fix first.
        shown["errors"] = check_device(manager, name, device_body, true, built, &copied);
        return {200, shown};
    }
    API_REPLY reply = store_device(name, device_body, false);
    if (reply.status == 201) {
        reply.body["drafted"] = drafted;
        reply.body["warnings"] = sfdp.warnings;
    }
    return reply;
}

}  // namespace gfpdb_cli
