// Output of the gfpdb command: aligned columns, wrapped lines, flows, JSON and errors.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <sstream>

#include "cli/gfpdb_cli.h"

namespace gfpdb_cli {
namespace {

// The file format's element name of each action property, lower case, indexed by
// GFPDB_ACT_PROPERTY: a stable key for scripts, where labels repeat and two are empty.
const char* const property_keys[GFPDB_ACT_PROPERTY_COUNT] = {
    // Write Register
    "name", "command", "data", "delay", "bus_width",
    // Read Register
    "name", "command", "data_length", "expected_data", "expected_data_mask", "attempt_count",
    "delay", "bus_width",
    // Write Data
    "name", "command", "address", "data", "page_size", "addressing_mode", "delay", "bus_width",
    // Read Data
    "name", "command", "address", "data_length", "expected_data", "expected_data_mask",
    "addressing_mode", "dummy_clock_cycle", "delay", "bus_width",
    // Erase
    "name", "command", "address", "erase_size", "addressing_mode", "delay", "bus_width",
    // Custom: the two properties without a label
    "description", "direction"};

// The run's document state: whether one was printed, and the first error of a failed run.
bool emitted = false;
JSON first_error;

// Rules of fixed values, by the id of the message that rejects a value.
struct FIXED_ALLOWED {
    unsigned id;
    const char* text;
};
const char* const byte_list = "bytes separated by spaces, each 0x00 to 0xFF or 0 to 255";
const char* const number_text = "decimal digits, or 0x and hexadecimal digits";
const FIXED_ALLOWED fixed_allowed[] = {
    {GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "letters, digits and _ only, not db"},
    {GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE,
     "any name but Micron, Macronix, Cypress and Winbond"},
    {GFPDB_INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, byte_list},
    {GFPDB_INVALID_TOTAL_DEVICE_DIE, "1 or more"},
    {GFPDB_INVALID_DEVICE_DUMMY_CLOCK_CYCLE, "0 to 15"},
    {GFPDB_INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "letters, digits, _ and spaces, with at least one that is no space"},
    {GFPDB_INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "one byte, 0x00 to 0xFF or 0 to 255"},
    {GFPDB_INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR, byte_list},
    {GFPDB_INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR, byte_list},
    {GFPDB_INVALID_ACTION_DATA_WITH_SPECIAL_CHAR, byte_list},
    {GFPDB_INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, "1 to 256"},
    {GFPDB_INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, "1 or more"},
    {GFPDB_INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, "1 or more"},
    {GFPDB_INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, number_text},
    {GFPDB_INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, "256"},
    {GFPDB_INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, number_text},
    {GFPDB_INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, "1 or more"},
    {GFPDB_INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, "0 to 15"},
    {GFPDB_INVALID_ACTION_CUSTOM_DIRECTION, "start, end, nil"},
    {GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION, "any text that is not empty"},
    {GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     "letters, digits and _ only, not db"},
};

void print_cells(std::ostream& out, const std::vector<std::string>& cells,
                 const std::vector<size_t>& widths, size_t gap) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        line += cells[i];
        if (i + 1 < cells.size())
            line += std::string(widths[i] - cells[i].size() + gap, ' ');
    }
    out << line << '\n';
}

// A label for people: the property's own, else its key ("Description:").
std::string property_label(const JSON& property) {
    std::string label = property["label"].get<std::string>();
    if (label.empty()) {
        label = property["key"].get<std::string>() + ":";
        label[0] = static_cast<char>(label[0] - 'a' + 'A');
    }
    return label;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
}  // namespace

std::string cell_text(const JSON& cell) {
    if (cell.is_null())
        return "-";
    if (cell.is_boolean())
        return cell.get<bool>() ? "yes" : "no";
    if (cell.is_string())
        return cell.get<std::string>().empty() ? "-" : cell.get<std::string>();
    return cell.dump();
}

