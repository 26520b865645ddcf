// A QSPI flash device: its parameters and its two programming flows, whose operations it owns.
#pragma once

#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

// Copying a flash is deep: the copy owns copies of both flows' operations and their actions,
// so that copy and source never delete the same object.
class GFPDB_EXPORT GFPDB_QSPI_FLASH : public GFPDB_FLASH {
public:
    explicit GFPDB_QSPI_FLASH(std::string name);
    GFPDB_QSPI_FLASH(const GFPDB_QSPI_FLASH& other);
    GFPDB_QSPI_FLASH& operator=(const GFPDB_QSPI_FLASH& other);

    ~GFPDB_QSPI_FLASH() override;
    DEV_FAMILY_ENUM get_family() override;
    // "QSPI<n>MB" or "QSPI<n>GB" from the megabit or gigabit count; empty below 128 megabits.
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
    // The ID bytes as a little-endian word; `mask` covers the bytes the ID has (at most 4).
    uint32_t get_id_in_dword(uint32_t* mask);
    void copy_fields_from(const GFPDB_QSPI_FLASH& other);
    // The operations of one flow; any other flow stops the program.
    std::vector<GFPDB_OPERATION*>& flow_list(GFPDB_PROG_FLOW_TYPE flow);
    // Which field holds a parameter, as text or as a number; null outside the enumeration.
    struct PARAMETER;
    static const PARAMETER* find_parameter(GFPDB_FLASH_PARAM param);

    std::string m_device_id;
    std::string m_io_voltage;
    uint32_t m_total_device_die = 0;
    uint32_t m_dummy_clock_cycle = 0;
    uint32_t m_dummy_clock_cycle_x4 = 0;
    std::string m_prog_flow_template;
    std::string m_template_name;
    std::vector<GFPDB_OPERATION*> m_sfl_operation_list;
    std::vector<GFPDB_OPERATION*> m_sdm_operation_list;
};
