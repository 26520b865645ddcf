// The QSPI flash database: loading the golden and user files, validating QSPI values,
// writing devices and templates back, and answering the device editor's queries.
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"

#include <array>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>

#include "h/pgm_common_xml_gfpdb_qspi_auto_export.h"
#include "host/cfg.h"
#include "host/fio.h"
#include "host/mem.h"
#include "host/pgm_common.h"
#include "host/pgm_common_xml.h"
#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_qspi_mgr";
MEM_INITIALIZER mem_initializer("GFPDB");

using QSPI_FLASH_XML = PGM_COMMON_XML_GFPDB_QSPI_QSPI_FLASH;

// How each action type is stored: its "type" name, its run of properties, and the texts of
// the checks that its property list has the run's length when it is read and written.
struct ACTION_FORMAT {
    GFPDB_ACT_TYPE type;
    PGM_COMMON_XML_ENUM xml_type;
    int first_property;
    size_t property_count;
    const char* read_check;
    const char* write_check;
};
constexpr ACTION_FORMAT action_formats[GFPDB_ACT_TYPE_COUNT] = {
    {GFPDB_ACT_TYPE_WRITE_REGISTER, PGM_COMMON_XML_ENUM_WRITE_REG, 0, 5,
     "(act->get_property_enum_list()).size() == 5", "enum_list.size() == 5"},
    {GFPDB_ACT_TYPE_READ_REGISTER, PGM_COMMON_XML_ENUM_READ_REG, 5, 8,
     "(act->get_property_enum_list()).size() == 8", "enum_list.size() == 8"},
    {GFPDB_ACT_TYPE_WRITE_DATA, PGM_COMMON_XML_ENUM_WRITE_DATA, 13, 8,
     "(act->get_property_enum_list()).size() == 8", "enum_list.size() == 8"},
    {GFPDB_ACT_TYPE_READ_DATA, PGM_COMMON_XML_ENUM_READ_DATA, 21, 10,
     "(act->get_property_enum_list()).size() == 10", "enum_list.size() == 10"},
    {GFPDB_ACT_TYPE_ERASE, PGM_COMMON_XML_ENUM_ERASE, 31, 7,
     "(act->get_property_enum_list()).size() == 7", "enum_list.size() == 7"},
    {GFPDB_ACT_TYPE_CUSTOM, PGM_COMMON_XML_ENUM_CUSTOM, 38, 2,
     "(act->get_property_enum_list()).size() == 2", "enum_list.size() == 2"},
};

// The child element that holds each action property, indexed by GFPDB_ACT_PROPERTY.
const PGM_COMMON_XML_ENUM property_element[GFPDB_ACT_PROPERTY_COUNT] = {
    // Write Register
    PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_COMMAND, PGM_COMMON_XML_ENUM_DATA,
    PGM_COMMON_XML_ENUM_DELAY, PGM_COMMON_XML_ENUM_BUS_WIDTH,
    // Read Register
    PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_COMMAND, PGM_COMMON_XML_ENUM_DATA_LENGTH,
    PGM_COMMON_XML_ENUM_EXPECTED_DATA, PGM_COMMON_XML_ENUM_EXPECTED_DATA_MASK,
    PGM_COMMON_XML_ENUM_ATTEMPT_COUNT, PGM_COMMON_XML_ENUM_DELAY, PGM_COMMON_XML_ENUM_BUS_WIDTH,
    // Write Data
    PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_COMMAND, PGM_COMMON_XML_ENUM_ADDRESS,
    PGM_COMMON_XML_ENUM_DATA, PGM_COMMON_XML_ENUM_PAGE_SIZE, PGM_COMMON_XML_ENUM_ADDRESSING_MODE,
    PGM_COMMON_XML_ENUM_DELAY, PGM_COMMON_XML_ENUM_BUS_WIDTH,
    // Read Data
    PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_COMMAND, PGM_COMMON_XML_ENUM_ADDRESS,
    PGM_COMMON_XML_ENUM_DATA_LENGTH, PGM_COMMON_XML_ENUM_EXPECTED_DATA,
    PGM_COMMON_XML_ENUM_EXPECTED_DATA_MASK, PGM_COMMON_XML_ENUM_ADDRESSING_MODE,
    PGM_COMMON_XML_ENUM_ACT_DUMMY_CLOCK_CYCLE, PGM_COMMON_XML_ENUM_DELAY,
    PGM_COMMON_XML_ENUM_BUS_WIDTH,
    // Erase
    PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_COMMAND, PGM_COMMON_XML_ENUM_ADDRESS,
    PGM_COMMON_XML_ENUM_ERASE_SIZE, PGM_COMMON_XML_ENUM_ADDRESSING_MODE, PGM_COMMON_XML_ENUM_DELAY,
    PGM_COMMON_XML_ENUM_BUS_WIDTH,
    // Custom
    PGM_COMMON_XML_ENUM_DESCRIPTION, PGM_COMMON_XML_ENUM_DIRECTION};

// The most properties an action type has (Read Data's ten).
constexpr size_t max_action_properties = 10;
constexpr bool formats_fit_the_loader() {
    for (const ACTION_FORMAT& format : action_formats) {
        if (format.property_count > max_action_properties)
            return false;
    }
    return true;
}
static_assert(formats_fit_the_loader(), "an action type has more properties than the loader holds");

// The first direct child of one kind, or null. Found in place: it runs for every property of
// every action read.
const PGM_COMMON_XML_ELEMENT* first_child(const PGM_COMMON_XML_ELEMENT* element,
                                          PGM_COMMON_XML_ENUM kind) {
    for (const PGM_COMMON_XML_ELEMENT* child : element->get_all_childs()) {
        if (child->get_type() == kind)
            return child;
    }
    return nullptr;
}

// The one child of a kind that the caller has counted.
PGM_COMMON_XML_ELEMENT* only_child(const PGM_COMMON_XML_ELEMENT* element,
                                   PGM_COMMON_XML_ENUM kind) {
    return const_cast<PGM_COMMON_XML_ELEMENT*>(first_child(element, kind));
}

}  // namespace

PGM_COMMON_XML_ENUM gfpdb_qspi_property_element(GFPDB_ACT_PROPERTY property) {
    return property_element[property];
}

namespace {
const ACTION_FORMAT* find_action_format(PGM_COMMON_XML_ENUM xml_type) {
    for (const ACTION_FORMAT& format : action_formats) {
        if (format.xml_type == xml_type)
            return &format;
    }
    return nullptr;
}

PGM_COMMON_XML_ELEMENT* new_element(PGM_COMMON_XML_ENUM kind) {
    return PGM_COMMON_XML::create_element(PGM_COMMON_XML_FILE_GFPDB_QSPI, kind);
}

QSPI_FLASH_XML* new_root() {
    auto* root = new QSPI_FLASH_XML();
    root->write_attribute_value("version", 1);
    return root;
}

// A file keeps a line break inside a description as backslash and "n"; only a break that is
// the last character is kept raw.
std::string escape_description(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 != text.size())
            result += "\\n";
        else
            result += text[i];
    }
    return result;
}

