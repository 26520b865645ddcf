// The SD/MMC flash database: the golden cards and, while "pgm_enable_custom_sdmmc" is on, the
// user's cards of the host and custom directories. Cards have no IDs, flows, actions or
// templates, so those parts of the manager answer empty or are unsupported.
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"

#include <memory>
#include <new>

#include "h/pgm_common_xml_gfpdb_sdmmc_auto_export.h"
#include "host/cfg.h"
#include "host/fio.h"
#include "host/mem.h"
#include "host/msg.h"
#include "host/pgm_common.h"
#include "host/pgm_common_xml.h"
#include "host/pgmdev.h"
#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_sdmmc_flash.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_sdmmc_mgr";
MEM_INITIALIZER mem_initializer("GFPDB");

const char* const golden_file_name = "pgm_flash_db_sdmmc.xml";
const char* const xsd_file_name = "gfpdb_sdmmc.xsd";

// What the validators accept, in the order the editor offers them.
const std::vector<std::string> sdmmc_density = {"1GB",  "2GB",  "4GB",   "8GB",   "16GB",
                                                "32GB", "64GB", "128GB", "256GB", "512GB"};
const std::vector<std::string> sdmmc_io_voltage = {"1.8V"};
const std::vector<PGMIO_CONFIG_SCHEME> sdmmc_config_scheme = {PGMIO_CONFIG_SCHEME_SDMMC_X1,
                                                              PGMIO_CONFIG_SCHEME_SDMMC_X4};

// The text of the first leaf of a typed child list; false when the list is empty.
template <typename LEAF>
bool first_value(const PGM_COMMON_XML_CHILD_LIST<LEAF>& leaves, std::string* value) {
    if (leaves.empty())
        return false;
    *value = leaves.front()->value;
    return true;
}

}  // namespace

// A structural gap in a device of a file. The golden file is trusted, so there it is an
// internal error; a user file must never stop the program, so there it only ends the loading
// of that file, like an invalid value. The schema keeps such files out, so this is a last guard.
#define GFPDB_SDMMC_REQUIRE(cond)                                                             \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            if (golden)                                                                       \
                gfpdb_internal_error_on(#cond, source, __LINE__);                             \
            gfpdb_debug("Skip the rest of %s: a device breaks the rule %s", xml_file.c_str(), \
                        #cond);                                                               \
            return false;                                                                     \
        }                                                                                     \
    } while (0)

GFPDB_SDMMC_MGR::GFPDB_SDMMC_MGR() {
    m_active_device_family = DEV_FAMILY_SDMMC_DEFAULT;
    m_active_config_mode = PGMIO_CONFIG_SCHEME_SDMMC_X1;
    m_use_sdm_mode = true;
    m_flash = nullptr;
    initialize_dev_info();
    if (!parse_golden_template_xml())
        GFPDB_FAIL("Failed to parse golden template XML.", source);
    if (!cfg_is_on("pgm_enable_custom_sdmmc", false))
        return;
    // A failed user file has already been reported and skipped; loading goes on regardless.
    parse_user_xml_in_zorvane_dir();
    if (!PGM_COMMON::compare_string(get_db_zorvane_dir(), get_db_custom_dir(), false))
        parse_user_xml_in_custom_dir();
}

GFPDB_SDMMC_MGR::GFPDB_SDMMC_MGR(UNLOADED) {
    m_active_device_family = DEV_FAMILY_SDMMC_DEFAULT;
    m_active_config_mode = PGMIO_CONFIG_SCHEME_SDMMC_X1;
    m_use_sdm_mode = true;
    m_flash = nullptr;
}

GFPDB_SDMMC_MGR::~GFPDB_SDMMC_MGR() {
    release_unsaved_flash();
    clear_flash_mapping_info();
}

// ---------------------------------------------------------------------------------------------
// Loading

std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO> GFPDB_SDMMC_MGR::get_host_family_info() {
    std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO> families;
    PGMDEV_DEV_INFO_MANAGER dev_info(false, 0);
    for (int value = 1; value <= DEV_FAMILY_LAST; ++value) {
        const DEV_FAMILY_ENUM family = static_cast<DEV_FAMILY_ENUM>(value);
        const PGMDEV_DEVICE_INFO* info = dev_info.get_db_by_family(family);
        if (!info || !info->is_sdmmc_supported())
            continue;
        if (family == DEV_FAMILY_VELMAR && !cfg_is_on("pgm_enable_sdmmc_velmar", false))
            continue;
        GFPDB_FAMILY_INFO& record = families[family];
        record.sdm = info->is_sdm_flow();
        record.io_voltage = info->get_flash_io_voltage();
    }
    return families;
}

