// An SD/MMC card: a name, an I/O voltage and a density.
#pragma once

#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

// Copying is deep for the (always empty in practice) SDM operation list, so that copy and
// source never delete the same operation.
class GFPDB_EXPORT GFPDB_SDMMC_FLASH : public GFPDB_FLASH {
public:
    explicit GFPDB_SDMMC_FLASH(std::string name);
    GFPDB_SDMMC_FLASH(const GFPDB_SDMMC_FLASH& other);
    GFPDB_SDMMC_FLASH& operator=(const GFPDB_SDMMC_FLASH& other);

    ~GFPDB_SDMMC_FLASH() override;
    DEV_FAMILY_ENUM get_family() override;
    // "SDMMC_<n>MB" below 1 GiB, else "SDMMC_<n>GB".
    const std::string get_generic_name() override;
    const std::vector<GFPDB_OPERATION*>* get_operation_list(GFPDB_PROG_FLOW_TYPE flow) override;
    void add_operation_into_list(GFPDB_OPERATION* operation, GFPDB_PROG_FLOW_TYPE flow) override;
    void set_operation_list(std::vector<GFPDB_OPERATION*> operation_list,
                            GFPDB_PROG_FLOW_TYPE flow) override;
    void clear_operation_list() override;
    const std::string get_parameter_value(GFPDB_FLASH_PARAM param) override;
    uint32_t get_parameter_value_in_dword(GFPDB_FLASH_PARAM param,
                                          uint32_t* mask = nullptr) override;
    void set_parameter_value(GFPDB_FLASH_PARAM param, uint32_t value) override;
    void set_parameter_value(GFPDB_FLASH_PARAM param, std::string value) override;

private:
    std::string m_io_voltage;
    std::vector<GFPDB_OPERATION*> m_sdm_operation_list;
};