std::string unescape_description(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            result += '\n';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// Posts a rejected value's warning and explains it, but only for a caller that asked why.
template <typename ARG>
bool reject(std::string* error, GFPDB_MESSAGE_ID id, ARG arg, const std::string& text) {
    if (error) {
        gfpdb_post(id, arg);
        *error = text;
    }
    return false;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and loading

GFPDB_QSPI_MGR::GFPDB_QSPI_MGR() {
    m_active_device_family = DEV_FAMILY_QSPI_DEFAULT;
    m_active_config_mode = PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4;
    m_use_sdm_mode = false;
    m_flash = nullptr;
    for (std::vector<GFPDB_OPERATION*>* list :
         {&m_sfl_micron_operation_list, &m_sdm_micron_operation_list,
          &m_sfl_macronix_operation_list, &m_sdm_macronix_operation_list,
          &m_sfl_cypress_operation_list, &m_sdm_cypress_operation_list,
          &m_sfl_winbond_operation_list, &m_sdm_winbond_operation_list}) {
        list->reserve(GFPDB_OP_TYPE_COUNT);
    }
    initialize_dev_info();
    initialize_flash_info();
    if (!parse_golden_template_xml())
        GFPDB_FAIL("Failed to parse golden template XML.", source);
    parse_user_xml_in_zorvane_dir();
    // The same folder under two spellings is still one folder: read it once.
    if (!PGM_COMMON::compare_string(FIO_PATH(get_db_zorvane_dir()).full_directory(),
                                    FIO_PATH(get_db_custom_dir()).full_directory(), false)) {
        parse_user_xml_in_custom_dir();
    }
}

GFPDB_QSPI_MGR::GFPDB_QSPI_MGR(UNLOADED) {
    m_active_device_family = DEV_FAMILY_QSPI_DEFAULT;
    m_active_config_mode = PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4;
    m_use_sdm_mode = false;
    m_flash = nullptr;
}

GFPDB_QSPI_MGR::~GFPDB_QSPI_MGR() {
    release_unsaved_flash();
    clear_template_operation_list();
    clear_flash_mapping_info();
}

std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO> GFPDB_QSPI_MGR::get_host_family_info() {
    std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO> families;
    PGMDEV_DEV_INFO_MANAGER dev_info(false, 0);
    for (int family = 1; family <= DEV_FAMILY_LAST; ++family) {
        const PGMDEV_DEVICE_INFO* record = dev_info.get_db_by_family(DEV_FAMILY_ENUM(family));
        if (!record || !record->is_qspi_supported())
            continue;
        GFPDB_FAMILY_INFO& info = families[DEV_FAMILY_ENUM(family)];
        info.sdm = record->is_sdm_flow();
        info.io_voltage = record->get_flash_io_voltage();
    }
    return families;
}

void GFPDB_QSPI_MGR::initialize_dev_info() {
    for (auto& [family, info] : get_host_family_info())
        get_family_info(family) = std::move(info);
}

void GFPDB_QSPI_MGR::initialize_flash_info() {
    PGMDEV_FLASH_MANAGER flash_manager(true, 1, false, false);
    for (size_t i = 0; i < flash_manager.get_flash_count(); ++i) {
        const PGMDEV_FLASH_INFO& flash = flash_manager.get_flash(i);
        if (!flash.is_supported() || flash.get_name().empty() || flash.get_io_voltage().empty())
            continue;
        m_flash_mapping_info[flash.get_name()] = flash.get_io_voltage();
    }
}

std::string GFPDB_QSPI_MGR::get_golden_template_file() {
    return PGM_COMMON::pgm_get_common_programmer() + "xml/" + "pgm_flash_db_qspi.xml";
}

std::string GFPDB_QSPI_MGR::get_xsd_file() {
    return PGM_COMMON::pgm_get_common_programmer() + "xsd/" + "gfpdb_qspi.xsd";
}

bool GFPDB_QSPI_MGR::parse_xml_file(QSPI_FLASH_XML** object, std::string xml_file, bool golden,
                                    std::string& error) {
    GFPDB_ASSERT(object, source);
    GFPDB_ASSERT(xml_file.length() > 0, source);
    error.clear();
    // A user file is looked for only when its check fails: the check reads it anyway.
    if (golden && !FIO_FILE_SYSTEM::exists(xml_file)) {
        MEM_DETAIL::stl_raw_sprintf(&error, "%s not found.", xml_file.c_str());
        return false;
    }
    std::string xsd = get_xsd_file();
    GFPDB_ASSERT(!xsd.empty(), source);
    if (!golden) {
        std::string error2;
        PGM_COMMON_XML::check_xsd(xml_file, xsd, error, error2);
        if (error.empty())
            error = error2;
        if (!error.empty() && !FIO_FILE_SYSTEM::exists(xml_file)) {
            error.clear();
            MEM_DETAIL::stl_raw_sprintf(&error, "%s not found.", xml_file.c_str());
        }
        if (!error.empty())
            return false;
    }
    std::string count_errors;
    std::string info;
    *object = static_cast<QSPI_FLASH_XML*>(PGM_COMMON_XML::parse_xml(
        PGM_COMMON_XML_FILE_GFPDB_QSPI, xml_file, xsd, golden, error, count_errors, info));
    GFPDB_ASSERT(*object != 0, source);
    // The schema already holds user files to the element counts; a tree that still breaks
    // them is refused here, so that the loader only ever walks complete trees. The golden
    // file is read without a schema: its loader's own count checks speak first, and what they
    // leave is reported before its devices are read.
    if (golden)
        m_golden_count_errors = count_errors;
    else if (error.empty())
        error = count_errors;
    if (error.empty())
        return true;
    delete *object;
    *object = nullptr;
    return false;
}

bool GFPDB_QSPI_MGR::parse_golden_template_xml() {
    GFPDB_ASSERT(m_sfl_micron_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sdm_micron_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sfl_macronix_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sdm_macronix_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sfl_cypress_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sdm_cypress_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sfl_winbond_operation_list.size() == 0, source);
    GFPDB_ASSERT(m_sdm_winbond_operation_list.size() == 0, source);
    std::string xml_file = get_golden_template_file();
    GFPDB_ASSERT(!xml_file.empty(), source);
    QSPI_FLASH_XML* object = nullptr;
    std::string error;
    // The golden file ships with the host: anything wrong in it is a broken installation.
    if (!parse_xml_file(&object, xml_file, true, error))
        MSG_INTERNAL_ERROR::report(error.c_str(), "GFPDB", source, __LINE__);
    m_current_file = xml_file;
    bool status = create_flash_info_with_golden_template(object, xml_file);
    GFPDB_ASSERT(status, source);
    delete object;
    GFPDB_ASSERT(m_sfl_micron_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sdm_micron_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sfl_macronix_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sdm_macronix_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sfl_cypress_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sdm_cypress_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sfl_winbond_operation_list.size() > 0, source);
    GFPDB_ASSERT(m_sdm_winbond_operation_list.size() > 0, source);
    if (!m_golden_count_errors.empty())
        MSG_INTERNAL_ERROR::report(m_golden_count_errors.c_str(), "GFPDB", source, __LINE__);
    return true;
}

// One vendor template of the golden file: exactly one element, holding both flows.
#define GFPDB_LOAD_GOLDEN_VENDOR(KIND, vendor)                                                  \
    do {                                                                                        \
        GFPDB_ASSERT(template_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_##KIND) == 1,     \
                     source);                                                                   \
        std::vector<PGM_COMMON_XML_ELEMENT*> vendor##_list =                                    \
            template_list.at(0)->get_childs(PGM_COMMON_XML_ENUM_##KIND);                        \
        GFPDB_ASSERT(vendor##_list.size() == 1, source);                                        \
        status =                                                                                \
            update_overall_operation_list(vendor##_list.at(0), m_sfl_##vendor##_operation_list, \
                                          m_sdm_##vendor##_operation_list) &&                   \
            status;                                                                             \
    } while (0)

bool GFPDB_QSPI_MGR::create_flash_info_with_golden_template(QSPI_FLASH_XML* object,
                                                            std::string xml_file) {
    GFPDB_ASSERT(object, source);
    GFPDB_ASSERT(!xml_file.empty(), source);
    GFPDB_ASSERT(object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) == 1, source);
    std::vector<PGM_COMMON_XML_ELEMENT*> template_list = object->golden_template;
    GFPDB_ASSERT(template_list.size() == 1, source);
    bool status = true;
    GFPDB_LOAD_GOLDEN_VENDOR(MICRON, micron);
    GFPDB_LOAD_GOLDEN_VENDOR(MACRONIX, macronix);
    GFPDB_LOAD_GOLDEN_VENDOR(CYPRESS, cypress);
    GFPDB_LOAD_GOLDEN_VENDOR(WINBOND, winbond);
    // Built-in devices count as host-directory devices that the user cannot remove.
    return update_flash_list(object, xml_file, m_flash_db_zorvane_dir_map, false) && status;
}
#undef GFPDB_LOAD_GOLDEN_VENDOR

bool GFPDB_QSPI_MGR::update_overall_operation_list(PGM_COMMON_XML_ELEMENT* xml,
                                                   std::vector<GFPDB_OPERATION*>& sfl,
                                                   std::vector<GFPDB_OPERATION*>& sdm) {
    GFPDB_ASSERT(xml, source);
    GFPDB_ASSERT(sfl.size() == 0, source);
    GFPDB_ASSERT(sdm.size() == 0, source);
    GFPDB_ASSERT(xml->get_child_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW) == 1, source);
    // The children are found in place: this runs for every device and template read.
    const std::array<const PGM_COMMON_XML_ELEMENT*, 1> prog_flow_list = {
        first_child(xml, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW)};
    GFPDB_ASSERT(prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SFL) == 1, source);
    GFPDB_ASSERT(prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SDM) == 1, source);
    bool sfl_ok =
        update_operation_list(only_child(prog_flow_list.at(0), PGM_COMMON_XML_ENUM_SFL), sfl);
    GFPDB_ASSERT(sfl.size() > 0, source);
    bool sdm_ok =
        update_operation_list(only_child(prog_flow_list.at(0), PGM_COMMON_XML_ENUM_SDM), sdm);
    GFPDB_ASSERT(sdm.size() > 0, source);
    return sfl_ok && sdm_ok;
}

bool GFPDB_QSPI_MGR::update_operation_list(PGM_COMMON_XML_ELEMENT* xml,
                                           std::vector<GFPDB_OPERATION*>& op_list) {
    GFPDB_ASSERT(xml, source);
    GFPDB_ASSERT(op_list.size() == 0, source);
    GFPDB_ASSERT(xml->get_child_count(PGM_COMMON_XML_ENUM_INITIALIZATION) == 1, source);
    GFPDB_ASSERT(xml->get_child_count(PGM_COMMON_XML_ENUM_PROGRAM) == 1, source);
    GFPDB_ASSERT(xml->get_child_count(PGM_COMMON_XML_ENUM_ERASE) == 1, source);
    GFPDB_ASSERT(xml->get_child_count(PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE) == 1, source);
    GFPDB_ASSERT(xml->get_child_count(PGM_COMMON_XML_ENUM_TERMINATION) == 1, source);
    // One element of each operation kind, in the order the flow runs them.
    op_list.reserve(std::size(gfpdb_operation_element));
    bool ok = true;
    for (size_t type = 0; type < std::size(gfpdb_operation_element); ++type)
        ok = add_operation_into_list(GFPDB_OP_TYPE(type),
                                     only_child(xml, gfpdb_operation_element[type]), op_list) &&
             ok;
    return ok;
}

bool GFPDB_QSPI_MGR::add_operation_into_list(GFPDB_OP_TYPE type, PGM_COMMON_XML_ELEMENT* xml,
                                             std::vector<GFPDB_OPERATION*>& op_list) {
    GFPDB_ASSERT(xml, source);
    GFPDB_OPERATION* op = create_operation(type);
    GFPDB_ASSERT(op, source);
    const size_t actions = xml->get_child_count(PGM_COMMON_XML_ENUM_ACTION);
    if (actions == 0) {
        op_list.push_back(op);
        return true;
    }
    op->reserve_action_list(actions);
    bool result = true;
    for (PGM_COMMON_XML_ELEMENT* element : xml->get_all_childs()) {
        if (element->get_type() != PGM_COMMON_XML_ENUM_ACTION)
            continue;
        auto* xml_action = static_cast<PGM_COMMON_XML_GFPDB_QSPI_ACTION*>(element);
        const ACTION_FORMAT* format = find_action_format(xml_action->type);
        if (!format)
            GFPDB_FAIL("Unknown action type", source);
        // create_action makes QSPI actions only.
        auto* act = static_cast<GFPDB_QSPI_ACTION*>(create_action(format->type));
        if (act->get_property_count() != format->property_count)
            MSG_INTERNAL_ERROR::report(format->read_check, "GFPDB", source, __LINE__);

        // The values as the tree holds them; a number is written out and a description
        // unescaped into `made`.
        std::array<const std::string*, max_action_properties> candidates{};
        std::array<std::string, max_action_properties> made;
        bool valid = true;
        for (size_t i = 0; i < format->property_count; ++i) {
            auto property = GFPDB_ACT_PROPERTY(format->first_property + i);
            const PGM_COMMON_XML_ELEMENT* child =
                first_child(xml_action, property_element[property]);
            // The schema cannot tie an action's children to its type, so a user file may
            // lack one. Such an action is refused like any invalid value: the property's
            // warning names the missing element and the file, and the device or template
            // that holds it is not loaded.
            if (!child) {
                gfpdb_post(GFPDB_QSPI_ACTION::property_warning(property),
                           std::string("(no ") +
                               pgm_common_xml_enum_name(property_element[property]) +
                               " element in " + m_current_file + ")");
                valid = false;
                continue;
            }
            const std::string* text = child->get_value_string();
            if (!text) {
                made[i] = child->get_value_text();
                text = &made[i];
            }
            if (property == GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION) {
                // The line-break escape is defined for two characters and more; a shorter
                // description is refused like an invalid value rather than guessed at.
                if (text->size() < 2) {
                    gfpdb_post(GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION,
                               *text + " (fewer than two characters, in " + m_current_file + ")");
                    valid = false;
                    continue;
                }
                made[i] = unescape_description(*text);
                text = &made[i];
            }
            candidates[i] = text;
        }
        // Every value is checked, so that the user hears of all of them at once.
        for (size_t i = 0; i < format->property_count; ++i) {
            if (!candidates[i])
                continue;
            auto property = GFPDB_ACT_PROPERTY(format->first_property + i);
            valid = act->value_is_valid(property, *candidates[i], nullptr) && valid;
        }
        if (valid) {
            std::array<std::string_view, max_action_properties> values;
            for (size_t i = 0; i < format->property_count; ++i)
                values[i] = *candidates[i];
            act->set_property_values(GFPDB_ACT_PROPERTY(format->first_property), values.data(),
                                     format->property_count);
        } else {
            result = false;
        }
        op->add_action_into_list(act);
    }
    op_list.push_back(op);
    return result;
}

bool GFPDB_QSPI_MGR::update_flash_list(QSPI_FLASH_XML* object, std::string xml_file,
                                       std::map<std::string, std::string>& dir_map,
                                       bool removable) {
    GFPDB_ASSERT(object, source);
    GFPDB_ASSERT(!xml_file.empty(), source);
    if (object->get_child_count(PGM_COMMON_XML_ENUM_FLASH) == 0)
        return true;
    const auto& flash_list = object->flash;
    GFPDB_ASSERT(flash_list.size() > 0, source);
    for (PGM_COMMON_XML_GFPDB_QSPI_FLASH* flash_element : flash_list) {
        GFPDB_ASSERT(flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1, source);
        const auto& device_info_list = flash_element->device_info;
        GFPDB_ASSERT(device_info_list.size() == 1, source);
        // The golden file is read without a schema: a value element it lacks stops the
        // program before it is read.
        if (!removable && !m_golden_count_errors.empty())
            MSG_INTERNAL_ERROR::report(m_golden_count_errors.c_str(), "GFPDB", source, __LINE__);
        PGM_COMMON_XML_GFPDB_QSPI_DEVICE_INFO* info = device_info_list.at(0);
        const std::string& id = info->device_id.at(0)->value;
        const std::string& voltage = info->device_io_voltage.at(0)->value;
        const std::string& density = info->device_density.at(0)->value;
        uint32_t die = info->total_device_die.at(0)->value;
        uint32_t dummy = info->dummy_clock_cycle.at(0)->value;
        uint32_t dummy_x4 = info->dummy_clock_cycle_x4.at(0)->value;

        // All six run, so that every bad value of the device is reported.
        std::string err_msg;
        bool valid = device_id_is_valid(id, &err_msg);
        valid = device_io_voltage_is_valid(voltage, &err_msg) && valid;
        valid = device_density_is_valid(density, &err_msg) && valid;
        valid = total_device_die_is_valid(die, &err_msg) && valid;
        valid = dummy_clock_cycle_is_valid(dummy, &err_msg) && valid;
        valid = dummy_clock_cycle_is_valid(dummy_x4, &err_msg) && valid;
        // The name is not held to the editor's rule, but it must name a file and be found
        // again: an empty one could never be looked up or deleted.
        const std::string name = info->device_name.at(0)->value;
        if (!gfpdb_name_fits_file_name(name)) {
            gfpdb_post(GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
                       name + " (in " + xml_file + ")");
            valid = false;
        }
        if (!valid)
            return false;

        auto* flash = new GFPDB_QSPI_FLASH(name);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, id);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage);
        flash->set_density(density);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, die);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, dummy);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, dummy_x4);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE,
                                   info->prog_flow_template.at(0)->value);
        flash->set_db_dir(gfpdb_folder_of_read_file(xml_file));
        flash->set_flash_removable_permission(removable);

        std::vector<GFPDB_OPERATION*> sfl;
        std::vector<GFPDB_OPERATION*> sdm;
        if (!update_overall_operation_list(flash_element, sfl, sdm)) {
            gfpdb_delete_last_first(sfl);
            gfpdb_delete_last_first(sdm);
            delete flash;
            return false;
        }
        flash->set_operation_list(sfl, GFPDB_PROG_FLOW_TYPE_SFL);
        flash->set_operation_list(sdm, GFPDB_PROG_FLOW_TYPE_SDM);

        if (!register_loaded_flash(flash, xml_file, dir_map))
            return false;
    }
    return true;
}

