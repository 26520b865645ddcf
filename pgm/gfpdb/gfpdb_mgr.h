// The flash database's vocabulary, its technology-independent records (flash, operation,
// action) and the abstract manager that every flash technology derives from.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/pgmdev.h"
#include "pgm/gfpdb/gfpdb_export.h"

class PGM_COMMON_XML_ELEMENT;

// ---------------------------------------------------------------------------------------------
// Vocabulary

enum GFPDB_FLASH_PARAM {
    GFPDB_FLASH_PARAM_NAME = 0,
    GFPDB_FLASH_PARAM_ID = 1,
    GFPDB_FLASH_PARAM_IO_VOLTAGE = 2,
    GFPDB_FLASH_PARAM_DENSITY = 3,
    GFPDB_FLASH_PARAM_TOTAL_DIE = 4,
    GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE = 5,
    GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4 = 6,
    GFPDB_FLASH_PARAM_TEMPLATE_NAME = 7,
    GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE = 8
};

enum GFPDB_OP_TYPE {
    GFPDB_OP_TYPE_INITIALIZATION = 0,
    GFPDB_OP_TYPE_PROGRAM = 1,
    GFPDB_OP_TYPE_ERASE = 2,
    GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE = 3,
    GFPDB_OP_TYPE_TERMINATION = 4
};

enum GFPDB_ACT_TYPE {
    GFPDB_ACT_TYPE_WRITE_REGISTER = 0,
    GFPDB_ACT_TYPE_READ_REGISTER = 1,
    GFPDB_ACT_TYPE_WRITE_DATA = 2,
    GFPDB_ACT_TYPE_READ_DATA = 3,
    GFPDB_ACT_TYPE_ERASE = 4,
    GFPDB_ACT_TYPE_CUSTOM = 5
};

// Each action type owns a contiguous run of properties (see gfpdb_act_type_first_property).
enum GFPDB_ACT_PROPERTY {
    GFPDB_ACT_PROPERTY_WRITE_REG_NAME = 0,
    GFPDB_ACT_PROPERTY_WRITE_REG_COMMAND = 1,
    GFPDB_ACT_PROPERTY_WRITE_REG_DATA = 2,
    GFPDB_ACT_PROPERTY_WRITE_REG_DELAY = 3,
    GFPDB_ACT_PROPERTY_WRITE_REG_BUS_WIDTH = 4,
    GFPDB_ACT_PROPERTY_READ_REG_NAME = 5,
    GFPDB_ACT_PROPERTY_READ_REG_COMMAND = 6,
    GFPDB_ACT_PROPERTY_READ_REG_DATA_LENGTH = 7,
    GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA = 8,
    GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK = 9,
    GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT = 10,
    GFPDB_ACT_PROPERTY_READ_REG_DELAY = 11,
    GFPDB_ACT_PROPERTY_READ_REG_BUS_WIDTH = 12,
    GFPDB_ACT_PROPERTY_WRITE_DATA_NAME = 13,
    GFPDB_ACT_PROPERTY_WRITE_DATA_COMMAND = 14,
    GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESS = 15,
    GFPDB_ACT_PROPERTY_WRITE_DATA_DATA = 16,
    GFPDB_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE = 17,
    GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE = 18,
    GFPDB_ACT_PROPERTY_WRITE_DATA_DELAY = 19,
    GFPDB_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH = 20,
    GFPDB_ACT_PROPERTY_READ_DATA_NAME = 21,
    GFPDB_ACT_PROPERTY_READ_DATA_COMMAND = 22,
    GFPDB_ACT_PROPERTY_READ_DATA_ADDRESS = 23,
    GFPDB_ACT_PROPERTY_READ_DATA_DATA_LENGTH = 24,
    GFPDB_ACT_PROPERTY_READ_DATA_EXPECTED_DATA = 25,
    GFPDB_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK = 26,
    GFPDB_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE = 27,
    GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE = 28,
    GFPDB_ACT_PROPERTY_READ_DATA_DELAY = 29,
    GFPDB_ACT_PROPERTY_READ_DATA_BUS_WIDTH = 30,
    GFPDB_ACT_PROPERTY_ERASE_NAME = 31,
    GFPDB_ACT_PROPERTY_ERASE_COMMAND = 32,
    GFPDB_ACT_PROPERTY_ERASE_ADDRESS = 33,
    GFPDB_ACT_PROPERTY_ERASE_ERASE_SIZE = 34,
    GFPDB_ACT_PROPERTY_ERASE_ADDRESSING_MODE = 35,
    GFPDB_ACT_PROPERTY_ERASE_DELAY = 36,
    GFPDB_ACT_PROPERTY_ERASE_BUS_WIDTH = 37,
    GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION = 38,
    GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION = 39
};