void GFPDB_SDMMC_MGR::initialize_dev_info() {
    for (auto& [family, info] : get_host_family_info())
        get_family_info(family) = std::move(info);
}

std::string GFPDB_SDMMC_MGR::get_golden_template_file() {
    return PGM_COMMON::pgm_get_common_programmer() + "xml/" + golden_file_name;
}

std::string GFPDB_SDMMC_MGR::get_xsd_file() {
    return PGM_COMMON::pgm_get_common_programmer() + "xsd/" + xsd_file_name;
}

bool GFPDB_SDMMC_MGR::parse_golden_template_xml() {
    const std::string xml_file = get_golden_template_file();
    GFPDB_ASSERT(!xml_file.empty(), source);
    PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH* object = nullptr;
    std::string error;
    if (!parse_xml_file(&object, xml_file, true, error))
        MSG_INTERNAL_ERROR::report(error.c_str(), "GFPDB", source, __LINE__);
    std::unique_ptr<PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH> owned(object);
    bool status = update_flash_list(object, xml_file, m_flash_db_zorvane_dir_map, false);
    GFPDB_ASSERT(status, source);
    return true;
}

bool GFPDB_SDMMC_MGR::parse_user_xml_in_zorvane_dir() {
    return parse_user_xml_in_dir(get_db_zorvane_dir(), true);
}

bool GFPDB_SDMMC_MGR::parse_user_xml_in_custom_dir() {
    return parse_user_xml_in_dir(get_db_custom_dir(), false);
}

bool GFPDB_SDMMC_MGR::parse_user_xml_in_dir(const std::string& dir, bool is_zorvane) {
    std::map<std::string, std::string>& dir_map =
        is_zorvane ? m_flash_db_zorvane_dir_map : m_flash_db_custom_dir_map;
    bool result = true;
    for_each_user_file(dir, is_zorvane, golden_file_name,
                       [&](const std::string& name, const std::string& xml_file) {
                           PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH* object = nullptr;
                           std::string error;
                           if (!parse_xml_file(&object, xml_file, false, error)) {
                               gfpdb_debug("Skip %s due to parsing error: %s", name.c_str(),
                                           error.c_str());
                               result = false;
                               return false;
                           }
                           std::unique_ptr<PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH> owned(object);
                           const bool whole = update_flash_list(object, xml_file, dir_map, true);
                           result = whole && result;
                           return whole;
                       });
    return result;
}

bool GFPDB_SDMMC_MGR::parse_xml_file(PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH** object,
                                     std::string xml_file, bool golden, std::string& error) {
    GFPDB_ASSERT(object, source);
    GFPDB_ASSERT(xml_file.length() > 0, source);
    error.clear();
    if (!FIO_FILE_SYSTEM::exists(xml_file)) {
        MEM_DETAIL::stl_raw_sprintf(&error, "%s not found.", xml_file.c_str());
        return false;
    }
    const std::string xsd = get_xsd_file();
    GFPDB_ASSERT(!xsd.empty(), source);
    if (!golden) {
        std::string xsd_error;
        std::string xsd_error2;
        PGM_COMMON_XML::check_xsd(xml_file, xsd, xsd_error, xsd_error2);
        if (!xsd_error.empty() || !xsd_error2.empty()) {
            error = !xsd_error.empty() ? xsd_error : xsd_error2;
            return false;
        }
    }
    std::string parse_error;
    std::string warning;
    std::string info;
    *object = static_cast<PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH*>(PGM_COMMON_XML::parse_xml(
        PGM_COMMON_XML_FILE_GFPDB_SDMMC, xml_file, xsd, golden, parse_error, warning, info));
    GFPDB_ASSERT(*object != 0, source);
    // A file that cannot be read comes back as an empty root; taking it for a file without
    // devices would hide a broken golden file.
    if (!parse_error.empty()) {
        delete *object;
        *object = nullptr;
        error = parse_error;
        return false;
    }
    return true;
}