bool GFPDB_QSPI_MGR::create_user_template_list(QSPI_FLASH_XML* flash_object, std::string xml_file) {
    GFPDB_ASSERT(flash_object != NULL, source);
    GFPDB_ASSERT(!xml_file.empty(), source);
    if (flash_object->get_child_count(PGM_COMMON_XML_ENUM_USER_TEMPLATE) == 0)
        return true;
    std::vector<PGM_COMMON_XML_GFPDB_QSPI_USER_TEMPLATE*> user_template_list =
        flash_object->user_template;
    GFPDB_ASSERT(user_template_list.size() > 0, source);
    for (PGM_COMMON_XML_GFPDB_QSPI_USER_TEMPLATE* user_template_element : user_template_list) {
        GFPDB_ASSERT(user_template_element->get_child_count(PGM_COMMON_XML_ENUM_TEMPLATE_NAME) == 1,
                     source);
        GFPDB_ASSERT(
            user_template_element->get_child_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW) == 1,
            source);
        std::vector<PGM_COMMON_XML_GFPDB_QSPI_PROGRAMMING_FLOW*> prog_flow_list =
            user_template_element->programming_flow;
        GFPDB_ASSERT(prog_flow_list.size() == 1, source);
        GFPDB_ASSERT(prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SFL) == 1, source);
        const auto& sfl_list = prog_flow_list.at(0)->sfl;
        GFPDB_ASSERT(sfl_list.size() == 1, source);
        GFPDB_ASSERT(prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SDM) == 1, source);
        const auto& sdm_list = prog_flow_list.at(0)->sdm;
        GFPDB_ASSERT(sdm_list.size() == 1, source);

        auto user_flash_template = std::make_unique<GFPDB_USER_FLASH_TEMPLATE>();
        bool sfl_ok =
            update_operation_list(sfl_list.at(0), user_flash_template->sfl_operation_list);
        GFPDB_ASSERT(user_flash_template->sfl_operation_list.size() > 0, source);
        bool sdm_ok =
            update_operation_list(sdm_list.at(0), user_flash_template->sdm_operation_list);
        GFPDB_ASSERT(user_flash_template->sdm_operation_list.size() > 0, source);
        if (!sfl_ok || !sdm_ok)
            continue;

        const std::string name = user_template_element->template_name.at(0)->value;
        if (!gfpdb_name_fits_file_name(name)) {
            gfpdb_post(GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
                       name + " (in " + xml_file + ")");
            continue;
        }
        // The first template of a name wins; a later one ends its file's templates.
        if (m_user_flash_template_map.count(name))
            return false;
        m_user_flash_template_map[name] = user_flash_template.release();
        set_dir_entry(m_template_db_dir_map, name, xml_file);
    }
    return true;
}

