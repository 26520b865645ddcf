// The walk of a parsed flash file in loading's order, for the checks that place every value.
#include "pgm/gfpdb/gfpdb_file_walk.h"

#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

#include "pgm/gfpdb/gfpdb_internal.h"

namespace {

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

const PGM_COMMON_XML_ENUM flow_kinds[] = {PGM_COMMON_XML_ENUM_SFL, PGM_COMMON_XML_ENUM_SDM};

std::vector<GFPDB_FILE_WALK::ELEMENT> children(const GFPDB_FILE_WALK::ELEMENT& parent,
                                               PGM_COMMON_XML_ENUM kind) {
    std::vector<GFPDB_FILE_WALK::ELEMENT> found;
    if (!parent.element)
        return found;
    for (const PGM_COMMON_XML_ELEMENT* child : parent.element->get_childs(kind))
        found.push_back({child, parent.path + "/" + child->get_name() + "[" +
                                    std::to_string(found.size() + 1) + "]"});
    return found;
}
}  // namespace

GFPDB_FILE_WALK::ELEMENT GFPDB_FILE_WALK::first(const ELEMENT& parent, PGM_COMMON_XML_ENUM kind) {
    const std::vector<ELEMENT> found = children(parent, kind);
    return found.empty() ? ELEMENT{nullptr, parent.path} : found.front();
}

std::string GFPDB_FILE_WALK::text_of(const ELEMENT& at) {
    return at.element ? at.element->get_value_text() : std::string();
}

unsigned GFPDB_FILE_WALK::line_of(const ELEMENT& at) {
    if (m_lines.empty())
        m_lines = PGM_COMMON_XML::element_lines(m_file);
    const auto line = m_lines.find(at.path);
    return line == m_lines.end() ? 0 : line->second;
}

bool GFPDB_FILE_WALK::device_value_is_valid(GFPDB_FLASH_PARAM param, const std::string& text,
                                            std::string* error) const {
    for (const DEVICE_VALUE& value : device_values)
        if (value.param == param && value.number)
            return m_manager.is_parameter_valid(
                param, static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)), error);
    return m_manager.is_parameter_valid(param, text, error);
}

void GFPDB_FILE_WALK::walk(const PGM_COMMON_XML_ELEMENT* root) {
    const bool sdmmc = m_manager.get_flash_family() == DEV_FAMILY_SDMMC_FLASH;
    const ELEMENT top{root, std::string(root->get_name()) + "[1]"};
    if (!sdmmc) {
        const ELEMENT golden = first(top, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE);
        for (size_t vendor = 0; golden.element && vendor < std::size(gfpdb_golden_template_element);
             ++vendor)
            flows(first(golden, gfpdb_golden_template_element[vendor]),
                  "template " + gfpdb_prog_flow_template_name[vendor]);
    }
    for (const ELEMENT& flash : children(top, PGM_COMMON_XML_ENUM_FLASH)) {
        if (stopped())
            return;
        const ELEMENT info = first(flash, PGM_COMMON_XML_ENUM_DEVICE_INFO);
        const ELEMENT name = first(info, PGM_COMMON_XML_ENUM_DEVICE_NAME);
        const std::string place = "device " + text_of(name);
        for (const DEVICE_VALUE& value : device_values)
            if (!sdmmc || value.sdmmc)
                device_value(first(info, value.element), value.param, place);
        device(info, name, place);
        if (!sdmmc)
            flows(flash, place);
        device_end(name, place);
    }
    for (const ELEMENT& user : children(top, PGM_COMMON_XML_ENUM_USER_TEMPLATE)) {
        if (stopped())
            return;
        const ELEMENT name = first(user, PGM_COMMON_XML_ENUM_TEMPLATE_NAME);
        const std::string place = "template " + text_of(name);
        user_template(name, place);
        flows(user, place);
    }
}

void GFPDB_FILE_WALK::flows(const ELEMENT& owner, const std::string& place) {
    const ELEMENT programming_flow = first(owner, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW);
    for (PGM_COMMON_XML_ENUM flow : flow_kinds) {
        const ELEMENT flow_element = first(programming_flow, flow);
        // "SFL 2.3" is the third action of Program, the second operation to run.
        for (size_t op = 0; op < std::size(gfpdb_operation_element); ++op) {
            size_t number = 0;
            for (const ELEMENT& each : children(first(flow_element, gfpdb_operation_element[op]),
                                                PGM_COMMON_XML_ENUM_ACTION))
                action(each, place + ", " + pgm_common_xml_enum_name(flow) + " " +
                                 std::to_string(op + 1) + "." + std::to_string(++number));
        }
    }
}

void GFPDB_FILE_WALK::action(const ELEMENT& each, const std::string& place) {
    const std::string type = each.element->get_attribute_text("type");
    PGM_COMMON_XML_ENUM kind = PGM_COMMON_XML_ENUM__INVALID__;
    if (!pgm_common_xml_enum_from_name(type, &kind) || kind < PGM_COMMON_XML_ENUM_WRITE_REG ||
        kind > PGM_COMMON_XML_ENUM_CUSTOM) {
        unknown_action_type(each, type, place);
        return;
    }
    const std::unique_ptr<GFPDB_ACTION> model(
        m_manager.create_action(static_cast<GFPDB_ACT_TYPE>(kind - PGM_COMMON_XML_ENUM_WRITE_REG)));
    for (GFPDB_ACT_PROPERTY property : model->get_property_enum_list()) {
        const ELEMENT value = first(each, gfpdb_qspi_property_element(property));
        if (value.element)
            property_value(value, *model, property, place);
        else
            missing_property(each, property, place);
    }
}
