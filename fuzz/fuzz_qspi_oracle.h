// What must hold of a loaded QSPI database whatever the user files held: the loader keeps
// only records that its own validators accept and that its writers can write back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"

namespace gfpdb_fuzz {

class QSPI_PROBE : public GFPDB_QSPI_MGR {
public:
    using GFPDB_MGR::m_flash_db_active_dir_map;
    using GFPDB_MGR::m_flash_db_custom_dir_map;
    using GFPDB_MGR::m_flash_map;
    using GFPDB_MGR::m_template_db_dir_map;
    using GFPDB_MGR::m_user_flash_template_map;
    using GFPDB_QSPI_MGR::create_xml_object_with_flash_list;
    using GFPDB_QSPI_MGR::flash_fits_file_format;
};

// Five operations, one of each type in type order, each action valid by its own rules.
inline void check_flow(const std::vector<GFPDB_OPERATION*>* flow) {
    FUZZ_CHECK(flow != nullptr);
    FUZZ_CHECK(flow->size() == GFPDB_OP_TYPE_COUNT);
    for (size_t i = 0; i < flow->size(); ++i) {
        GFPDB_OPERATION* op = (*flow)[i];
        FUZZ_CHECK(op->get_operation_type() == static_cast<GFPDB_OP_TYPE>(i));
        for (GFPDB_ACTION* action : *op->get_action_list()) {
            for (GFPDB_ACT_PROPERTY p : action->get_property_enum_list())
                FUZZ_CHECK(action->property_value_is_valid(p, action->get_property_value(p)));
        }
    }
}

inline void check_loaded_qspi(QSPI_PROBE& mgr) {
    for (const auto& [name, flash] : mgr.m_flash_map) {
        FUZZ_CHECK(flash != nullptr);
        FUZZ_CHECK(flash->get_name() == name);
        FUZZ_CHECK(mgr.m_flash_db_active_dir_map.count(name) == 1);
        if (!flash->get_flash_removable_permission())
            continue;  // built in: the golden file is trusted
        FUZZ_CHECK(mgr.is_parameter_valid(
            GFPDB_FLASH_PARAM_ID, flash->get_parameter_value(GFPDB_FLASH_PARAM_ID), nullptr));
        FUZZ_CHECK(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_IO_VOLTAGE,
                                          flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE),
                                          nullptr));
        FUZZ_CHECK(
            mgr.is_parameter_valid(GFPDB_FLASH_PARAM_DENSITY, flash->get_density(), nullptr));
        for (GFPDB_FLASH_PARAM p : {GFPDB_FLASH_PARAM_TOTAL_DIE, GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE,
                                    GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4}) {
            FUZZ_CHECK(mgr.is_parameter_valid(p, flash->get_parameter_value_in_dword(p), nullptr));
        }
        check_flow(flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL));
        check_flow(flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM));
        // What was read from a file can be written to one: nothing is refused, and the
        // writers' own checks hold.
        FUZZ_CHECK(mgr.flash_fits_file_format(flash));
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
            mgr.create_xml_object_with_flash_list({flash}));
        FUZZ_CHECK(tree != nullptr);
        uint32_t mask = 0;
        const uint32_t id = flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_ID, &mask);
        FUZZ_CHECK(mgr.get_flash_with_id(id, mask) != nullptr);
        // A legacy name is answered by a new legacy record instead, by design.
        if (!mgr.device_is_legacy(name, true))
            FUZZ_CHECK(mgr.get_flash(name, true) == flash);
    }
    for (const auto& [name, record] : mgr.m_user_flash_template_map) {
        FUZZ_CHECK(record != nullptr);
        // A template can be deleted, which needs a name.
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(mgr.m_template_db_dir_map.count(name) == 1);
        check_flow(&record->sfl_operation_list);
        check_flow(&record->sdm_operation_list);
    }
    // The editor's lists stay answerable.
    for (DEV_FAMILY_ENUM family : mgr.get_device_family_list()) {
        for (PGMIO_CONFIG_SCHEME scheme : mgr.get_config_mode_list()) {
            mgr.get_new_config_device_list(family, scheme, false);
            mgr.get_legacy_config_device_list(family, scheme, false);
        }
    }
    mgr.get_prog_flow_template_list();
}

}  // namespace gfpdb_fuzz
