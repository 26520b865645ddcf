// The registry through which a host reaches the flash database managers.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

class GFPDB_EXPORT GFPDB_HELPER {
public:
    // The single registry, built on first use.
    static GFPDB_HELPER* get_helper();

    GFPDB_HELPER();
    // Copies share the managers.
    GFPDB_HELPER(const GFPDB_HELPER& other) = default;
    GFPDB_HELPER& operator=(const GFPDB_HELPER& other) = default;
    ~GFPDB_HELPER();

    // Rebuilds every manager: QSPI always, SD/MMC while "pgm_enable_sdmmc" is on.
    void refresh();
    void clear();
    GFPDB_MGR* get_manager(std::string name, bool show_all, bool refresh_first);
    GFPDB_MGR* get_manager(DEV_FAMILY_ENUM flash_family, bool reload);
    GFPDB_MGR* get_manager(PGMIO_CONFIG_SCHEME scheme, bool reload);
    const std::vector<GFPDB_MGR*>& get_manager_list() const { return m_mgr_list; }

    static void refresh_flash_managers();
    static GFPDB_MGR* get_flash_manager(std::string name, bool show_all, bool refresh_first);
    static GFPDB_MGR* get_flash_manager(DEV_FAMILY_ENUM flash_family, bool reload);
    static GFPDB_MGR* get_flash_manager(PGMIO_CONFIG_SCHEME scheme, bool reload);
    static GFPDB_MGR* get_active_flash_manager(bool reload);
    static DEV_FAMILY_ENUM get_active_flash_family();
    static bool set_active_flash_family(DEV_FAMILY_ENUM flash_family);
    static bool set_active_flash_family(PGMIO_CONFIG_SCHEME scheme);
    static bool is_supported_family(DEV_FAMILY_ENUM flash_family);
    static bool is_supported_family(DEV_FAMILY_ENUM flash_family, DEV_FAMILY_ENUM device_family);
    static bool is_supported_mode(PGMIO_CONFIG_SCHEME scheme);
    static bool is_gfpdb_flash(std::string name, DEV_FAMILY_ENUM flash_family, bool show_all,
                               bool reload);
    static bool is_gfpdb_flash(std::string name, PGMIO_CONFIG_SCHEME scheme, bool show_all,
                               bool reload);
    static bool is_gfpdb_flash(std::string name, bool show_all, bool refresh_first);
    // The flash family of every manager the registry builds, in its order, with the device
    // families that manager serves: what each get_device_family_list answers, read from the
    // host without building a manager or loading any database.
    static std::vector<std::pair<DEV_FAMILY_ENUM, std::vector<DEV_FAMILY_ENUM>>>
    get_device_families();

private:
    // Replaces a manager by a freshly loaded one at the end of the list.
    GFPDB_MGR* reload_manager(size_t index);

    std::vector<GFPDB_MGR*> m_mgr_list;
};
