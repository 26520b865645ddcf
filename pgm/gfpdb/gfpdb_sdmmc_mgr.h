// The SD/MMC flash database: golden cards and, when enabled, the user's own.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

class PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_INFO;
class PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH;

// Copying a manager is forbidden: a copy would own the same devices.
class GFPDB_EXPORT GFPDB_SDMMC_MGR : public GFPDB_MGR {
public:
    GFPDB_SDMMC_MGR();
    GFPDB_SDMMC_MGR(const GFPDB_SDMMC_MGR&) = delete;
    GFPDB_SDMMC_MGR& operator=(const GFPDB_SDMMC_MGR&) = delete;
    ~GFPDB_SDMMC_MGR() override;

    GFPDB_FLASH* get_flash_with_id(uint32_t id, uint32_t mask) override;
    bool is_new_device_supported() override;
    bool is_flash_action_supported() override;
    bool is_flash_operation_supported() override;
    DEV_FAMILY_ENUM get_flash_family() override;
    const std::vector<DEV_FAMILY_ENUM> get_device_family_list() override;
    // The device families that take SD/MMC cards, as the host's device information and the
    // settings tell them to a manager under construction; read without loading any database.
    static std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO> get_host_family_info();
    const std::vector<PGMIO_CONFIG_SCHEME> get_config_mode_list() override;
    const std::vector<std::string> get_new_config_device_list(DEV_FAMILY_ENUM family,
                                                              PGMIO_CONFIG_SCHEME scheme,
                                                              bool show_all) override;
    const std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                                 PGMIO_CONFIG_SCHEME scheme,
                                                                 bool show_all) override;
    const std::vector<std::string> get_device_io_voltage_list() override;
    const std::vector<std::string> get_device_density_list() override;
    const std::vector<std::string> get_prog_flow_template_list() override;
    const std::vector<std::string> get_user_template_list() override;
    GFPDB_MGR* get_new_instance() override;
    GFPDB_FLASH* create_flash(std::string name) override;
    GFPDB_ACTION* create_action(GFPDB_ACT_TYPE type) override;
    GFPDB_OPERATION* create_operation(GFPDB_OP_TYPE type) override;
    const std::vector<GFPDB_OPERATION*>* get_prog_flow_template_operation_list(
        GFPDB_PROG_FLOW_TEMPLATE prog_flow_template, GFPDB_PROG_FLOW_TYPE flow) override;
    const std::vector<GFPDB_OPERATION*>* get_user_template_operation_list(
        std::string& template_name, GFPDB_PROG_FLOW_TYPE flow) override;
    bool get_operation_editable_permission(GFPDB_FLASH* flash) override;
    bool update_template_db(GFPDB_FLASH* flash, std::string db_dir) override;
    bool delete_template(std::string template_name) override;

protected:
    PGM_COMMON_XML_ELEMENT* create_xml_object_with_flash_list(
        std::vector<GFPDB_FLASH*> flash_list) override;
    void create_user_template_with_template_list(PGM_COMMON_XML_ELEMENT*& root,
                                                 std::vector<std::string> template_list) override;

private:
    // A manager that loads nothing, for the host folder check (see GFPDB_QSPI_MGR).
    friend class GFPDB_HOST_CHECK;
    struct UNLOADED {};
    explicit GFPDB_SDMMC_MGR(UNLOADED);

    void initialize_dev_info();
    bool parse_golden_template_xml();
    bool parse_user_xml_in_zorvane_dir();
    bool parse_user_xml_in_custom_dir();
    bool parse_user_xml_in_dir(const std::string& dir, bool is_zorvane);
    bool parse_xml_file(PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH** object, std::string xml_file,
                        bool golden, std::string& error);
    bool update_flash_list(PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH* object, std::string xml_file,
                           std::map<std::string, std::string>& dir_map, bool removable);
    std::string get_golden_template_file();
    std::string get_xsd_file();
    PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_INFO* create_xml_device_info(GFPDB_FLASH* flash);
    void clear_flash_mapping_info();
};
