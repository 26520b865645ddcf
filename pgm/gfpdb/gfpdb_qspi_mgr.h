// The QSPI flash database: loading, validation, writing and the editor's queries.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

class PGM_COMMON_XML_GFPDB_QSPI_ACTION;
class PGM_COMMON_XML_GFPDB_QSPI_DEVICE_INFO;
class PGM_COMMON_XML_GFPDB_QSPI_PROGRAMMING_FLOW;
class PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH;
class PGM_COMMON_XML_GFPDB_QSPI_SDM;
class PGM_COMMON_XML_GFPDB_QSPI_SFL;

// Copying a manager is forbidden: a copy would own the same devices, operations and templates.
class GFPDB_EXPORT GFPDB_QSPI_MGR : public GFPDB_MGR {
public:
    // Loads the whole QSPI database.
    GFPDB_QSPI_MGR();
    GFPDB_QSPI_MGR(const GFPDB_QSPI_MGR&) = delete;
    GFPDB_QSPI_MGR& operator=(const GFPDB_QSPI_MGR&) = delete;
    ~GFPDB_QSPI_MGR() override;

    bool is_parameter_valid(GFPDB_FLASH_PARAM param, uint32_t value, std::string* error) override;
    bool is_parameter_valid(GFPDB_FLASH_PARAM param, std::string value,
                            std::string* error) override;
    bool is_parameter_valid(GFPDB_FLASH_PARAM param) override;

    DEV_FAMILY_ENUM get_flash_family() override;
    const std::vector<DEV_FAMILY_ENUM> get_device_family_list() override;
    // The device families that take QSPI flash, as the host's device information tells them
    // to a manager under construction; read without loading any database.
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
    bool flash_fits_file_format(GFPDB_FLASH* flash) override;

private:
    // A manager that loads nothing: the host folder check puts a golden file's values to its
    // validators, the ones loading uses, before a loading manager would stop on them.
    friend class GFPDB_HOST_CHECK;
    struct UNLOADED {};
    explicit GFPDB_QSPI_MGR(UNLOADED);

    // Validation
    bool device_id_is_valid(std::string id, std::string* err_msg);
    bool dummy_clock_cycle_is_valid(uint32_t value, std::string* err_msg);
    bool total_device_die_is_valid(uint32_t value, std::string* err_msg);
    bool template_name_is_valid(std::string name, std::string* err_msg = nullptr);
    bool prog_flow_template_is_valid(std::string name, std::string* err_msg);

    // Loading
    void initialize_dev_info();
    void initialize_flash_info();
    std::string get_golden_template_file();
    std::string get_xsd_file();
    bool parse_golden_template_xml();
    bool parse_user_xml_in_zorvane_dir();
    bool parse_user_xml_in_custom_dir();
    bool parse_user_xml_in_dir(const std::string& dir, bool is_zorvane);
    bool parse_xml_file(PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH** object, std::string xml_file,
                        bool golden, std::string& error);
    bool create_flash_info_with_golden_template(PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH* object,
                                                std::string xml_file);
    bool update_flash_list(PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH* object, std::string xml_file,
                           std::map<std::string, std::string>& dir_map, bool removable);
    bool create_user_template_list(PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH* flash_object,
                                   std::string xml_file);
    bool update_overall_operation_list(PGM_COMMON_XML_ELEMENT* xml,
                                       std::vector<GFPDB_OPERATION*>& sfl,
                                       std::vector<GFPDB_OPERATION*>& sdm);
    bool update_operation_list(PGM_COMMON_XML_ELEMENT* xml, std::vector<GFPDB_OPERATION*>& op_list);
    bool add_operation_into_list(GFPDB_OP_TYPE type, PGM_COMMON_XML_ELEMENT* xml,
                                 std::vector<GFPDB_OPERATION*>& op_list);
    void clear_flash_mapping_info();
    void clear_template_operation_list();

    // Writing
    bool write_template_xml_and_update_dir_map(GFPDB_FLASH* flash, std::string& db_dir);
    PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH* create_user_template_xml_object(GFPDB_FLASH* flash);
    PGM_COMMON_XML_GFPDB_QSPI_DEVICE_INFO* create_xml_device_info(GFPDB_FLASH* flash);
    PGM_COMMON_XML_GFPDB_QSPI_PROGRAMMING_FLOW* create_xml_programming_flow(GFPDB_FLASH* flash);
    void create_xml_for_one_programming_flow(const std::vector<GFPDB_OPERATION*>* list,
                                             PGM_COMMON_XML_GFPDB_QSPI_SFL* xml_sfl_flow,
                                             PGM_COMMON_XML_GFPDB_QSPI_SDM* xml_sdm_flow);
    std::vector<PGM_COMMON_XML_GFPDB_QSPI_ACTION*> create_xml_action_list_for_one_operation(
        GFPDB_OPERATION* op);
    void update_xml_action_property(GFPDB_ACTION* act, PGM_COMMON_XML_GFPDB_QSPI_ACTION* xml_action,
                                    GFPDB_ACT_PROPERTY property_enum);

    std::vector<GFPDB_OPERATION*> m_sfl_micron_operation_list;
    std::vector<GFPDB_OPERATION*> m_sdm_micron_operation_list;
    std::vector<GFPDB_OPERATION*> m_sfl_macronix_operation_list;
    std::vector<GFPDB_OPERATION*> m_sdm_macronix_operation_list;
    std::vector<GFPDB_OPERATION*> m_sfl_cypress_operation_list;
    std::vector<GFPDB_OPERATION*> m_sdm_cypress_operation_list;
    std::vector<GFPDB_OPERATION*> m_sfl_winbond_operation_list;
    std::vector<GFPDB_OPERATION*> m_sdm_winbond_operation_list;
    std::map<std::string, std::string> m_flash_mapping_info;
    // The file being loaded, named in the warnings about what it lacks.
    std::string m_current_file;
    std::string m_golden_count_errors;  // element-count problems of the golden file
};