void print_table(std::ostream& out, const std::vector<COLUMN>& columns, const JSON& rows) {
    std::vector<size_t> widths;
    std::vector<std::string> headers;
    for (const COLUMN& column : columns) {
        headers.push_back(column.header);
        widths.push_back(headers.back().size());
    }
    std::vector<std::vector<std::string>> cells;
    for (const JSON& row : rows) {
        cells.emplace_back();
        for (size_t i = 0; i < columns.size(); ++i) {
            const auto found = row.find(columns[i].key);
            cells.back().push_back(cell_text(found == row.end() ? JSON() : *found));
            widths[i] = std::max(widths[i], cells.back().back().size());
        }
    }
    // Two spaces between columns, one when that is what keeps the table on the screen.
    size_t total = 0;
    for (size_t width : widths)
        total += width + 2;
    const size_t gap = total - 2 > LINE_WIDTH ? 1 : 2;
    print_cells(out, headers, widths, gap);
    for (const std::vector<std::string>& row : cells)
        print_cells(out, row, widths, gap);
}

void print_wrapped(std::ostream& out, const std::string& indent,
                   const std::vector<std::string>& items) {
    std::string line = indent;
    for (const std::string& item : items) {
        if (line.size() > indent.size() && line.size() + 2 + item.size() > LINE_WIDTH) {
            out << line << '\n';
            line = indent;
        }
        if (line.size() > indent.size())
            line += "  ";
        line += item;
    }
    if (line.size() > indent.size())
        out << line << '\n';
}

void print_text(std::ostream& out, const std::string& indent, const std::string& continuation,
                const std::string& text) {
    std::string line = indent;
    size_t start = line.size();
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (line.size() > start && line.size() + 1 + word.size() > LINE_WIDTH) {
            out << line << '\n';
            line = continuation;
            start = line.size();
        }
        if (line.size() > start)
            line += ' ';
        line += word;
    }
    out << line << '\n';
}

void print_fields(std::ostream& out, const std::string& indent,
                  const std::vector<std::pair<std::string, std::string>>& fields) {
    size_t width = 0;
    for (const auto& field : fields)
        width = std::max(width, field.first.size());
    for (const auto& [label, value] : fields)
        out << indent << label << std::string(width - label.size() + 2, ' ')
            << (value.empty() ? "-" : value) << '\n';
}

void print_json(std::ostream& out, const JSON& document) {
    // Texts come from user files: a stray byte must not stop the output.
    out << document.dump(2, ' ', false, JSON::error_handler_t::replace) << '\n';
}

void emit(const SESSION& session, const JSON& document,
          const std::function<void(std::ostream&, const JSON&)>& people) {
    emitted = true;
    if (session.options.json)
        print_json(std::cout, document);
    else
        people(std::cout, document);
}

void print_names(const JSON& rows) {
    for (const JSON& row : rows)
        std::cout << row["name"].get<std::string>() << '\n';
}

std::string shown_path(const std::string& path) {
    std::error_code error;
    std::string here = std::filesystem::current_path(error).string();
    if (!here.empty() && here.back() != '/')
        here += '/';
    return !error && path.size() > here.size() && path.compare(0, here.size(), here) == 0
               ? path.substr(here.size())
               : path;
}

void print_error(const std::string& text, unsigned id) {
    std::fprintf(stderr, "gfpdb: %s\n", text.c_str());
    std::fflush(stderr);
    if (first_error.is_null())
        first_error = {{"message", text}, {"id", id ? JSON(id) : JSON()}};
}

void emit_error_document(const OPTIONS& options) {
    if (options.json && !emitted)
        print_json(std::cout,
                   {{"error", first_error.is_null() ? JSON{{"message", "failed"}, {"id", nullptr}}
                                                    : first_error}});
}

std::string allowed_values(GFPDB_MGR* manager, unsigned id) {
    const auto joined = [](const std::vector<std::string>& items) {
        std::string text;
        for (const std::string& item : items)
            text += (text.empty() ? "" : ", ") + item;
        return text;
    };
    switch (id) {
        case GFPDB_INVALID_IO_VOLTAGE:
        case GFPDB_INCOMPATIBLE_IO_VOLTAGE:
            return joined(manager->get_device_io_voltage_list());
        case GFPDB_INVALID_DEVICE_DENSITY:
            return joined(manager->get_device_density_list());
        case GFPDB_INVALID_PROGRAMMING_FLOW_TEMPLATE:
            return joined(manager->get_prog_flow_template_list());
        default:
            break;
    }
    for (const FIXED_ALLOWED& fixed : fixed_allowed)
        if (fixed.id == id)
            return fixed.text;
    return "";
}