bool GFPDB_QSPI_MGR::parse_user_xml_in_zorvane_dir() {
    return parse_user_xml_in_dir(get_db_zorvane_dir(), true);
}

bool GFPDB_QSPI_MGR::parse_user_xml_in_custom_dir() {
    return parse_user_xml_in_dir(get_db_custom_dir(), false);
}

bool GFPDB_QSPI_MGR::parse_user_xml_in_dir(const std::string& dir, bool is_zorvane) {
    bool result = true;
    for_each_user_file(
        dir, is_zorvane, "pgm_flash_db_qspi.xml",
        [&](const std::string& name, const std::string& file) {
            QSPI_FLASH_XML* object = nullptr;
            std::string error;
            if (!parse_xml_file(&object, file, false, error)) {
                gfpdb_debug("Skip %s due to parsing error: %s", name.c_str(), error.c_str());
                result = false;
                return false;
            }
            std::unique_ptr<QSPI_FLASH_XML> owned(object);
            m_current_file = file;
            bool ok = update_flash_list(
                object, file, is_zorvane ? m_flash_db_zorvane_dir_map : m_flash_db_custom_dir_map,
                true);
            // A file's templates count only when all of its devices did.
            if (ok)
                ok = create_user_template_list(object, file);
            if (!ok)
                result = false;
            return ok;
        });
    return result;
}

