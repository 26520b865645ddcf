// A device built from fuzzed values that pass validation is saved into the custom folder and
// loaded back by a new manager: a save that completes must load back equal, silently; a
// refused save must leave the folder as it was. The reloaded device is then deleted again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_qspi_oracle.h"
#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "round_trip_format.h"

namespace fuzz_round_trip {

using namespace gfpdb_fuzz;

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Numbers come back as the decimal text of their value, everything else as it was.
void check_same_value(GFPDB_ACT_PROPERTY property, const std::string& saved,
                      const std::string& loaded) {
    if (!GFPDB_QSPI_ACTION::property_is_number(property)) {
        FUZZ_CHECK(loaded == saved);
        return;
    }
    uint64_t value = 0;
    FUZZ_CHECK(number_value(saved, &value));
    FUZZ_CHECK(loaded == std::to_string(value));
}

void check_same_flow(const std::vector<GFPDB_OPERATION*>& saved,
                     const std::vector<GFPDB_OPERATION*>& loaded) {
    FUZZ_CHECK(loaded.size() == saved.size());
    for (size_t i = 0; i < saved.size(); ++i) {
        FUZZ_CHECK(loaded[i]->get_operation_type() == saved[i]->get_operation_type());
        const std::vector<GFPDB_ACTION*>& s = *saved[i]->get_action_list();
        const std::vector<GFPDB_ACTION*>& l = *loaded[i]->get_action_list();
        FUZZ_CHECK(l.size() == s.size());
        for (size_t j = 0; j < s.size(); ++j) {
            FUZZ_CHECK(l[j]->get_action_type() == s[j]->get_action_type());
            for (GFPDB_ACT_PROPERTY p : s[j]->get_property_enum_list())
                check_same_value(p, s[j]->get_property_value(p), l[j]->get_property_value(p));
        }
    }
}

}  // namespace fuzz_round_trip

GFPDB_FUZZ_TARGET(round_trip) {
    using namespace fuzz_round_trip;
    SANDBOX& sandbox = SANDBOX::for_qspi();
    const std::string dir = sandbox.custom_dir();
    SANDBOX::empty(dir);
    const RT_DEVICE d = decode_device(std::string(reinterpret_cast<const char*>(data), size));

    std::unique_ptr<GFPDB_QSPI_FLASH> saved;
    {
        QSPI_PROBE mgr;
        GFPDB_FLASH* flash = build_device(mgr, d);
        if (!flash)
            return 0;
        saved = std::make_unique<GFPDB_QSPI_FLASH>(*static_cast<GFPDB_QSPI_FLASH*>(flash));
        const auto before = mgr.m_flash_map;
        if (!mgr.update_db(flash, dir)) {
            // Refused before any file was touched: nothing on disk, nothing in the maps.
            FUZZ_CHECK(listing(dir).empty());
            FUZZ_CHECK(mgr.m_flash_map == before);
            FUZZ_CHECK(mgr.get_user_template_list().empty());
            return 0;
        }
    }

    std::vector<std::string> files = {"pgm_flash_" + d.name + ".xml"};
    if (!d.template_name.empty())
        files.push_back("pgm_flash_template_" + d.template_name + ".xml");
    std::sort(files.begin(), files.end());
    FUZZ_CHECK(listing(dir) == files);

    const size_t posted = sandbox.posted();
    QSPI_PROBE reloaded;
    FUZZ_CHECK(sandbox.posted() == posted);
    GFPDB_FLASH* loaded = reloaded.get_flash(d.name, true);
    FUZZ_CHECK(loaded != nullptr);
    FUZZ_CHECK(loaded->get_flash_removable_permission());
    FUZZ_CHECK(loaded->get_density() == saved->get_density());
    for (GFPDB_FLASH_PARAM p : {GFPDB_FLASH_PARAM_ID, GFPDB_FLASH_PARAM_IO_VOLTAGE,
                                GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE}) {
        FUZZ_CHECK(loaded->get_parameter_value(p) == saved->get_parameter_value(p));
    }
    for (GFPDB_FLASH_PARAM p : {GFPDB_FLASH_PARAM_TOTAL_DIE, GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE,
                                GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4}) {
        FUZZ_CHECK(loaded->get_parameter_value_in_dword(p) ==
                   saved->get_parameter_value_in_dword(p));
    }
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        check_same_flow(*saved->get_operation_list(flow), *loaded->get_operation_list(flow));
        if (!d.template_name.empty()) {
            std::string name = d.template_name;
            check_same_flow(*saved->get_operation_list(flow),
                            *reloaded.get_user_template_operation_list(name, flow));
        }
    }
    check_loaded_qspi(reloaded);

    // Deleting it again takes its file and nothing else.
    FUZZ_CHECK(reloaded.delete_db(d.name, dir));
    FUZZ_CHECK(!reloaded.device_exist_in_db(d.name, true));
    files.erase(std::find(files.begin(), files.end(), "pgm_flash_" + d.name + ".xml"));
    FUZZ_CHECK(listing(dir) == files);
    return 0;
}