bool GFPDB_SDMMC_MGR::update_flash_list(PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH* object,
                                        std::string xml_file,
                                        std::map<std::string, std::string>& dir_map,
                                        bool removable) {
    GFPDB_ASSERT(object, source);
    GFPDB_ASSERT(!xml_file.empty(), source);
    // Only the golden file is read with removable devices off.
    const bool golden = !removable;
    if (object->get_child_count(PGM_COMMON_XML_ENUM_FLASH) == 0)
        return true;
    const std::vector<PGM_COMMON_XML_GFPDB_SDMMC_FLASH*>& flash_list = object->flash;
    GFPDB_ASSERT(flash_list.size() > 0, source);
    const std::string db_dir = FIO_PATH(xml_file).full_directory();
    for (PGM_COMMON_XML_GFPDB_SDMMC_FLASH* flash_element : flash_list) {
        GFPDB_SDMMC_REQUIRE(flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1);
        const std::vector<PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_INFO*>& device_info_list =
            flash_element->device_info;
        GFPDB_SDMMC_REQUIRE(device_info_list.size() == 1);
        const PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_INFO* info = device_info_list.front();
        std::string voltage;
        std::string density;
        std::string name;
        GFPDB_SDMMC_REQUIRE(first_value(info->device_io_voltage, &voltage) &&
                            first_value(info->device_density, &density) &&
                            first_value(info->device_name, &name));

        // Both run, so that each invalid value is reported.
        std::string voltage_error;
        std::string density_error;
        const bool voltage_ok = device_io_voltage_is_valid(voltage, &voltage_error);
        const bool density_ok = device_density_is_valid(density, &density_error);
        // The name must name a file and be found again: an empty one could never be looked
        // up or deleted.
        const bool name_ok = gfpdb_name_fits_file_name(name);
        if (!name_ok) {
            gfpdb_post(GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
                       name + " (in " + xml_file + ")");
        }
        if (!voltage_ok || !density_ok || !name_ok)
            return false;

        GFPDB_SDMMC_FLASH* flash = new GFPDB_SDMMC_FLASH(name);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage);
        flash->set_density(density);
        flash->set_db_dir(db_dir);
        flash->set_flash_removable_permission(removable);

        if (!register_loaded_flash(flash, xml_file, dir_map))
            return false;
    }
    return true;
}

void GFPDB_SDMMC_MGR::clear_flash_mapping_info() {
    m_family_info_map.clear();
    clear_dir_map(m_flash_db_zorvane_dir_map);
    clear_dir_map(m_flash_db_custom_dir_map);
    m_flash_db_active_dir_map.clear();
    for (auto& entry : m_flash_map)
        delete entry.second;
    m_flash_map.clear();
}

// ---------------------------------------------------------------------------------------------
// Lookups and lists

GFPDB_FLASH* GFPDB_SDMMC_MGR::get_flash_with_id(uint32_t, uint32_t) {
    GFPDB_FAIL("Unsupported function: get_flash_with_id", source);
}

bool GFPDB_SDMMC_MGR::is_new_device_supported() {
    return cfg_is_on("pgm_enable_custom_sdmmc", false);
}

bool GFPDB_SDMMC_MGR::is_flash_action_supported() {
    return false;
}

bool GFPDB_SDMMC_MGR::is_flash_operation_supported() {
    return false;
}

DEV_FAMILY_ENUM GFPDB_SDMMC_MGR::get_flash_family() {
    return DEV_FAMILY_SDMMC_FLASH;
}

const std::vector<DEV_FAMILY_ENUM> GFPDB_SDMMC_MGR::get_device_family_list() {
    std::vector<DEV_FAMILY_ENUM> families;
    for (const auto& entry : m_family_info_map)
        families.push_back(entry.first);
    return families;
}

const std::vector<PGMIO_CONFIG_SCHEME> GFPDB_SDMMC_MGR::get_config_mode_list() {
    return sdmmc_config_scheme;
}

// Every card serves every family and scheme; no voltage filter applies.
const std::vector<std::string> GFPDB_SDMMC_MGR::get_new_config_device_list(DEV_FAMILY_ENUM,
                                                                           PGMIO_CONFIG_SCHEME,
                                                                           bool) {
    GFPDB_ASSERT(!m_flash_map.empty(), source);
    std::vector<std::string> names;
    for (const auto& entry : m_flash_map)
        names.push_back(entry.first);
    return names;
}

const std::vector<std::string> GFPDB_SDMMC_MGR::get_legacy_config_device_list(DEV_FAMILY_ENUM,
                                                                              PGMIO_CONFIG_SCHEME,
                                                                              bool) {
    return {};
}

const std::vector<std::string> GFPDB_SDMMC_MGR::get_device_io_voltage_list() {
    return sdmmc_io_voltage;
}