void GFPDB_QSPI_MGR::clear_template_operation_list() {
    for (std::vector<GFPDB_OPERATION*>* list :
         {&m_sfl_micron_operation_list, &m_sdm_micron_operation_list,
          &m_sfl_macronix_operation_list, &m_sdm_macronix_operation_list,
          &m_sfl_cypress_operation_list, &m_sdm_cypress_operation_list,
          &m_sfl_winbond_operation_list, &m_sdm_winbond_operation_list}) {
        gfpdb_delete_last_first(*list);
    }
    for (auto& [name, user_template] : m_user_flash_template_map)
        delete user_template;
    m_user_flash_template_map.clear();
}

void GFPDB_QSPI_MGR::clear_flash_mapping_info() {
    m_family_info_map.clear();
    m_flash_mapping_info.clear();
    clear_dir_map(m_flash_db_zorvane_dir_map);
    clear_dir_map(m_flash_db_custom_dir_map);
    m_flash_db_active_dir_map.clear();
    for (auto& [name, flash] : m_flash_map)
        delete flash;
    m_flash_map.clear();
}

GFPDB_MGR* GFPDB_QSPI_MGR::get_new_instance() {
    GFPDB_MGR* mgr = new GFPDB_QSPI_MGR();
    GFPDB_ASSERT(mgr, source);
    return mgr;
}

GFPDB_FLASH* GFPDB_QSPI_MGR::create_flash(std::string name) {
    release_legacy_flash(true);
    m_flash = new GFPDB_QSPI_FLASH(name);
    GFPDB_ASSERT(m_flash, source);
    return m_flash;
}

GFPDB_ACTION* GFPDB_QSPI_MGR::create_action(GFPDB_ACT_TYPE type) {
    GFPDB_ACTION* action = new GFPDB_QSPI_ACTION(type);
    GFPDB_ASSERT(action, source);
    return action;
}

GFPDB_OPERATION* GFPDB_QSPI_MGR::create_operation(GFPDB_OP_TYPE type) {
    GFPDB_OPERATION* operation = new GFPDB_QSPI_OPERATION(type);
    GFPDB_ASSERT(operation, source);
    return operation;
}

// ---------------------------------------------------------------------------------------------
// Validation

bool GFPDB_QSPI_MGR::is_parameter_valid(GFPDB_FLASH_PARAM param, uint32_t value,
                                        std::string* error) {
    switch (param) {
        case GFPDB_FLASH_PARAM_TOTAL_DIE:
            return total_device_die_is_valid(value, error);
        case GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE:
        case GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4:
            return dummy_clock_cycle_is_valid(value, error);
        default:
            return GFPDB_MGR::is_parameter_valid(param, value, error);
    }
}

bool GFPDB_QSPI_MGR::is_parameter_valid(GFPDB_FLASH_PARAM param, std::string value,
                                        std::string* error) {
    switch (param) {
        case GFPDB_FLASH_PARAM_ID:
            return device_id_is_valid(value, error);
        case GFPDB_FLASH_PARAM_TEMPLATE_NAME:
            return template_name_is_valid(value, error);
        case GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE:
            return prog_flow_template_is_valid(value, error);
        default:
            return GFPDB_MGR::is_parameter_valid(param, value, error);
    }
}

bool GFPDB_QSPI_MGR::is_parameter_valid(GFPDB_FLASH_PARAM param) {
    return param >= GFPDB_FLASH_PARAM_NAME && param <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE;
}

bool GFPDB_QSPI_MGR::device_id_is_valid(std::string id, std::string* err_msg) {
    bool valid =
        !id.empty() && id.find_first_not_of("abcdefxABCDEF0123456789 ") == std::string::npos;
    if (valid) {
        uint32_t size = 0;
        bool ok = true;
        std::unique_ptr<unsigned char[]> bytes(
            GFPDB_MGR::convert_data_list_string_to_byte_array(id, &size, &ok));
        valid = bytes && ok;
    }
    if (valid)
        return true;
    return reject(err_msg, GFPDB_INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, id,
                  "Device ID '" + id +
                      "' is invalid. It either contains an empty string or special characters, "
                      "or it is not in the list of byte formats.");
}

bool GFPDB_QSPI_MGR::dummy_clock_cycle_is_valid(uint32_t value, std::string* err_msg) {
    if (value <= 15)
        return true;
    return reject(err_msg, GFPDB_INVALID_DEVICE_DUMMY_CLOCK_CYCLE, static_cast<int>(value),
                  "Device dummy clock cycle '" + std::to_string(value) + "' is invalid.");
}

bool GFPDB_QSPI_MGR::total_device_die_is_valid(uint32_t value, std::string* err_msg) {
    if (value != 0)
        return true;
    return reject(err_msg, GFPDB_INVALID_TOTAL_DEVICE_DIE, 0,
                  std::string("Total device die '") + "0" + "' is invalid.");
}

bool GFPDB_QSPI_MGR::template_name_is_valid(std::string name, std::string* err_msg) {
    if (!is_valid_name(name)) {
        return reject(err_msg, GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, name,
                      "Template name '" + name +
                          "' is invalid as it contains either an empty string or special "
                          "characters.");
    }
    if (is_golden_template_name(name)) {
        return reject(err_msg, GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE, name,
                      "Template name '" + name +
                          "' is invalid as it conflicts with the reserved name for the "
                          "programming flow template.");
    }
    if (m_user_flash_template_map.count(name)) {
        return reject(err_msg, GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE, name,
                      "Template name '" + name +
                          "' is invalid as it already exist in the template database.");
    }
    if (device_exist_in_db(name, true)) {
        // The dialog text has always been spelled this way; the catalogue text is not.
        return reject(err_msg, GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE, name,
                      "Tempate name '" + name +
                          "' is invalid as it conflicts with existing device name in the device "
                          "database.");
    }
    const std::string other = record_sharing_file("pgm_flash_template_" + name + ".xml");
    if (!other.empty()) {
        const bool is_template = m_user_flash_template_map.count(other) != 0;
        return reject(err_msg,
                      is_template ? GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE
                                  : GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE,
                      name,
                      "Template name '" + name + "' is invalid as its file would be the file of " +
                          (is_template ? "template '" : "device '") + other + "'.");
    }
    return true;
}

