// The host folder check: what a manager needs of the folder before it is built.
#include "pgm/gfpdb/gfpdb_host_check.h"

#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "host/fio.h"
#include "host/msg.h"
#include "host/pgm_common_xml.h"
#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"

namespace {

// The golden files and the schemas that read them, under the host folder.
struct GOLDEN_FILE {
    PGM_COMMON_XML_FILE_ENUM kind;
    const char* file;
    const char* schema;
    bool sdmmc;
};
const GOLDEN_FILE golden_files[] = {
    {PGM_COMMON_XML_FILE_GFPDB_QSPI, "xml/pgm_flash_db_qspi.xml", "xsd/gfpdb_qspi.xsd", false},
    {PGM_COMMON_XML_FILE_GFPDB_SDMMC, "xml/pgm_flash_db_sdmmc.xml", "xsd/gfpdb_sdmmc.xsd", true},
};

// Elements the QSPI loader requires exactly once beyond the element classes' own counts: the
// golden templates (in GFPDB_PROG_FLOW_TEMPLATE order) and the programming flow of each.
const PGM_COMMON_XML_ENUM golden_vendors[] = {
    PGM_COMMON_XML_ENUM_MICRON, PGM_COMMON_XML_ENUM_MACRONIX, PGM_COMMON_XML_ENUM_CYPRESS,
    PGM_COMMON_XML_ENUM_WINBOND};

std::string missing_vendor(const PGM_COMMON_XML_ELEMENT* root) {
    const auto one = [](const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
        return parent->get_child_count(kind) == 1 ? parent->get_childs(kind).front() : nullptr;
    };
    const PGM_COMMON_XML_ELEMENT* golden = one(root, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE);
    if (!golden)
        return "exactly one GOLDEN_TEMPLATE is required";
    for (PGM_COMMON_XML_ENUM vendor : golden_vendors) {
        const PGM_COMMON_XML_ELEMENT* element = one(golden, vendor);
        if (!element || !one(element, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW))
            return std::string("GOLDEN_TEMPLATE requires exactly one ") +
                   pgm_common_xml_enum_name(vendor) + " with one PROGRAMMING_FLOW";
    }
    return "";
}

// The device values loading puts to the validators, in its order; SD/MMC cards have two.
struct DEVICE_VALUE {
    PGM_COMMON_XML_ENUM element;
    GFPDB_FLASH_PARAM param;
    bool number;
    bool sdmmc;
};
const DEVICE_VALUE device_values[] = {
    {PGM_COMMON_XML_ENUM_DEVICE_ID, GFPDB_FLASH_PARAM_ID, false, false},
    {PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE, GFPDB_FLASH_PARAM_IO_VOLTAGE, false, true},
    {PGM_COMMON_XML_ENUM_DEVICE_DENSITY, GFPDB_FLASH_PARAM_DENSITY, false, true},
    {PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, GFPDB_FLASH_PARAM_TOTAL_DIE, true, false},
    {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, true, false},
    {PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, true, false},
};

const PGM_COMMON_XML_ENUM flows[] = {PGM_COMMON_XML_ENUM_SFL, PGM_COMMON_XML_ENUM_SDM};
const PGM_COMMON_XML_ENUM flow_operations[] = {
    PGM_COMMON_XML_ENUM_INITIALIZATION, PGM_COMMON_XML_ENUM_PROGRAM, PGM_COMMON_XML_ENUM_ERASE,
    PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE, PGM_COMMON_XML_ENUM_TERMINATION};

// A validator explains a refusal only with a warning posted beside it; the check names the
// problem itself, so the host's message window stays quiet while it runs.
class QUIET_WARNINGS {
public:
    QUIET_WARNINGS() {
        MSG_INDEX* index = MSG_INDEX::get_default_index();
        for (unsigned id = first; id <= last; ++id)
            if (!index->is_filtered(id)) {
                index->set_filtered(id, true);
                m_quieted.push_back(id);
            }
    }
    ~QUIET_WARNINGS() {
        for (unsigned id : m_quieted)
            MSG_INDEX::get_default_index()->set_filtered(id, false);
    }
    QUIET_WARNINGS(const QUIET_WARNINGS&) = delete;
    QUIET_WARNINGS& operator=(const QUIET_WARNINGS&) = delete;

private:
    static constexpr unsigned first = GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
    static constexpr unsigned last = GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE;
    std::vector<unsigned> m_quieted;
};

// Walks a golden file as its loader reads it and puts every value to the loader's validators;
// the first one refused is the problem, at its line.
class GOLDEN_VALUES {
public:
    GOLDEN_VALUES(GFPDB_MGR& validator, const std::string& file)
        : m_validator(validator), m_file(file) {}