std::string suggested_name(const std::string& name) {
    static const std::string allowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
    std::string suggestion;
    for (const char c : name) {
        if (allowed.find(c) != std::string::npos)
            suggestion += c;
        else if (!suggestion.empty() && suggestion.back() != '_')
            suggestion += '_';
    }
    while (!suggestion.empty() && suggestion.back() == '_')
        suggestion.pop_back();
    if (suggestion.empty())
        return "DEVICE_1";
    // "db" and the golden template names are reserved.
    for (const char* reserved : {"db", "Micron", "Macronix", "Cypress", "Winbond"})
        if (suggestion == reserved)
            return suggestion + "_1";
    return suggestion;
}

std::string property_element_name(GFPDB_ACT_PROPERTY property) {
    std::string name = property_keys[property];
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return property == GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE ? "ACT_" + name : name;
}

const char* property_key(GFPDB_ACT_PROPERTY property) {
    return property_keys[property];
}

JSON flow_json(const std::vector<GFPDB_OPERATION*>* operations) {
    JSON flow = JSON::array();
    for (GFPDB_OPERATION* operation : *operations) {
        JSON actions = JSON::array();
        for (GFPDB_ACTION* action : *operation->get_action_list()) {
            JSON properties = JSON::array();
            for (GFPDB_ACT_PROPERTY property : action->get_property_enum_list())
                properties.push_back({{"key", property_keys[property]},
                                      {"label", action->get_property_name(property)},
                                      {"value", action->get_property_value(property)}});
            actions.push_back({{"type", gfpdb_act_type_name[action->get_action_type()]},
                               {"properties", properties}});
        }
        flow.push_back({{"operation", operation->get_name()},
                        {"description", operation->get_operation_description()},
                        {"actions", actions}});
    }
    return flow;
}

void print_flow(std::ostream& out, const std::string& title, const JSON& flow) {
    out << title << '\n';
    size_t operation_number = 0;
    for (const JSON& operation : flow) {
        ++operation_number;
        const size_t count = operation["actions"].size();
        out << "  " << operation_number << ' ' << operation["operation"].get<std::string>() << " ("
            << count << (count == 1 ? " action)" : " actions)") << '\n';
        size_t action_number = 0;
        for (const JSON& action : operation["actions"]) {
            ++action_number;
            std::string header = "    " + std::to_string(operation_number) + "." +
                                 std::to_string(action_number) + " " +
                                 action["type"].get<std::string>();
            std::vector<std::string> items;
            std::vector<const JSON*> blocks;  // values of several lines
            for (const JSON& property : action["properties"]) {
                const std::string value = property["value"].get<std::string>();
                if (property["key"] == "name")
                    header += ": " + value;
                else if (value.find('\n') != std::string::npos)
                    blocks.push_back(&property);
                else
                    items.push_back(property_label(property) + " " + (value.empty() ? "-" : value));
            }
            out << header << '\n';
            print_wrapped(out, "        ", items);
            for (const JSON* block : blocks) {
                out << "        " << property_label(*block) << '\n';
                for (const std::string& line : split_lines((*block)["value"].get<std::string>()))
                    out << "          " << line << '\n';
            }
        }
    }
}

std::vector<std::pair<std::string, GFPDB_PROG_FLOW_TYPE>> chosen_flows(const std::string& flow) {
    std::vector<std::pair<std::string, GFPDB_PROG_FLOW_TYPE>> flows;
    if (flow != "sdm")
        flows.emplace_back("sfl", GFPDB_PROG_FLOW_TYPE_SFL);
    if (flow != "sfl")
        flows.emplace_back("sdm", GFPDB_PROG_FLOW_TYPE_SDM);
    return flows;
}

}  // namespace gfpdb_cli