bool GFPDB_QSPI_MGR::prog_flow_template_is_valid(std::string name, std::string* err_msg) {
    if (!name.empty()) {
        if (is_golden_template_name(name) || m_user_flash_template_map.count(name))
            return true;
        // The record being edited may keep the template it already follows.
        if (m_flash && name == m_flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE))
            return true;
    }
    return reject(err_msg, GFPDB_INVALID_PROGRAMMING_FLOW_TEMPLATE, name,
                  "Programming flow template '" + name + "' is invalid.");
}

// ---------------------------------------------------------------------------------------------
// Queries

DEV_FAMILY_ENUM GFPDB_QSPI_MGR::get_flash_family() {
    return DEV_FAMILY_QSPI_FLASH;
}

const std::vector<DEV_FAMILY_ENUM> GFPDB_QSPI_MGR::get_device_family_list() {
    std::vector<DEV_FAMILY_ENUM> families;
    for (const auto& [family, info] : m_family_info_map)
        families.push_back(family);
    return families;
}

const std::vector<PGMIO_CONFIG_SCHEME> GFPDB_QSPI_MGR::get_config_mode_list() {
    return {PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4};
}

const std::vector<std::string> GFPDB_QSPI_MGR::get_device_density_list() {
    return {std::begin(gfpdb_qspi_density), std::end(gfpdb_qspi_density)};
}

const std::vector<std::string> GFPDB_QSPI_MGR::get_device_io_voltage_list() {
    return {std::begin(gfpdb_qspi_io_voltage), std::end(gfpdb_qspi_io_voltage)};
}

const std::vector<std::string> GFPDB_QSPI_MGR::get_new_config_device_list(DEV_FAMILY_ENUM family,
                                                                          PGMIO_CONFIG_SCHEME,
                                                                          bool show_all) {
    std::vector<std::string> names;
    bool filter = !show_all && !m_skip_device_filtering;
    const std::string voltage = filter ? get_family_info(family).io_voltage : std::string();
    for (const auto& [name, flash] : m_flash_map) {
        if (!filter || flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE) == voltage)
            names.push_back(name);
    }
    return names;
}

const std::vector<std::string> GFPDB_QSPI_MGR::get_legacy_config_device_list(
    DEV_FAMILY_ENUM family, PGMIO_CONFIG_SCHEME scheme, bool show_all) {
    std::vector<std::string> names;
    bool filter = !show_all && !m_skip_device_filtering;
    const std::string voltage = filter ? get_family_info(family).io_voltage : std::string();
    for (const auto& [name, flash_voltage] : m_flash_mapping_info) {
        if (filter) {
            if (flash_voltage != voltage)
                continue;
            // The x4 scheme cannot drive the built-in devices of the KVRN line.
            bool scheme_takes_it = scheme == PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1 ||
                                   (scheme == PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4 &&
                                    name.find("KVRN") == std::string::npos);
            if (!scheme_takes_it)
                continue;
        }
        names.push_back(name);
    }
    return names;
}

const std::vector<std::string> GFPDB_QSPI_MGR::get_prog_flow_template_list() {
    std::vector<std::string> names(std::begin(gfpdb_prog_flow_template_name),
                                   std::end(gfpdb_prog_flow_template_name));
    for (const std::string& name : get_user_template_list())
        names.push_back(name);
    return names;
}

const std::vector<std::string> GFPDB_QSPI_MGR::get_user_template_list() {
    std::vector<std::string> names;
    for (const auto& [name, record] : m_user_flash_template_map)
        names.push_back(name);
    return names;
}

const std::vector<GFPDB_OPERATION*>* GFPDB_QSPI_MGR::get_prog_flow_template_operation_list(
    GFPDB_PROG_FLOW_TEMPLATE prog_flow_template, GFPDB_PROG_FLOW_TYPE flow) {
    bool sdm = flow == GFPDB_PROG_FLOW_TYPE_SDM;
    switch (prog_flow_template) {
        case GFPDB_PROG_FLOW_TEMPLATE_MICRON:
            return sdm ? &m_sdm_micron_operation_list : &m_sfl_micron_operation_list;
        case GFPDB_PROG_FLOW_TEMPLATE_MACRONIX:
            return sdm ? &m_sdm_macronix_operation_list : &m_sfl_macronix_operation_list;
        case GFPDB_PROG_FLOW_TEMPLATE_CYPRESS:
            return sdm ? &m_sdm_cypress_operation_list : &m_sfl_cypress_operation_list;
        case GFPDB_PROG_FLOW_TEMPLATE_WINBOND:
            return sdm ? &m_sdm_winbond_operation_list : &m_sfl_winbond_operation_list;
    }
    GFPDB_FAIL("Unknown programming flow template", source);
}

const std::vector<GFPDB_OPERATION*>* GFPDB_QSPI_MGR::get_user_template_operation_list(
    std::string& template_name, GFPDB_PROG_FLOW_TYPE flow) {
    auto iter = m_user_flash_template_map.find(template_name);
    if (iter == m_user_flash_template_map.end()) {
        MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown user template %s",
                                        template_name.c_str());
    }
    return flow == GFPDB_PROG_FLOW_TYPE_SDM ? &iter->second->sdm_operation_list
                                            : &iter->second->sfl_operation_list;
}

bool GFPDB_QSPI_MGR::get_operation_editable_permission(GFPDB_FLASH* flash) {
    bool editable = !m_use_sdm_mode && (!flash || flash->get_flash_removable_permission() ||
                                        !device_exist_in_db(flash->get_name(), true));
    // The setting overrides everything; it is read on every call.
    return cfg_is_on("pgm_gfpdb_enable_operation_editable", false) || editable;
}

// ---------------------------------------------------------------------------------------------
// Writing devices and templates

namespace {
// A number property's text as its 32-bit element holds it. The text is read as the number
// rule reads it, decimal unless it starts with "0x", so that a leading zero means what it
// meant when the value was validated (010 is ten).
uint64_t number_of(const std::string& text) {
    bool fits = false;
    const uint64_t number = PGM_COMMON::convert_string_to_qword(text, false, &fits);
    // Beyond 64 bits the conversion gives 0; such a text is no 32-bit number either.
    return fits ? number : UINT64_MAX;
}

// The text parameters of a record and the warning that refuses each one that a file cannot
// hold (the programming flow template is the one no writer validates).
struct DEVICE_TEXT {
    GFPDB_FLASH_PARAM param;
    GFPDB_MESSAGE_ID warning;
};
const DEVICE_TEXT device_texts[] = {
    {GFPDB_FLASH_PARAM_ID, GFPDB_INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR},
    {GFPDB_FLASH_PARAM_IO_VOLTAGE, GFPDB_INVALID_IO_VOLTAGE},
    {GFPDB_FLASH_PARAM_TEMPLATE_NAME,
     GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR},
    {GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, GFPDB_INVALID_PROGRAMMING_FLOW_TEMPLATE},
};

const char* const not_storable = " (not text a database file can hold)";
}  // namespace

