// An SD/MMC card record: a name, an I/O voltage and a density; only the SDM flow exists.
#include "pgm/gfpdb/gfpdb_sdmmc_flash.h"

#include "host/mem.h"
#include "host/msg.h"
#include "pgm/gfpdb/gfpdb_internal.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_sdmmc_flash";
MEM_INITIALIZER mem_initializer("GFPDB");

// There is no SD/MMC operation class to copy operations with, and sharing them would make
// copy and source delete the same objects. Nothing ever gives an SD/MMC record operations,
// so a copy of one that has them is a programming error.
void check_copyable(const std::vector<GFPDB_OPERATION*>& operation_list) {
    GFPDB_ASSERT(operation_list.empty(), source);
}
}  // namespace

GFPDB_SDMMC_FLASH::GFPDB_SDMMC_FLASH(std::string name) : GFPDB_FLASH(std::move(name)) {}

GFPDB_SDMMC_FLASH::GFPDB_SDMMC_FLASH(const GFPDB_SDMMC_FLASH& other)
    : GFPDB_FLASH(other), m_io_voltage(other.m_io_voltage) {
    check_copyable(other.m_sdm_operation_list);
}

GFPDB_SDMMC_FLASH& GFPDB_SDMMC_FLASH::operator=(const GFPDB_SDMMC_FLASH& other) {
    if (this == &other)
        return *this;
    check_copyable(other.m_sdm_operation_list);
    clear_operation_list();
    GFPDB_FLASH::operator=(other);
    m_io_voltage = other.m_io_voltage;
    return *this;
}

GFPDB_SDMMC_FLASH::~GFPDB_SDMMC_FLASH() {
    GFPDB_SDMMC_FLASH::clear_operation_list();
}

DEV_FAMILY_ENUM GFPDB_SDMMC_FLASH::get_family() {
    return DEV_FAMILY_SDMMC_FLASH;
}

const std::string GFPDB_SDMMC_FLASH::get_generic_name() {
    const uint64_t bytes = get_density_in_bytes_qword();
    std::string name;
    if (bytes < 1073741824ULL)
        MEM_DETAIL::stl_raw_sprintf(&name, "SDMMC_%dMB", static_cast<int>(bytes >> 20));
    else
        MEM_DETAIL::stl_raw_sprintf(&name, "SDMMC_%dGB", static_cast<int>(bytes >> 30));
    return name;
}

const std::vector<GFPDB_OPERATION*>* GFPDB_SDMMC_FLASH::get_operation_list(
    GFPDB_PROG_FLOW_TYPE flow) {
    if (flow != GFPDB_PROG_FLOW_TYPE_SDM)
        GFPDB_FAIL("Unknown programming flow type", source);
    return &m_sdm_operation_list;
}

void GFPDB_SDMMC_FLASH::add_operation_into_list(GFPDB_OPERATION* operation,
                                                GFPDB_PROG_FLOW_TYPE flow) {
    GFPDB_ASSERT(operation, source);
    if (flow != GFPDB_PROG_FLOW_TYPE_SDM)
        GFPDB_FAIL("Unknown programming flow type", source);
    m_sdm_operation_list.push_back(operation);
}

void GFPDB_SDMMC_FLASH::set_operation_list(std::vector<GFPDB_OPERATION*> operation_list,
                                           GFPDB_PROG_FLOW_TYPE flow) {
    GFPDB_ASSERT(!operation_list.empty(), source);
    if (flow != GFPDB_PROG_FLOW_TYPE_SDM)
        GFPDB_FAIL("Unknown programming flow type", source);
    clear_operation_list();
    m_sdm_operation_list = std::move(operation_list);
}

void GFPDB_SDMMC_FLASH::clear_operation_list() {
    gfpdb_delete_last_first(m_sdm_operation_list);
}

const std::string GFPDB_SDMMC_FLASH::get_parameter_value(GFPDB_FLASH_PARAM param) {
    return param == GFPDB_FLASH_PARAM_IO_VOLTAGE ? m_io_voltage : std::string();
}

uint32_t GFPDB_SDMMC_FLASH::get_parameter_value_in_dword(GFPDB_FLASH_PARAM param, uint32_t*) {
    // A card is one die; it has no ID or other number.
    return param == GFPDB_FLASH_PARAM_TOTAL_DIE ? 1 : 0;
}

void GFPDB_SDMMC_FLASH::set_parameter_value(GFPDB_FLASH_PARAM param, uint32_t) {
    MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown flash parameter: %d",
                                    param);
}

void GFPDB_SDMMC_FLASH::set_parameter_value(GFPDB_FLASH_PARAM param, std::string value) {
    if (param != GFPDB_FLASH_PARAM_IO_VOLTAGE) {
        MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown flash parameter: %d",
                                        param);
    }
    m_io_voltage = std::move(value);
}