const std::vector<std::string> GFPDB_SDMMC_MGR::get_device_density_list() {
    return sdmmc_density;
}

const std::vector<std::string> GFPDB_SDMMC_MGR::get_prog_flow_template_list() {
    return {};
}

const std::vector<std::string> GFPDB_SDMMC_MGR::get_user_template_list() {
    return {};
}

// ---------------------------------------------------------------------------------------------
// Factories

GFPDB_MGR* GFPDB_SDMMC_MGR::get_new_instance() {
    GFPDB_MGR* mgr = new (std::nothrow) GFPDB_SDMMC_MGR();
    GFPDB_ASSERT(mgr, source);
    return mgr;
}

GFPDB_FLASH* GFPDB_SDMMC_MGR::create_flash(std::string name) {
    // SD/MMC has no legacy devices, but the rule for cached objects is the base's.
    release_legacy_flash(true);
    m_flash = new (std::nothrow) GFPDB_SDMMC_FLASH(name);
    GFPDB_ASSERT(m_flash, source);
    return m_flash;
}

GFPDB_ACTION* GFPDB_SDMMC_MGR::create_action(GFPDB_ACT_TYPE) {
    GFPDB_FAIL("Unsupported function: create_action", source);
}

GFPDB_OPERATION* GFPDB_SDMMC_MGR::create_operation(GFPDB_OP_TYPE) {
    GFPDB_FAIL("Unsupported function: create_operation", source);
}

const std::vector<GFPDB_OPERATION*>* GFPDB_SDMMC_MGR::get_prog_flow_template_operation_list(
    GFPDB_PROG_FLOW_TEMPLATE, GFPDB_PROG_FLOW_TYPE) {
    return nullptr;
}

const std::vector<GFPDB_OPERATION*>* GFPDB_SDMMC_MGR::get_user_template_operation_list(
    std::string&, GFPDB_PROG_FLOW_TYPE) {
    return nullptr;
}

bool GFPDB_SDMMC_MGR::get_operation_editable_permission(GFPDB_FLASH*) {
    return false;
}

bool GFPDB_SDMMC_MGR::update_template_db(GFPDB_FLASH*, std::string) {
    return true;
}

bool GFPDB_SDMMC_MGR::delete_template(std::string) {
    return true;
}

// ---------------------------------------------------------------------------------------------
// Writing

PGM_COMMON_XML_ELEMENT* GFPDB_SDMMC_MGR::create_xml_object_with_flash_list(
    std::vector<GFPDB_FLASH*> flash_list) {
    GFPDB_ASSERT(flash_list.size() > 0, source);
    auto* root = new PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH(PGM_COMMON_XML_ENUM_SDMMC_FLASH);
    root->write_attribute_value("version", 1);
    for (GFPDB_FLASH* flash : flash_list) {
        auto* flash_element = new PGM_COMMON_XML_GFPDB_SDMMC_FLASH(PGM_COMMON_XML_ENUM_FLASH);
        flash_element->add_child(create_xml_device_info(flash), nullptr);
        root->add_child(flash_element, nullptr);
    }
    return root;
}

PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_INFO* GFPDB_SDMMC_MGR::create_xml_device_info(
    GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash, source);
    // Writers trust nothing: a record is validated before it is saved.
    std::string err_msg;
    // The condition is kept on one line: its text is the report.
    // clang-format off
    GFPDB_ASSERT(device_io_voltage_is_valid(flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), &err_msg), source);
    // clang-format on
    GFPDB_ASSERT(device_density_is_valid(flash->get_density(), &err_msg), source);

    auto* info = new PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_INFO(PGM_COMMON_XML_ENUM_DEVICE_INFO);
    auto* name = new PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_NAME(PGM_COMMON_XML_ENUM_DEVICE_NAME);
    auto* voltage =
        new PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_IO_VOLTAGE(PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE);
    auto* density =
        new PGM_COMMON_XML_GFPDB_SDMMC_DEVICE_DENSITY(PGM_COMMON_XML_ENUM_DEVICE_DENSITY);
    name->write_string(flash->get_name());
    voltage->write_string(flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE));
    density->write_string(flash->get_density());
    info->add_child(name, nullptr);
    info->add_child(voltage, nullptr);
    info->add_child(density, nullptr);
    return info;
}

void GFPDB_SDMMC_MGR::create_user_template_with_template_list(PGM_COMMON_XML_ELEMENT*&,
                                                              std::vector<std::string>) {}
