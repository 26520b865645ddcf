// A QSPI flash device: its parameters and its SFL and SDM programming flows.
#include "pgm/gfpdb/gfpdb_qspi_flash.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_qspi_flash";
// The five operations of a flow.
constexpr size_t usual_operation_count = 5;
}  // namespace

struct GFPDB_QSPI_FLASH::PARAMETER {
    std::string GFPDB_QSPI_FLASH::*text;  // null: reads as "" and takes no text
    uint32_t GFPDB_QSPI_FLASH::*number;   // null: reads as 0 and takes no number
};

const GFPDB_QSPI_FLASH::PARAMETER* GFPDB_QSPI_FLASH::find_parameter(GFPDB_FLASH_PARAM param) {
    // Indexed by GFPDB_FLASH_PARAM. Name and density belong to the base record and are not
    // parameters here; the ID's number form is its bytes as a word (get_id_in_dword).
    static const PARAMETER parameters[] = {
        {nullptr, nullptr},                                    // NAME
        {&GFPDB_QSPI_FLASH::m_device_id, nullptr},             // ID
        {&GFPDB_QSPI_FLASH::m_io_voltage, nullptr},            // IO_VOLTAGE
        {nullptr, nullptr},                                    // DENSITY
        {nullptr, &GFPDB_QSPI_FLASH::m_total_device_die},      // TOTAL_DIE
        {nullptr, &GFPDB_QSPI_FLASH::m_dummy_clock_cycle},     // DUMMY_CLK_CYCLE
        {nullptr, &GFPDB_QSPI_FLASH::m_dummy_clock_cycle_x4},  // DUMMY_CLK_CYCLE_X4
        {&GFPDB_QSPI_FLASH::m_template_name, nullptr},         // TEMPLATE_NAME
        {&GFPDB_QSPI_FLASH::m_prog_flow_template, nullptr},    // PROG_FLOW_TEMPLATE
    };
    const unsigned index = static_cast<unsigned>(param);
    return index < sizeof(parameters) / sizeof(parameters[0]) ? &parameters[index] : nullptr;
}

GFPDB_QSPI_FLASH::GFPDB_QSPI_FLASH(std::string name) : GFPDB_FLASH(std::move(name)) {
    m_sfl_operation_list.reserve(usual_operation_count);
    m_sdm_operation_list.reserve(usual_operation_count);
}

GFPDB_QSPI_FLASH::GFPDB_QSPI_FLASH(const GFPDB_QSPI_FLASH& other) : GFPDB_FLASH(other) {
    copy_fields_from(other);
}

GFPDB_QSPI_FLASH& GFPDB_QSPI_FLASH::operator=(const GFPDB_QSPI_FLASH& other) {
    if (this == &other)
        return *this;
    GFPDB_FLASH::operator=(other);
    clear_operation_list();
    copy_fields_from(other);
    return *this;
}

// Expects both flows of this flash to be empty.
void GFPDB_QSPI_FLASH::copy_fields_from(const GFPDB_QSPI_FLASH& other) {
    m_device_id = other.m_device_id;
    m_io_voltage = other.m_io_voltage;
    m_total_device_die = other.m_total_device_die;
    m_dummy_clock_cycle = other.m_dummy_clock_cycle;
    m_dummy_clock_cycle_x4 = other.m_dummy_clock_cycle_x4;
    m_prog_flow_template = other.m_prog_flow_template;
    m_template_name = other.m_template_name;
    const std::pair<std::vector<GFPDB_OPERATION*>*, const std::vector<GFPDB_OPERATION*>*> flows[] =
        {{&m_sfl_operation_list, &other.m_sfl_operation_list},
         {&m_sdm_operation_list, &other.m_sdm_operation_list}};
    for (const auto& flow : flows) {
        flow.first->reserve(std::max(usual_operation_count, flow.second->size()));
        // Only QSPI operations ever enter a QSPI flash (create_operation and the loader).
        for (GFPDB_OPERATION* operation : *flow.second)
            flow.first->push_back(
                new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(operation)));
    }
}

GFPDB_QSPI_FLASH::~GFPDB_QSPI_FLASH() {
    clear_operation_list();
}