bool GFPDB_QSPI_MGR::flash_fits_file_format(GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash, source);
    bool fits = GFPDB_MGR::flash_fits_file_format(flash);
    for (const DEVICE_TEXT& text : device_texts) {
        const std::string value = flash->get_parameter_value(text.param);
        if (!PGM_COMMON_XML::is_storable_text(value)) {
            gfpdb_post(text.warning, value + not_storable);
            fits = false;
        }
    }
    if (!PGM_COMMON_XML::is_storable_text(flash->get_density())) {
        gfpdb_post(GFPDB_INVALID_DEVICE_DENSITY, flash->get_density() + not_storable);
        fits = false;
    }
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        for (GFPDB_OPERATION* op : *flash->get_operation_list(flow)) {
            for (GFPDB_ACTION* act : *op->get_action_list()) {
                for (GFPDB_ACT_PROPERTY property : act->get_property_enum_list()) {
                    const std::string value = act->get_property_value(property);
                    // A number element holds 32 bits; a larger value would come back changed.
                    if (GFPDB_QSPI_ACTION::property_is_number(property) && !value.empty() &&
                        number_of(value) > UINT32_MAX) {
                        gfpdb_post(GFPDB_QSPI_ACTION::property_warning(property),
                                   value + " (more than 32 bits)");
                        fits = false;
                    }
                    if (!PGM_COMMON_XML::is_storable_text(value)) {
                        gfpdb_post(GFPDB_QSPI_ACTION::property_warning(property),
                                   value + not_storable);
                        fits = false;
                    }
                    if (property != GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION)
                        continue;
                    // The file's line-break escape needs two characters to work on, and a
                    // backslash before an "n" would come back as a line break.
                    if (value.size() < 2) {
                        gfpdb_post(GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION,
                                   value + " (fewer than two characters)");
                        fits = false;
                    } else if (value.find("\\n") != std::string::npos) {
                        gfpdb_post(GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION,
                                   value + " (a backslash before n reads back as a line break)");
                        fits = false;
                    }
                }
            }
        }
    }
    return fits;
}

bool GFPDB_QSPI_MGR::update_template_db(GFPDB_FLASH* flash, std::string db_dir) {
    GFPDB_ASSERT(flash, source);
    GFPDB_ASSERT(!flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME).empty(), source);
    if (!flash_fits_file_format(flash))
        return false;
    FIO_FOLDER_LOCK lock(db_dir, 3000);
    const std::string template_name = flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME);
    if (!lock.held()) {
        gfpdb_post_refusal(db_dir, "another program is saving in this folder");
        return false;
    }
    if (!file_may_be_replaced(db_dir + "pgm_flash_template_" + template_name + ".xml", db_dir,
                              true) ||
        !write_template_xml_and_update_dir_map(flash, db_dir))
        return false;
    auto record = std::make_unique<GFPDB_USER_FLASH_TEMPLATE>();
    for (GFPDB_OPERATION* op : *flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM))
        record->sdm_operation_list.push_back(
            new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(op)));
    for (GFPDB_OPERATION* op : *flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL))
        record->sfl_operation_list.push_back(
            new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(op)));
    GFPDB_USER_FLASH_TEMPLATE*& stored =
        m_user_flash_template_map[flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME)];
    delete stored;
    stored = record.release();
    return true;
}

bool GFPDB_QSPI_MGR::write_template_xml_and_update_dir_map(GFPDB_FLASH* flash,
                                                           std::string& db_dir) {
    GFPDB_ASSERT(flash, source);
    GFPDB_ASSERT(!flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME).empty(), source);
    const std::string template_name = flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME);
    PGM_COMMON_XML_ELEMENT* tree = create_user_template_xml_object(flash);
    const std::string file = db_dir + "pgm_flash_template_" + template_name + ".xml";
    if (!gfpdb_replace_xml_file(tree, file, db_dir))
        return false;
    remember_file(file);
    set_dir_entry(m_template_db_dir_map, template_name, file);
    return true;
}

QSPI_FLASH_XML* GFPDB_QSPI_MGR::create_user_template_xml_object(GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash, source);
    std::unique_ptr<QSPI_FLASH_XML> root(new_root());
    auto* user_template = new PGM_COMMON_XML_GFPDB_QSPI_USER_TEMPLATE();
    auto* template_name = new PGM_COMMON_XML_GFPDB_QSPI_TEMPLATE_NAME();
    root->add_child(user_template, nullptr);
    user_template->add_child(template_name, nullptr);
    GFPDB_ASSERT(
        template_name_is_valid(flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME)),
        source);
    template_name->write_string(flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME));
    user_template->add_child(create_xml_programming_flow(flash), nullptr);
    return root.release();
}

PGM_COMMON_XML_ELEMENT* GFPDB_QSPI_MGR::create_xml_object_with_flash_list(
    std::vector<GFPDB_FLASH*> flash_list) {
    GFPDB_ASSERT(flash_list.size() > 0, source);
    QSPI_FLASH_XML* root = new_root();
    for (GFPDB_FLASH* flash : flash_list) {
        auto* xml_flash = new PGM_COMMON_XML_GFPDB_QSPI_FLASH();
        xml_flash->add_child(create_xml_device_info(flash), nullptr);
        xml_flash->add_child(create_xml_programming_flow(flash), nullptr);
        root->add_child(xml_flash, nullptr);
    }
    return root;
}

void GFPDB_QSPI_MGR::create_user_template_with_template_list(
    PGM_COMMON_XML_ELEMENT*& root, std::vector<std::string> template_list) {
    GFPDB_ASSERT(template_list.size() > 0, source);
    if (!root)
        root = new_root();
    for (const std::string& template_name : template_list) {
        GFPDB_ASSERT(
            m_user_flash_template_map.find(template_name) != m_user_flash_template_map.end(),
            source);
        GFPDB_USER_FLASH_TEMPLATE* record = m_user_flash_template_map[template_name];
        auto* user_template = new PGM_COMMON_XML_GFPDB_QSPI_USER_TEMPLATE();
        auto* name = new PGM_COMMON_XML_GFPDB_QSPI_TEMPLATE_NAME();
        name->write_string(template_name);
        auto* flow = new PGM_COMMON_XML_GFPDB_QSPI_PROGRAMMING_FLOW();
        auto* sfl = new PGM_COMMON_XML_GFPDB_QSPI_SFL();
        auto* sdm = new PGM_COMMON_XML_GFPDB_QSPI_SDM();
        create_xml_for_one_programming_flow(&record->sfl_operation_list, sfl, nullptr);
        create_xml_for_one_programming_flow(&record->sdm_operation_list, nullptr, sdm);
        flow->add_child(sfl, nullptr);
        flow->add_child(sdm, nullptr);
        user_template->add_child(name, nullptr);
        user_template->add_child(flow, nullptr);
        root->add_child(user_template, nullptr);
    }
}