enum GFPDB_PROG_FLOW_TYPE { GFPDB_PROG_FLOW_TYPE_SFL = 0, GFPDB_PROG_FLOW_TYPE_SDM = 1 };

enum GFPDB_PROG_FLOW_TEMPLATE {
    GFPDB_PROG_FLOW_TEMPLATE_MICRON = 0,
    GFPDB_PROG_FLOW_TEMPLATE_MACRONIX = 1,
    GFPDB_PROG_FLOW_TEMPLATE_CYPRESS = 2,
    GFPDB_PROG_FLOW_TEMPLATE_WINBOND = 3
};

// Display tables, indexed by the enumerations; built when the library loads.
constexpr int GFPDB_ACT_PROPERTY_COUNT = 40;
constexpr int GFPDB_ACT_TYPE_COUNT = 6;
constexpr int GFPDB_OP_TYPE_COUNT = 5;
constexpr int GFPDB_PROG_FLOW_TEMPLATE_COUNT = 4;
constexpr int GFPDB_QSPI_DENSITY_COUNT = 12;
constexpr int GFPDB_QSPI_VOLTAGE_COUNT = 2;

GFPDB_EXPORT extern const std::string gfpdb_act_property_label[GFPDB_ACT_PROPERTY_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_act_type_name[GFPDB_ACT_TYPE_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_op_type_name[GFPDB_OP_TYPE_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_op_type_description[GFPDB_OP_TYPE_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_prog_flow_template_name[GFPDB_PROG_FLOW_TEMPLATE_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_qspi_density[GFPDB_QSPI_DENSITY_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_qspi_io_voltage[GFPDB_QSPI_VOLTAGE_COUNT];
GFPDB_EXPORT extern const std::string gfpdb_bus_width_1_1_1;  // command, address, data
GFPDB_EXPORT extern const std::string gfpdb_bus_width_1_1;    // command, data

// The message ids of the catalogue, in registration order (20510 has no symbolic name).
enum GFPDB_MESSAGE_ID : unsigned {
    GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20473,
    GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE = 20474,
    GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE = 20475,
    GFPDB_INVALID_IO_VOLTAGE = 20476,
    GFPDB_INCOMPATIBLE_IO_VOLTAGE = 20535,
    GFPDB_INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20477,
    GFPDB_INVALID_DEVICE_DENSITY = 20478,
    GFPDB_INVALID_TOTAL_DEVICE_DIE = 20479,
    GFPDB_INVALID_DEVICE_DUMMY_CLOCK_CYCLE = 20543,
    GFPDB_INVALID_PROGRAMMING_FLOW_TEMPLATE = 20481,
    GFPDB_FOUND_DUPLICATED_FLASH_IN_DB = 20482,
    GFPDB_REGISTERED_ONLY_20510 = 20510,
    GFPDB_INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20485,
    GFPDB_INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20486,
    GFPDB_INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR = 20494,
    GFPDB_INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR = 20495,
    GFPDB_INVALID_ACTION_DATA_WITH_SPECIAL_CHAR = 20496,
    GFPDB_INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20497,
    GFPDB_INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20498,
    GFPDB_INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20499,
    GFPDB_INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20500,
    GFPDB_INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20501,
    GFPDB_INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20502,
    GFPDB_INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20503,
    GFPDB_INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20504,
    GFPDB_INVALID_ACTION_BUS_WIDTH = 20505,
    GFPDB_INVALID_ACTION_CUSTOM_DIRECTION = 20507,
    GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION = 20509,
    GFPDB_FAILED_TO_UPDATE_DB = 20560,
    GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR = 20673,
    GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE = 20674,
    GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE = 20675,
    GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE = 20676
};
constexpr int GFPDB_MESSAGE_COUNT = 33;

// ---------------------------------------------------------------------------------------------
// Records

class GFPDB_OPERATION;
class GFPDB_ACTION;

// One flash device.
class GFPDB_EXPORT GFPDB_FLASH {
public:
    explicit GFPDB_FLASH(std::string name);
    GFPDB_FLASH(const GFPDB_FLASH& other) = default;
    GFPDB_FLASH& operator=(const GFPDB_FLASH& other) = default;

    virtual ~GFPDB_FLASH();
    // From the record pool (gfpdb_record_pool.h), as a database keeps them by the thousand.
    static void* operator new(size_t size);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* block, size_t size);
    virtual const std::string get_name();
    virtual void set_name(std::string name);
    virtual const std::string get_density();
    virtual void set_density(std::string density);
    // Exact below 4 GiB only: the low 32 bits of get_density_in_bytes_qword.
    virtual uint32_t get_density_in_bytes();
    // "512Mb" (bits) or "16GB" (bytes); anything else is 0.
    virtual uint64_t get_density_in_bytes_qword();
    virtual const std::string get_db_dir();
    virtual void set_db_dir(std::string dir);
    virtual bool get_flash_removable_permission();
    virtual void set_flash_removable_permission(bool removable);
    virtual DEV_FAMILY_ENUM get_family() = 0;
    virtual const std::string get_generic_name() = 0;
    virtual const std::vector<GFPDB_OPERATION*>* get_operation_list(GFPDB_PROG_FLOW_TYPE flow) = 0;
    virtual void add_operation_into_list(GFPDB_OPERATION* operation, GFPDB_PROG_FLOW_TYPE flow) = 0;
    virtual void set_operation_list(std::vector<GFPDB_OPERATION*> operation_list,
                                    GFPDB_PROG_FLOW_TYPE flow) = 0;
    virtual void clear_operation_list() = 0;
    virtual const std::string get_parameter_value(GFPDB_FLASH_PARAM param) = 0;
    // For the ID, `mask` receives the bits that the ID bytes cover.
    virtual uint32_t get_parameter_value_in_dword(GFPDB_FLASH_PARAM param,
                                                  uint32_t* mask = nullptr) = 0;
    virtual void set_parameter_value(GFPDB_FLASH_PARAM param, uint32_t value) = 0;
    virtual void set_parameter_value(GFPDB_FLASH_PARAM param, std::string value) = 0;

private:
    std::string m_name;
    std::string m_density;
    std::string m_db_dir;
    bool m_removable = false;
};

// A text that many records hold alike, such as an operation's description: copies share one
// string, and a text of the library's own tables is not copied at all.
class GFPDB_SHARED_TEXT {
public:
    GFPDB_SHARED_TEXT() = default;
    GFPDB_SHARED_TEXT(const std::string& text)  // NOLINT: assigned from text like a string
    : m_text(std::make_shared<const std::string>(text)) {}
    GFPDB_SHARED_TEXT(const char* text)  // NOLINT
    : m_text(std::make_shared<const std::string>(text)) {}
    // A text that outlives every record that holds it.
    static GFPDB_SHARED_TEXT lasting(const std::string& text) {
        GFPDB_SHARED_TEXT shared;
        shared.m_text =
            std::shared_ptr<const std::string>(std::shared_ptr<const std::string>(), &text);
        return shared;
    }
    operator std::string() const { return m_text ? *m_text : std::string(); }  // NOLINT

private:
    std::shared_ptr<const std::string> m_text;
};

// The properties of an action's type in enumeration order: a run of one table of the library,
// which every action of the type points at rather than holding a list of its own.
class GFPDB_PROPERTY_LIST {
public:
    GFPDB_PROPERTY_LIST() = default;
    GFPDB_PROPERTY_LIST(const GFPDB_ACT_PROPERTY* first, size_t count)
        : m_first(first), m_count(count) {}
    size_t size() const { return m_count; }
    const GFPDB_ACT_PROPERTY* begin() const { return m_first; }
    const GFPDB_ACT_PROPERTY* end() const { return m_first + m_count; }
    operator std::vector<GFPDB_ACT_PROPERTY>() const { return {begin(), end()}; }  // NOLINT

private:
    const GFPDB_ACT_PROPERTY* m_first = nullptr;
    size_t m_count = 0;
};

// One operation of a programming flow. The base does not own its actions.
class GFPDB_EXPORT GFPDB_OPERATION {
public:
    GFPDB_OPERATION();
    // Shallow: the copy points at the same actions.
    GFPDB_OPERATION(const GFPDB_OPERATION& other) = default;
    GFPDB_OPERATION& operator=(const GFPDB_OPERATION& other) = default;

    const std::string get_name();
    void set_name(std::string name);
    const std::string get_operation_description();
    GFPDB_OP_TYPE get_operation_type();

    virtual ~GFPDB_OPERATION();
    // From the record pool (gfpdb_record_pool.h), as a database keeps them by the thousand.
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size);
    virtual const std::vector<GFPDB_ACTION*>* get_action_list() = 0;
    virtual void clear_action_list() = 0;
    virtual void add_action_into_list(GFPDB_ACTION* action) = 0;
    // Room for `count` actions, for a reader that knows how many will come.
    void reserve_action_list(size_t count) { m_action_list.reserve(count); }

protected:
    GFPDB_SHARED_TEXT m_name;  // one of the library's names, unless set otherwise
    GFPDB_SHARED_TEXT m_description;
    GFPDB_OP_TYPE m_operation_type = GFPDB_OP_TYPE_INITIALIZATION;
    std::vector<GFPDB_ACTION*> m_action_list;
};

// The values set on an action, ordered by property, in one block of memory: a count, one
// slot per value (its property and where its text ends), then the texts back to back. A loaded
// database holds tens of thousands of actions of a handful of short values each; a string
// object and a list entry per value would cost more than the texts themselves.
class GFPDB_EXPORT GFPDB_PROPERTY_VALUE_MAP {
public:
    struct ENTRY {
        GFPDB_ACT_PROPERTY first;
        std::string_view second;
    };

    GFPDB_PROPERTY_VALUE_MAP() = default;
    GFPDB_PROPERTY_VALUE_MAP(const GFPDB_PROPERTY_VALUE_MAP& other);
    GFPDB_PROPERTY_VALUE_MAP& operator=(const GFPDB_PROPERTY_VALUE_MAP& other);
    ~GFPDB_PROPERTY_VALUE_MAP() { clear(); }

    // False when the property has no value.
    bool find(GFPDB_ACT_PROPERTY property, std::string_view* value) const;
    void set(GFPDB_ACT_PROPERTY property, std::string_view value);
    // Sets many values in one step; `entries` ascend by property.
    void set(const ENTRY* entries, size_t count);
    void clear();
    size_t size() const;
    // The i-th value in property order.
    ENTRY at(size_t i) const;

private:
    struct SLOT {
        uint32_t property;
        uint32_t end;  // one past its text, counted from the first text
    };
    const SLOT* slots() const;
    const char* texts() const;

    char* m_block = nullptr;  // null while no value is set
};

// One flash command with typed properties, all held as text.
class GFPDB_EXPORT GFPDB_ACTION {
public:
    GFPDB_ACTION();
    GFPDB_ACTION(const GFPDB_ACTION& other) = default;
    GFPDB_ACTION& operator=(const GFPDB_ACTION& other);

    const std::string get_name();
    void set_name(std::string name);
    GFPDB_ACT_TYPE get_action_type();
    const std::vector<GFPDB_ACT_PROPERTY> get_property_enum_list();
    size_t get_property_count() const { return m_property_list.size(); }

    virtual ~GFPDB_ACTION();
    // From the record pool (gfpdb_record_pool.h), as a database keeps them by the ten thousand.
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size);
    virtual const std::string get_property_name(GFPDB_ACT_PROPERTY property) = 0;
    virtual const std::string get_property_value(GFPDB_ACT_PROPERTY property) = 0;
    virtual uint32_t get_property_value_in_dword(GFPDB_ACT_PROPERTY property) = 0;
    // A new byte array (delete[]); `size` and `ok` may be null.
    virtual unsigned char* get_property_value_in_byte_array(GFPDB_ACT_PROPERTY property,
                                                            uint32_t* size, bool* ok) = 0;
    virtual const std::vector<std::string> get_property_value_list(GFPDB_ACT_PROPERTY property) = 0;
    virtual void set_property_value(GFPDB_ACT_PROPERTY property, std::string value) = 0;
    virtual bool property_value_is_valid(GFPDB_ACT_PROPERTY property, std::string value,
                                         std::string* error = nullptr) = 0;
    virtual bool property_value_is_enable(GFPDB_ACT_PROPERTY property) = 0;
    // Whether the value names the programming file (.jic).
    virtual bool property_value_is_jic_file(std::string value);

protected:
    GFPDB_SHARED_TEXT m_name;  // its type's name, unless set otherwise
    GFPDB_ACT_TYPE m_action_type = GFPDB_ACT_TYPE_WRITE_REGISTER;
    GFPDB_PROPERTY_LIST m_property_list;
    GFPDB_PROPERTY_VALUE_MAP m_property_value_map;
};

// One user programming-flow template: both flows, owning their operations.
class GFPDB_EXPORT GFPDB_USER_FLASH_TEMPLATE {
public:
    GFPDB_USER_FLASH_TEMPLATE() = default;
    GFPDB_USER_FLASH_TEMPLATE(const GFPDB_USER_FLASH_TEMPLATE&) = delete;
    GFPDB_USER_FLASH_TEMPLATE& operator=(const GFPDB_USER_FLASH_TEMPLATE&) = delete;
    ~GFPDB_USER_FLASH_TEMPLATE();

    std::vector<GFPDB_OPERATION*> sdm_operation_list;
    std::vector<GFPDB_OPERATION*> sfl_operation_list;
};

// What a manager knows of one device family.
struct GFPDB_FAMILY_INFO {
    bool sdm = false;        // the family programs through the SDM flow
    std::string io_voltage;  // the flash I/O voltage the family requires
};

// ---------------------------------------------------------------------------------------------
// The manager base

class GFPDB_EXPORT GFPDB_MGR {
public:
    GFPDB_MGR();
    // Member-wise, pointers included: the copy shares the records.
    GFPDB_MGR(const GFPDB_MGR& other) = default;
    GFPDB_MGR& operator=(const GFPDB_MGR& other) = default;

    virtual ~GFPDB_MGR();                                                // 0
    virtual bool get_use_sdm_mode();                                     // 1
    virtual DEV_FAMILY_ENUM get_active_device_family();                  // 2
    virtual void set_active_device_family(DEV_FAMILY_ENUM family);       // 3
    virtual PGMIO_CONFIG_SCHEME get_active_config_mode();                // 4
    virtual void set_active_config_mode(PGMIO_CONFIG_SCHEME scheme);     // 5
    virtual GFPDB_FLASH* get_flash(std::string name, bool show_all);     // 6
    virtual GFPDB_FLASH* get_flash_with_id(uint32_t id, uint32_t mask);  // 7
    virtual GFPDB_FLASH* get_flash_with_density(uint64_t bytes);         // 8
    virtual bool device_exist_in_db(std::string name, bool show_all);    // 9
    virtual bool device_is_legacy(std::string name, bool show_all);      // 10
    virtual bool is_new_device_supported();                              // 11
    virtual bool is_flash_action_supported();                            // 12
    virtual bool is_flash_operation_supported();                         // 13
    virtual bool is_parameter_valid(GFPDB_FLASH_PARAM param, uint32_t value,
                                    std::string* error);  // 14
    virtual bool is_parameter_valid(GFPDB_FLASH_PARAM param, std::string value,
                                    std::string* error);       // 15
    virtual bool is_parameter_valid(GFPDB_FLASH_PARAM param);  // 16
    virtual bool is_parameter_compatible(GFPDB_FLASH_PARAM param, std::string value,
                                         std::string* error);                   // 17
    virtual bool update_db(GFPDB_FLASH* flash, std::string db_dir);             // 18
    virtual bool delete_db(std::string device_name, std::string db_dir);        // 19
    virtual DEV_FAMILY_ENUM get_flash_family() = 0;                             // 20
    virtual const std::vector<DEV_FAMILY_ENUM> get_device_family_list() = 0;    // 21
    virtual const std::vector<PGMIO_CONFIG_SCHEME> get_config_mode_list() = 0;  // 22
    virtual const std::vector<std::string> get_new_config_device_list(DEV_FAMILY_ENUM family,
                                                                      PGMIO_CONFIG_SCHEME scheme,
                                                                      bool show_all) = 0;  // 23
    virtual const std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                                         PGMIO_CONFIG_SCHEME scheme,
                                                                         bool show_all) = 0;  // 24
    virtual const std::vector<std::string> get_device_io_voltage_list() = 0;                  // 25
    virtual const std::vector<std::string> get_device_density_list() = 0;                     // 26
    virtual const std::vector<std::string> get_prog_flow_template_list() = 0;                 // 27
    virtual const std::vector<std::string> get_user_template_list() = 0;                      // 28
    virtual GFPDB_MGR* get_new_instance() = 0;                                                // 29
    // The new record stays the manager\'s: update_db takes it into the maps, and one that is
    // never saved goes with the manager. Hosts never delete it.
    virtual GFPDB_FLASH* create_flash(std::string name) = 0;            // 30
    virtual GFPDB_ACTION* create_action(GFPDB_ACT_TYPE type) = 0;       // 31
    virtual GFPDB_OPERATION* create_operation(GFPDB_OP_TYPE type) = 0;  // 32
    virtual const std::vector<GFPDB_OPERATION*>* get_prog_flow_template_operation_list(
        GFPDB_PROG_FLOW_TEMPLATE prog_flow_template, GFPDB_PROG_FLOW_TYPE flow) = 0;  // 33
    virtual const std::vector<GFPDB_OPERATION*>* get_user_template_operation_list(
        std::string& template_name, GFPDB_PROG_FLOW_TYPE flow) = 0;               // 34
    virtual bool get_operation_editable_permission(GFPDB_FLASH* flash) = 0;       // 35
    virtual bool update_template_db(GFPDB_FLASH* flash, std::string db_dir) = 0;  // 36
    virtual bool delete_template(std::string template_name) = 0;                  // 37

    // Bytes separated by spaces, each decimal up to 255 or "0x" with one or two hexadecimal
    // digits. The array is the caller's (delete[]); null when the text is no such list.
    static unsigned char* convert_data_list_string_to_byte_array(std::string data_string,
                                                                 uint32_t* size_out, bool* ok_out);
    // Whether the text is such a list, without making the array; `size_out` (may be null)
    // receives its length, 0 when it is none.
    static bool data_list_is_valid(const std::string& data_string, uint32_t* size_out);
    static std::string get_custom_dir_from_ini();
    static std::string get_db_custom_dir();
    static std::string get_db_zorvane_dir();
    static void set_db_custom_dir(std::string dir);
    static bool save_custom_dir_to_ini(std::string dir, bool force);

protected:
    virtual bool is_valid_name(std::string& name);                                     // 38
    virtual bool is_golden_template_name(std::string& name);                           // 39
    virtual bool device_name_is_valid(std::string name, std::string* error);           // 40
    virtual bool device_density_is_valid(std::string density, std::string* error);     // 41
    virtual bool device_io_voltage_is_valid(std::string voltage, std::string* error);  // 42
    virtual bool device_io_voltage_is_compatible(std::string voltage,
                                                 std::string* error);  // 43
    virtual bool write_flash_xml_and_update_dir_map(
        GFPDB_FLASH* flash, std::string db_dir,
        std::map<std::string, std::string>* db_dir_map);  // 44
    virtual PGM_COMMON_XML_ELEMENT* create_xml_object_with_flash_list(
        std::vector<GFPDB_FLASH*> flash_list) = 0;  // 45
    virtual void create_user_template_with_template_list(
        PGM_COMMON_XML_ELEMENT*& root, std::vector<std::string> template_list) = 0;  // 46
    // Whether every value of the record can be held by the file format (a number property
    // beyond 32 bits cannot). Asked before a save touches any file, so a refused save loses
    // nothing; a refusal has already told the user why.
    virtual bool flash_fits_file_format(GFPDB_FLASH* flash);  // 47

    // The family's record, inserted empty when the map lacks it.
    GFPDB_FAMILY_INFO& get_family_info(DEV_FAMILY_ENUM family);

    DEV_FAMILY_ENUM m_active_device_family = DEV_FAMILY_NONE;
    PGMIO_CONFIG_SCHEME m_active_config_mode = PGMIO_CONFIG_SCHEME_NONE;
    bool m_use_sdm_mode = false;
    bool m_skip_device_filtering = false;
    GFPDB_FLASH* m_flash = nullptr;
    std::map<std::string, GFPDB_FLASH*> m_flash_map;
    std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO> m_family_info_map;
    std::map<std::string, std::string> m_flash_db_zorvane_dir_map;
    std::map<std::string, std::string> m_flash_db_custom_dir_map;
    std::map<std::string, std::string> m_flash_db_active_dir_map;
    std::map<std::string, GFPDB_USER_FLASH_TEMPLATE*> m_user_flash_template_map;
    std::map<std::string, std::string> m_template_db_dir_map;

    // The names of a folder map's records by the case-folded last part of their file, so a
    // save or delete finds the records sharing its file without walking the folder. The three
    // calls below change a map and its index together; an index whose count of names is not
    // its map's size is built again from the map before use.
    struct FILE_INDEX {
        std::unordered_map<std::string, std::set<std::string>> names;
        size_t count = 0;
    };
    void set_dir_entry(std::map<std::string, std::string>& map, const std::string& name,
                       const std::string& path);
    void erase_dir_entry(std::map<std::string, std::string>& map, const std::string& name);
    void clear_dir_map(std::map<std::string, std::string>& map);
    // The names of `map` whose path names `file`, in name order.
    std::vector<std::string> names_in_file(const std::map<std::string, std::string>& map,
                                           const std::string& file);

    // An object made for a legacy device lives until the next lookup or creation; a record
    // of the flash map is only forgotten.
    void release_legacy_flash(bool show_all);
    // At the end of a manager: a record that create_flash made and nobody saved is the
    // manager's, since no one can save it once the manager is gone.
    void release_unsaved_flash();
    // Files a record read from `xml_file` of the folder whose map is `dir_map`. A name the
    // folder already has is a duplicate: the record goes, the error is posted, and false
    // tells the loader to drop the rest of the file. A record of the other folder with the
    // same name is replaced in the flash map, while that folder's map keeps its entry.
    // Walks the user files ("pgm_flash_*.xml") of one database directory in name order,
    // logging each before `visit` reads it; the host directory's golden file is passed over.
    // `visit` answers whether every record of the file is now in the maps. A file a killed
    // save left beside the database files is removed first, with a warning naming it.
    void for_each_user_file(
        const std::string& dir, bool is_zorvane, const char* golden_name,
        const std::function<bool(const std::string& name, const std::string& file)>& visit);
    bool register_loaded_flash(GFPDB_FLASH* flash, const std::string& xml_file,
                               std::map<std::string, std::string>& dir_map);

    // Whether a save or delete may replace `file` without losing a record: the file is as
    // this manager last read or wrote it, and every record it holds is in the maps; with
    // `alone`, the file must hold no record at all.
    // Otherwise posts GFPDB_FAILED_TO_UPDATE_DB naming the file and a record that would be
    // lost, and answers false. The setting "pgm_gfpdb_overwrite_unloaded" lets the caller
    // override, once the user has been told what would be lost.
    bool file_may_be_replaced(const std::string& file, const std::string& db_dir, bool alone);
    // The record whose file a new record's file `file_name` would be: one kept in a file of
    // that name, or of that name but for case where the file system takes both names for one
    // file. Empty when none.
    std::string record_sharing_file(const std::string& file_name);
    // The file is now as this manager wrote it, every record of it in the maps.
    void remember_file(const std::string& file);

private:
    // Which of the two database directories `db_dir` is; stops the program when neither.
    void get_dir_roles(const std::string& db_dir, bool* is_zorvane, bool* is_custom);

    // A record that a delete took out of the maps, kept until the file change is on disk so
    // that a refused change can put it back.
    struct TAKEN_RECORD {
        std::string name;
        std::string file;  // the file that held it
        std::vector<std::string> remaining_devices;
        std::vector<std::string> remaining_templates;
        std::map<std::string, std::string>* dir_map = nullptr;
        std::string dir_path;
        std::string active_path;
        GFPDB_FLASH* flash = nullptr;
        bool was_current = false;
        GFPDB_USER_FLASH_TEMPLATE* user_template = nullptr;
        std::string template_path;
    };
    void put_back(TAKEN_RECORD& taken);
    FILE_INDEX& file_index(const std::map<std::string, std::string>& map);
    FILE_INDEX m_zorvane_file_index;
    FILE_INDEX m_custom_file_index;
    FILE_INDEX m_template_file_index;
    void discard(TAKEN_RECORD& taken);
    // Writes `file` again with the records the maps hold for it; false (refusal posted) when
    // the file system refuses.
    bool rewrite_file(const std::string& file, const std::vector<std::string>& devices,
                      const std::vector<std::string>& templates, const std::string& db_dir);

    // What the manager last saw of each user file it read or wrote: the file's signature,
    // and whether all of its records are in the maps.
    struct FILE_SEEN {
        std::string signature;
        bool whole = false;
    };
    std::map<std::string, FILE_SEEN> m_files_seen;
    // Set while update_db deletes the record it replaces: the delete then leaves the files
    // to the save and hands the taken record over here.
    bool m_delete_for_save = false;
    TAKEN_RECORD m_taken_for_save;
};
