// One user SD/MMC file in the custom folder, loaded by a new manager with custom cards on:
// whatever it holds, loading ends, and every card it keeps passes the validators and can be
// written back.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"

namespace fuzz_sdmmc_file {

class SDMMC_PROBE : public GFPDB_SDMMC_MGR {
public:
    using GFPDB_MGR::flash_fits_file_format;
    using GFPDB_MGR::m_flash_db_active_dir_map;
    using GFPDB_MGR::m_flash_map;
    using GFPDB_SDMMC_MGR::create_xml_object_with_flash_list;
};

}  // namespace fuzz_sdmmc_file

GFPDB_FUZZ_TARGET(sdmmc_file) {
    using namespace gfpdb_fuzz;
    using namespace fuzz_sdmmc_file;
    SANDBOX& sandbox = SANDBOX::for_sdmmc();
    write_file(sandbox.custom_dir() + "pgm_flash_fuzz.xml", reinterpret_cast<const char*>(data),
               size);
    SDMMC_PROBE mgr;
    for (const auto& [name, flash] : mgr.m_flash_map) {
        FUZZ_CHECK(flash != nullptr);
        FUZZ_CHECK(flash->get_name() == name);
        FUZZ_CHECK(mgr.m_flash_db_active_dir_map.count(name) == 1);
        if (!flash->get_flash_removable_permission())
            continue;
        FUZZ_CHECK(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_IO_VOLTAGE,
                                          flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE),
                                          nullptr));
        FUZZ_CHECK(
            mgr.is_parameter_valid(GFPDB_FLASH_PARAM_DENSITY, flash->get_density(), nullptr));
        FUZZ_CHECK(flash->get_density_in_bytes_qword() != 0);
        FUZZ_CHECK(mgr.flash_fits_file_format(flash));
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
            mgr.create_xml_object_with_flash_list({flash}));
        FUZZ_CHECK(tree != nullptr);
        FUZZ_CHECK(mgr.get_flash(name, true) == flash);
        FUZZ_CHECK(mgr.get_flash_with_density(flash->get_density_in_bytes_qword()) != nullptr);
    }
    FUZZ_CHECK(!mgr.get_new_config_device_list(DEV_FAMILY_SDMMC_DEFAULT,
                                               PGMIO_CONFIG_SCHEME_SDMMC_X1, true)
                    .empty());
    return 0;
}