    std::string problem(const PGM_COMMON_XML_ELEMENT* root, bool sdmmc) {
        const QUIET_WARNINGS quiet;
        const ELEMENT top{root, std::string(root->get_name()) + "[1]"};
        if (!sdmmc) {
            const ELEMENT golden = first(top, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE);
            for (size_t vendor = 0; vendor < std::size(golden_vendors); ++vendor)
                check_flows(first(golden, golden_vendors[vendor]),
                            "template " + gfpdb_prog_flow_template_name[vendor]);
        }
        std::map<std::string, ELEMENT> names;  // of the devices read, with their elements
        for (const ELEMENT& flash : children(top, PGM_COMMON_XML_ENUM_FLASH)) {
            if (!m_problem.empty())
                break;
            const ELEMENT info = first(flash, PGM_COMMON_XML_ENUM_DEVICE_INFO);
            const ELEMENT name_element = first(info, PGM_COMMON_XML_ENUM_DEVICE_NAME);
            const std::string name =
                name_element.element ? name_element.element->get_value_text() : std::string();
            const std::string place = "device " + name;
            for (const DEVICE_VALUE& value : device_values)
                if (!sdmmc || value.sdmmc)
                    check_device_value(first(info, value.element), value, place);
            if (!gfpdb_name_fits_file_name(name))
                found(name_element, place,
                      "the name is empty, holds a folder separator or a character a file cannot "
                      "hold.");
            if (!sdmmc)
                check_flows(flash, place);
            const auto earlier = names.emplace(name, name_element);
            if (!earlier.second)
                found(name_element, place,
                      "a device of this name is defined before, at line " +
                          std::to_string(line_of(earlier.first->second)) + ".");
        }
        return m_problem;
    }

private:
    // An element with its path in the form of PGM_COMMON_XML::element_lines.
    struct ELEMENT {
        const PGM_COMMON_XML_ELEMENT* element;
        std::string path;
    };

    static std::vector<ELEMENT> children(const ELEMENT& parent, PGM_COMMON_XML_ENUM kind) {
        std::vector<ELEMENT> found;
        if (!parent.element)
            return found;
        for (const PGM_COMMON_XML_ELEMENT* child : parent.element->get_childs(kind))
            found.push_back({child, parent.path + "/" + child->get_name() + "[" +
                                        std::to_string(found.size() + 1) + "]"});
        return found;
    }
    static ELEMENT first(const ELEMENT& parent, PGM_COMMON_XML_ENUM kind) {
        const std::vector<ELEMENT> found = children(parent, kind);
        return found.empty() ? ELEMENT{nullptr, parent.path} : found.front();
    }
    // Lines are looked up only for a problem: a sound file is not read a second time.
    unsigned line_of(const ELEMENT& at) {
        if (m_lines.empty())
            m_lines = PGM_COMMON_XML::element_lines(m_file);
        const auto line = m_lines.find(at.path);
        return line == m_lines.end() ? 0 : line->second;
    }

    // Keeps the first problem found: the one loading would stop at.
    void found(const ELEMENT& at, const std::string& place, const std::string& message) {
        if (!m_problem.empty())
            return;
        const unsigned line = line_of(at);
        m_problem = m_file + (line ? ":" + std::to_string(line) : std::string()) + ": " + place +
                    ": " + message;
    }

