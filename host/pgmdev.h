// Device-information library of the host: per-family records and the built-in flash list,
// read from device/families.csv and device/flash_list.csv of the common programmer directory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/host_export.h"

// Device families of the host. Only the values the flash database names are spelled out;
// every value from 1 to DEV_FAMILY_LAST is a family.
enum DEV_FAMILY_ENUM {
    DEV_FAMILY_NONE = 0,
    DEV_FAMILY_QSPI_FLASH = 10,
    DEV_FAMILY_VELMAR = 28,
    DEV_FAMILY_SDMMC_DEFAULT = 48,
    DEV_FAMILY_SDMMC_FLASH = 55,
    DEV_FAMILY_QSPI_DEFAULT = 72,
    DEV_FAMILY_LAST = 72
};

// Configuration schemes of the host that take an external flash.
enum PGMIO_CONFIG_SCHEME {
    PGMIO_CONFIG_SCHEME_NONE = 0,
    PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1 = 7,
    PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4 = 13,
    PGMIO_CONFIG_SCHEME_SDMMC_X1 = 23,
    PGMIO_CONFIG_SCHEME_SDMMC_X4 = 24
};

class HOST_EXPORT PGMDEV_DEVICE_INFO {
public:
    PGMDEV_DEVICE_INFO(DEV_FAMILY_ENUM family, std::string name, bool qspi, bool sdmmc, bool sdm,
                       std::string flash_io_voltage);
    DEV_FAMILY_ENUM get_family() const { return m_family; }
    const std::string& get_name() const { return m_name; }
    bool is_qspi_supported() const { return m_qspi; }
    bool is_sdmmc_supported() const { return m_sdmmc; }
    bool is_sdm_flow() const { return m_sdm; }
    const std::string& get_flash_io_voltage() const { return m_flash_io_voltage; }

private:
    DEV_FAMILY_ENUM m_family;
    std::string m_name;
    bool m_qspi;
    bool m_sdmmc;
    bool m_sdm;
    std::string m_flash_io_voltage;
};

class HOST_EXPORT PGMDEV_DEV_INFO_MANAGER {
public:
    PGMDEV_DEV_INFO_MANAGER(bool load_all, unsigned long flags);
    ~PGMDEV_DEV_INFO_MANAGER();
    // Null when the family has no record; the record stays owned by this object.
    const PGMDEV_DEVICE_INFO* get_db_by_family(DEV_FAMILY_ENUM family) const;

private:
    std::map<int, PGMDEV_DEVICE_INFO> m_families;
};

class HOST_EXPORT PGMDEV_FLASH_INFO {
public:
    PGMDEV_FLASH_INFO(std::string name, bool supported, std::string io_voltage);
    const std::string& get_name() const { return m_name; }
    bool is_supported() const { return m_supported; }
    const std::string& get_io_voltage() const { return m_io_voltage; }

private:
    std::string m_name;
    bool m_supported;
    std::string m_io_voltage;
};

class HOST_EXPORT PGMDEV_FLASH_MANAGER {
public:
    PGMDEV_FLASH_MANAGER(bool load_all, unsigned long flags, bool sdmmc, bool custom);
    ~PGMDEV_FLASH_MANAGER();
    size_t get_flash_count() const { return m_flashes.size(); }
    // In the order of the host's list.
    const PGMDEV_FLASH_INFO& get_flash(size_t index) const { return m_flashes.at(index); }

private:
    std::vector<PGMDEV_FLASH_INFO> m_flashes;
};