PGM_COMMON_XML_GFPDB_QSPI_DEVICE_INFO* GFPDB_QSPI_MGR::create_xml_device_info(GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash, source);
    std::string err_msg;
    GFPDB_ASSERT(device_id_is_valid(flash->get_parameter_value(GFPDB_FLASH_PARAM_ID), &err_msg),
                 source);
    GFPDB_ASSERT(device_io_voltage_is_valid(
                     flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), &err_msg),
                 source);
    GFPDB_ASSERT(device_density_is_valid(flash->get_density(), &err_msg), source);
    GFPDB_ASSERT(total_device_die_is_valid(
                     flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE), &err_msg),
                 source);
    GFPDB_ASSERT(
        dummy_clock_cycle_is_valid(
            flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE), &err_msg),
        source);
    GFPDB_ASSERT(
        dummy_clock_cycle_is_valid(
            flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4), &err_msg),
        source);

    auto* info = new PGM_COMMON_XML_GFPDB_QSPI_DEVICE_INFO();
    auto add_text = [info](PGM_COMMON_XML_ENUM kind, const std::string& text) {
        PGM_COMMON_XML_ELEMENT* leaf = new_element(kind);
        leaf->write_string(text);
        info->add_child(leaf, nullptr);
    };
    auto add_number = [info, flash](PGM_COMMON_XML_ENUM kind, GFPDB_FLASH_PARAM param) {
        PGM_COMMON_XML_ELEMENT* leaf = new_element(kind);
        leaf->write_value(flash->get_parameter_value_in_dword(param));
        info->add_child(leaf, nullptr);
    };
    add_text(PGM_COMMON_XML_ENUM_DEVICE_NAME, flash->get_name());
    add_text(PGM_COMMON_XML_ENUM_DEVICE_ID, flash->get_parameter_value(GFPDB_FLASH_PARAM_ID));
    add_text(PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE,
             flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE));
    add_text(PGM_COMMON_XML_ENUM_DEVICE_DENSITY, flash->get_density());
    add_number(PGM_COMMON_XML_ENUM_TOTAL_DEVICE_DIE, GFPDB_FLASH_PARAM_TOTAL_DIE);
    add_number(PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE, GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE);
    add_number(PGM_COMMON_XML_ENUM_DUMMY_CLOCK_CYCLE_X4, GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4);
    add_text(PGM_COMMON_XML_ENUM_PROG_FLOW_TEMPLATE,
             flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE));
    return info;
}

PGM_COMMON_XML_GFPDB_QSPI_PROGRAMMING_FLOW* GFPDB_QSPI_MGR::create_xml_programming_flow(
    GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash, source);
    auto* flow = new PGM_COMMON_XML_GFPDB_QSPI_PROGRAMMING_FLOW();
    auto* sfl = new PGM_COMMON_XML_GFPDB_QSPI_SFL();
    auto* sdm = new PGM_COMMON_XML_GFPDB_QSPI_SDM();
    create_xml_for_one_programming_flow(flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL), sfl,
                                        nullptr);
    create_xml_for_one_programming_flow(flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM),
                                        nullptr, sdm);
    flow->add_child(sfl, nullptr);
    flow->add_child(sdm, nullptr);
    return flow;
}

void GFPDB_QSPI_MGR::create_xml_for_one_programming_flow(
    const std::vector<GFPDB_OPERATION*>* list, PGM_COMMON_XML_GFPDB_QSPI_SFL* xml_sfl_flow,
    PGM_COMMON_XML_GFPDB_QSPI_SDM* xml_sdm_flow) {
    GFPDB_ASSERT(xml_sfl_flow || xml_sdm_flow, source);
    GFPDB_ASSERT(xml_sfl_flow == NULL || xml_sdm_flow == NULL, source);
    PGM_COMMON_XML_ELEMENT* xml_flow = xml_sfl_flow;
    if (!xml_flow)
        xml_flow = xml_sdm_flow;
    for (GFPDB_OPERATION* op : *list) {
        std::vector<PGM_COMMON_XML_GFPDB_QSPI_ACTION*> actions =
            create_xml_action_list_for_one_operation(op);
        int type = op->get_operation_type();
        if (type < 0 || type >= GFPDB_OP_TYPE_COUNT)
            GFPDB_FAIL("Unknown operation type", source);
        PGM_COMMON_XML_ELEMENT* xml_op = new_element(gfpdb_operation_element[type]);
        for (PGM_COMMON_XML_GFPDB_QSPI_ACTION* action : actions)
            xml_op->add_child(action, nullptr);
        xml_flow->add_child(xml_op, nullptr);
    }
}

std::vector<PGM_COMMON_XML_GFPDB_QSPI_ACTION*>
GFPDB_QSPI_MGR::create_xml_action_list_for_one_operation(GFPDB_OPERATION* op) {
    GFPDB_ASSERT(op, source);
    std::vector<PGM_COMMON_XML_GFPDB_QSPI_ACTION*> result;
    for (GFPDB_ACTION* act : *op->get_action_list()) {
        int type = act->get_action_type();
        if (type < 0 || type >= GFPDB_ACT_TYPE_COUNT)
            GFPDB_FAIL("Unknown action type", source);
        const ACTION_FORMAT& format = action_formats[type];
        auto xml_action = std::make_unique<PGM_COMMON_XML_GFPDB_QSPI_ACTION>();
        if (act->get_property_enum_list().size() != format.property_count)
            MSG_INTERNAL_ERROR::report(format.write_check, "GFPDB", source, __LINE__);
        xml_action->write_attribute_enum("type", format.xml_type);
        for (size_t i = 0; i < format.property_count; ++i) {
            update_xml_action_property(act, xml_action.get(),
                                       GFPDB_ACT_PROPERTY(format.first_property + i));
        }
        result.push_back(xml_action.release());
    }
    return result;
}

void GFPDB_QSPI_MGR::update_xml_action_property(GFPDB_ACTION* act,
                                                PGM_COMMON_XML_GFPDB_QSPI_ACTION* xml_action,
                                                GFPDB_ACT_PROPERTY property_enum) {
    GFPDB_ASSERT(act, source);
    GFPDB_ASSERT(xml_action, source);
    GFPDB_ASSERT(
        act->property_value_is_valid(property_enum, act->get_property_value(property_enum)),
        source);
    if (property_enum < 0 || property_enum >= GFPDB_ACT_PROPERTY_COUNT)
        GFPDB_FAIL("Unknown action property enum", source);
    const std::string value = act->get_property_value(property_enum);
    PGM_COMMON_XML_ELEMENT* element = new_element(property_element[property_enum]);
    if (property_element[property_enum] == PGM_COMMON_XML_ENUM_DELAY)
        element->write_attribute_string("unit", "us");
    if (GFPDB_QSPI_ACTION::property_is_number(property_enum)) {
        uint64_t number = number_of(value);
        GFPDB_ASSERT(number <= UINT32_MAX, source);
        element->write_value(static_cast<unsigned long>(number));
    } else if (property_enum == GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION) {
        size_t total_char = value.size();
        GFPDB_ASSERT(total_char >= 2, source);
        element->write_string(escape_description(value));
    } else {
        element->write_string(value);
    }
    xml_action->add_child(element, nullptr);
}

bool GFPDB_QSPI_MGR::delete_template(std::string template_name) {
    auto iter = m_template_db_dir_map.find(template_name);
    if (iter == m_template_db_dir_map.end())
        return false;
    return delete_db(template_name, FIO_PATH(iter->second).full_directory());
}