    void check_device_value(const ELEMENT& leaf, const DEVICE_VALUE& value,
                            const std::string& place) {
        if (!leaf.element)
            return;  // the element counts, checked before, require every value
        const std::string text = leaf.element->get_value_text();
        std::string error;
        const bool valid =
            value.number
                ? m_validator.is_parameter_valid(
                      value.param, static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)),
                      &error)
                : m_validator.is_parameter_valid(value.param, text, &error);
        if (!valid)
            found(leaf, place, error);
    }

    void check_flows(const ELEMENT& owner, const std::string& place) {
        const ELEMENT programming_flow = first(owner, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW);
        for (PGM_COMMON_XML_ENUM flow : flows) {
            const ELEMENT flow_element = first(programming_flow, flow);
            for (size_t op = 0; op < std::size(flow_operations); ++op) {
                size_t number = 0;
                for (const ELEMENT& action :
                     children(first(flow_element, flow_operations[op]), PGM_COMMON_XML_ENUM_ACTION))
                    check_action(action, place + ", " + pgm_common_xml_enum_name(flow) + " " +
                                             std::to_string(op + 1) + "." +
                                             std::to_string(++number));
            }
        }
    }

    void check_action(const ELEMENT& action, const std::string& place) {
        const std::string type = action.element->get_attribute_text("type");
        PGM_COMMON_XML_ENUM kind = PGM_COMMON_XML_ENUM__INVALID__;
        if (!pgm_common_xml_enum_from_name(type, &kind) || kind < PGM_COMMON_XML_ENUM_WRITE_REG ||
            kind > PGM_COMMON_XML_ENUM_CUSTOM) {
            found(action, place, "unknown action type '" + type + "'.");
            return;
        }
        const std::unique_ptr<GFPDB_ACTION> model(m_validator.create_action(
            static_cast<GFPDB_ACT_TYPE>(kind - PGM_COMMON_XML_ENUM_WRITE_REG)));
        for (GFPDB_ACT_PROPERTY property : model->get_property_enum_list()) {
            const ELEMENT value = first(action, gfpdb_qspi_property_element(property));
            if (!value.element) {
                found(action, place,
                      std::string("the action lacks its ") +
                          pgm_common_xml_enum_name(gfpdb_qspi_property_element(property)) +
                          " element.");
                continue;
            }
            const std::string text = value.element->get_value_text();
            // Loading reads a line-break escape in a description, which takes two characters.
            if (property == GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION && text.size() < 2) {
                found(value, place,
                      "the description '" + text + "' has fewer than two characters.");
                continue;
            }
            std::string error;
            if (!model->property_value_is_valid(property, text, &error))
                found(value, place, error);
        }
    }

    GFPDB_MGR& m_validator;
    const std::string m_file;
    std::map<std::string, unsigned> m_lines;
    std::string m_problem;
};
}  // namespace

std::string GFPDB_HOST_CHECK::problem(const std::string& host_dir, bool with_sdmmc) {
    const std::string folder =
        host_dir.empty() || host_dir.back() == '/' ? host_dir : host_dir + "/";
    if (folder.empty() || !FIO_FILE_SYSTEM::exists(folder))
        return "'" + host_dir + "' does not exist";
    for (const GOLDEN_FILE& golden : golden_files) {
        if (golden.sdmmc && !with_sdmmc)
            continue;
        const std::string file = folder + golden.file;
        const std::string schema = folder + golden.schema;
        if (!FIO_FILE_SYSTEM::exists(file))
            return file + " is missing";
        if (!FIO_FILE_SYSTEM::exists(schema))
            return schema + " is missing";
        std::string error, counts, info;
        const std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
            PGM_COMMON_XML::parse_xml(golden.kind, file, schema, true, error, counts, info));
        if (error.empty() && counts.empty() && !golden.sdmmc)
            counts = missing_vendor(root.get());
        // The reader's first text; it mostly names the file and the line already.
        const std::string texts = error.empty() ? counts : error;
        if (!texts.empty()) {
            const std::string broken = texts.substr(0, texts.find('\n'));
            return broken.compare(0, file.size(), file) == 0 ? broken
                                                             : file + " is broken: " + broken;
        }
        std::string value;
        if (golden.sdmmc) {
            GFPDB_SDMMC_MGR validator{GFPDB_SDMMC_MGR::UNLOADED{}};
            value = GOLDEN_VALUES(validator, file).problem(root.get(), true);
        } else {
            GFPDB_QSPI_MGR validator{GFPDB_QSPI_MGR::UNLOADED{}};
            value = GOLDEN_VALUES(validator, file).problem(root.get(), false);
        }
        if (!value.empty())
            return value;
    }
    return "";
}
