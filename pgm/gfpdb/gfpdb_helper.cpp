// The registry of flash database managers and the process-wide active flash family.
#include "pgm/gfpdb/gfpdb_helper.h"

#include <algorithm>

#include "host/cfg.h"
#include "host/mem.h"
#include "host/msg.h"
#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_helper";
MEM_INITIALIZER mem_initializer("GFPDB");

// The QSPI manager's family, so that the QSPI manager is active until the host chooses.
DEV_FAMILY_ENUM active_flash_family = DEV_FAMILY_QSPI_FLASH;

template <typename T>
bool contains(const std::vector<T>& list, T value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}
}  // namespace

GFPDB_HELPER* GFPDB_HELPER::get_helper() {
    // Built once on first use, safely against concurrent first calls; torn down at exit.
    static GFPDB_HELPER helper;
    return &helper;
}

GFPDB_HELPER::GFPDB_HELPER() {
    refresh();
}

GFPDB_HELPER::~GFPDB_HELPER() {
    clear();
}

void GFPDB_HELPER::refresh() {
    clear();
    m_mgr_list.push_back(new GFPDB_QSPI_MGR());
    if (cfg_is_on("pgm_enable_sdmmc", false))
        m_mgr_list.push_back(new GFPDB_SDMMC_MGR());
}

std::vector<std::pair<DEV_FAMILY_ENUM, std::vector<DEV_FAMILY_ENUM>>>
GFPDB_HELPER::get_device_families() {
    auto keys = [](const std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO>& families) {
        std::vector<DEV_FAMILY_ENUM> list;
        for (const auto& entry : families)
            list.push_back(entry.first);
        return list;
    };
    // The managers refresh() builds, in its order.
    std::vector<std::pair<DEV_FAMILY_ENUM, std::vector<DEV_FAMILY_ENUM>>> managers;
    managers.emplace_back(DEV_FAMILY_QSPI_FLASH, keys(GFPDB_QSPI_MGR::get_host_family_info()));
    if (cfg_is_on("pgm_enable_sdmmc", false))
        managers.emplace_back(DEV_FAMILY_SDMMC_FLASH,
                              keys(GFPDB_SDMMC_MGR::get_host_family_info()));
    return managers;
}

void GFPDB_HELPER::clear() {
    gfpdb_delete_last_first(m_mgr_list);
}

GFPDB_MGR* GFPDB_HELPER::get_manager(std::string name, bool show_all, bool refresh_first) {
    if (refresh_first)
        refresh();
    GFPDB_ASSERT(m_mgr_list.size() > 0, source);
    for (GFPDB_MGR* manager : m_mgr_list) {
        if (manager->get_flash(name, show_all))
            return manager;
    }
    return nullptr;
}

GFPDB_MGR* GFPDB_HELPER::get_manager(DEV_FAMILY_ENUM flash_family, bool reload) {
    GFPDB_ASSERT(m_mgr_list.size() > 0, source);
    for (size_t index = 0; index < m_mgr_list.size(); ++index) {
        if (m_mgr_list[index]->get_flash_family() == flash_family)
            return reload ? reload_manager(index) : m_mgr_list[index];
    }
    return nullptr;
}

GFPDB_MGR* GFPDB_HELPER::get_manager(PGMIO_CONFIG_SCHEME scheme, bool reload) {
    GFPDB_ASSERT(m_mgr_list.size() > 0, source);
    for (size_t index = 0; index < m_mgr_list.size(); ++index) {
        if (contains(m_mgr_list[index]->get_config_mode_list(), scheme))
            return reload ? reload_manager(index) : m_mgr_list[index];
    }
    return nullptr;
}

GFPDB_MGR* GFPDB_HELPER::reload_manager(size_t index) {
    GFPDB_MGR* manager = m_mgr_list[index]->get_new_instance();
    GFPDB_ASSERT(manager, source);
    delete m_mgr_list[index];
    m_mgr_list.erase(m_mgr_list.begin() + static_cast<std::ptrdiff_t>(index));
    m_mgr_list.push_back(manager);
    return manager;
}

void GFPDB_HELPER::refresh_flash_managers() {
    get_helper()->refresh();
}

GFPDB_MGR* GFPDB_HELPER::get_flash_manager(std::string name, bool show_all, bool refresh_first) {
    return get_helper()->get_manager(std::move(name), show_all, refresh_first);
}

GFPDB_MGR* GFPDB_HELPER::get_flash_manager(DEV_FAMILY_ENUM flash_family, bool reload) {
    return get_helper()->get_manager(flash_family, reload);
}

GFPDB_MGR* GFPDB_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME scheme, bool reload) {
    return get_helper()->get_manager(scheme, reload);
}

GFPDB_MGR* GFPDB_HELPER::get_active_flash_manager(bool reload) {
    return get_helper()->get_manager(active_flash_family, reload);
}

DEV_FAMILY_ENUM GFPDB_HELPER::get_active_flash_family() {
    return active_flash_family;
}

bool GFPDB_HELPER::set_active_flash_family(DEV_FAMILY_ENUM flash_family) {
    if (!is_supported_family(flash_family))
        return false;
    active_flash_family = flash_family;
    return true;
}

bool GFPDB_HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME scheme) {
    GFPDB_MGR* manager = get_helper()->get_manager(scheme, false);
    if (!manager)
        return false;
    active_flash_family = manager->get_flash_family();
    return true;
}

bool GFPDB_HELPER::is_supported_family(DEV_FAMILY_ENUM flash_family) {
    for (GFPDB_MGR* manager : get_helper()->m_mgr_list) {
        if (manager->get_flash_family() == flash_family)
            return true;
    }
    return false;
}

bool GFPDB_HELPER::is_supported_family(DEV_FAMILY_ENUM flash_family,
                                       DEV_FAMILY_ENUM device_family) {
    for (GFPDB_MGR* manager : get_helper()->m_mgr_list) {
        if (manager->get_flash_family() == flash_family)
            return contains(manager->get_device_family_list(), device_family);
    }
    return false;
}

bool GFPDB_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME scheme) {
    return get_helper()->get_manager(scheme, false) != nullptr;
}

// A database flash is one the database knows and the host does not carry as a legacy device.
bool GFPDB_HELPER::is_gfpdb_flash(std::string name, DEV_FAMILY_ENUM flash_family, bool show_all,
                                  bool reload) {
    GFPDB_MGR* manager = get_helper()->get_manager(flash_family, reload);
    if (!manager)
        return false;
    return manager->device_exist_in_db(name, show_all) &&
           !manager->device_is_legacy(name, show_all);
}

bool GFPDB_HELPER::is_gfpdb_flash(std::string name, PGMIO_CONFIG_SCHEME scheme, bool show_all,
                                  bool reload) {
    GFPDB_MGR* manager = get_helper()->get_manager(scheme, reload);
    if (!manager)
        return false;
    return manager->device_exist_in_db(name, show_all) &&
           !manager->device_is_legacy(name, show_all);
}

bool GFPDB_HELPER::is_gfpdb_flash(std::string name, bool show_all, bool refresh_first) {
    GFPDB_MGR* manager = get_helper()->get_manager(name, show_all, refresh_first);
    if (!manager)
        return false;
    return !manager->device_is_legacy(name, show_all);
}