DEV_FAMILY_ENUM GFPDB_QSPI_FLASH::get_family() {
    return DEV_FAMILY_QSPI_FLASH;
}

const std::string GFPDB_QSPI_FLASH::get_generic_name() {
    // In 32 bits: the largest QSPI density, 2048Mb, still fits as a bit count.
    const uint32_t bits = get_density_in_bytes() * 8u;
    char name[32] = "";
    if (bits >= (1u << 30))
        std::snprintf(name, sizeof(name), "QSPI%uGB", bits >> 30);
    else if (bits >= (1u << 27))
        std::snprintf(name, sizeof(name), "QSPI%uMB", bits >> 20);
    return name;
}

std::vector<GFPDB_OPERATION*>& GFPDB_QSPI_FLASH::flow_list(GFPDB_PROG_FLOW_TYPE flow) {
    switch (flow) {
        case GFPDB_PROG_FLOW_TYPE_SFL:
            return m_sfl_operation_list;
        case GFPDB_PROG_FLOW_TYPE_SDM:
            return m_sdm_operation_list;
    }
    GFPDB_FAIL("Unknown programming flow type", source);
}

const std::vector<GFPDB_OPERATION*>* GFPDB_QSPI_FLASH::get_operation_list(
    GFPDB_PROG_FLOW_TYPE flow) {
    return &flow_list(flow);
}

void GFPDB_QSPI_FLASH::add_operation_into_list(GFPDB_OPERATION* operation,
                                               GFPDB_PROG_FLOW_TYPE flow) {
    GFPDB_ASSERT(operation, source);
    flow_list(flow).push_back(operation);
}

void GFPDB_QSPI_FLASH::set_operation_list(std::vector<GFPDB_OPERATION*> operation_list,
                                          GFPDB_PROG_FLOW_TYPE flow) {
    GFPDB_ASSERT(!operation_list.empty(), source);
    std::vector<GFPDB_OPERATION*>& list = flow_list(flow);
    gfpdb_delete_last_first(list);
    list.assign(operation_list.begin(), operation_list.end());
}

void GFPDB_QSPI_FLASH::clear_operation_list() {
    gfpdb_delete_last_first(m_sfl_operation_list);
    gfpdb_delete_last_first(m_sdm_operation_list);
}

const std::string GFPDB_QSPI_FLASH::get_parameter_value(GFPDB_FLASH_PARAM param) {
    const PARAMETER* parameter = find_parameter(param);
    return parameter && parameter->text ? this->*parameter->text : std::string();
}

uint32_t GFPDB_QSPI_FLASH::get_parameter_value_in_dword(GFPDB_FLASH_PARAM param, uint32_t* mask) {
    if (param == GFPDB_FLASH_PARAM_ID)
        return get_id_in_dword(mask);
    const PARAMETER* parameter = find_parameter(param);
    return parameter && parameter->number ? this->*parameter->number : 0;
}

void GFPDB_QSPI_FLASH::set_parameter_value(GFPDB_FLASH_PARAM param, uint32_t value) {
    if (param == GFPDB_FLASH_PARAM_ID) {
        m_device_id = std::to_string(static_cast<int32_t>(value));
        return;
    }
    const PARAMETER* parameter = find_parameter(param);
    if (!parameter || !parameter->number)
        MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown flash parameter: %d",
                                        static_cast<int>(param));
    this->*parameter->number = value;
}

void GFPDB_QSPI_FLASH::set_parameter_value(GFPDB_FLASH_PARAM param, std::string value) {
    const PARAMETER* parameter = find_parameter(param);
    if (!parameter || !parameter->text)
        MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown flash parameter: %d",
                                        static_cast<int>(param));
    this->*parameter->text = std::move(value);
}

uint32_t GFPDB_QSPI_FLASH::get_id_in_dword(uint32_t* mask) {
    uint32_t value = 0;
    uint32_t byte_count = 0;
    // An empty or unparsable ID is the word 0 under the mask 0.
    gfpdb_data_list_to_dword(m_device_id, &value, &byte_count);
    if (mask)
        *mask = byte_count >= 4 ? 0xFFFFFFFFu : (1u << (8 * byte_count)) - 1;
    return value;
}
