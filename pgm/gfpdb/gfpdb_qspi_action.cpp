// A QSPI flash command: which properties each action type carries, their defaults, and the
// rule, warning and error text of every property value.
#include "pgm/gfpdb/gfpdb_qspi_action.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "host/pgm_common.h"
#include "pgm/gfpdb/gfpdb_internal.h"

namespace {

const char* const source = "pgm/gfpdb/gfpdb_qspi_action";

// How a property's value is checked.
enum VALUE_RULE {
    NAME,         // letters, digits, "_" and blanks, with at least one non-blank
    COMMAND,      // a data list of exactly one byte
    DATA_BYTES,   // empty, or a data list
    NUMBER,       // decimal, or "0x" and hexadecimal digits, within [min, max]
    BUS_WIDTH_2,  // one of the command-data bus widths
    BUS_WIDTH_3,  // one of the command-address-data bus widths
    DESCRIPTION,  // anything but empty
    DIRECTION     // "start", "end" or "nil"
};

enum PROPERTY_FLAG : unsigned {
    NONE = 0,
    JIC = 1 << 0,          // a value naming the programming file (.jic) passes untested
    FILE_NUMBER = 1 << 1,  // database files hold it as a 32-bit number element
    FIXED = 1 << 2         // a single value is allowed, so editors show it read-only
};

constexpr uint64_t ANY = UINT64_MAX;

// One row per action property: the type that carries it, what a new action starts with, how
// a value is checked, and what the user is told when it is not accepted.
struct ACTION_PROPERTY_RULE {
    GFPDB_ACT_PROPERTY property;
    GFPDB_ACT_TYPE type;
    const char* default_value;  // nullptr: no value until one is set
    VALUE_RULE rule;
    uint64_t min, max;  // bounds of a NUMBER
    unsigned flags;     // PROPERTY_FLAG
    GFPDB_MESSAGE_ID warning;
    const char* error_prefix;
    const char* error_suffix;
};

constexpr GFPDB_ACT_TYPE WRITE_REG = GFPDB_ACT_TYPE_WRITE_REGISTER;
constexpr GFPDB_ACT_TYPE READ_REG = GFPDB_ACT_TYPE_READ_REGISTER;
constexpr GFPDB_ACT_TYPE WRITE_DATA = GFPDB_ACT_TYPE_WRITE_DATA;
constexpr GFPDB_ACT_TYPE READ_DATA = GFPDB_ACT_TYPE_READ_DATA;
constexpr GFPDB_ACT_TYPE ERASE = GFPDB_ACT_TYPE_ERASE;
constexpr GFPDB_ACT_TYPE CUSTOM = GFPDB_ACT_TYPE_CUSTOM;

constexpr GFPDB_MESSAGE_ID W_NAME = GFPDB_INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_COMMAND =
    GFPDB_INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_DATA = GFPDB_INVALID_ACTION_DATA_WITH_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_EXPECTED = GFPDB_INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_MASK = GFPDB_INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_DELAY = GFPDB_INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_LENGTH =
    GFPDB_INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_ATTEMPT =
    GFPDB_INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_ADDRESS =
    GFPDB_INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_PAGE =
    GFPDB_INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_MODE =
    GFPDB_INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_DUMMY =
    GFPDB_INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_ERASE =
    GFPDB_INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
constexpr GFPDB_MESSAGE_ID W_BUS = GFPDB_INVALID_ACTION_BUS_WIDTH;
constexpr GFPDB_MESSAGE_ID W_DESCRIPTION = GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION;
constexpr GFPDB_MESSAGE_ID W_DIRECTION = GFPDB_INVALID_ACTION_CUSTOM_DIRECTION;

constexpr const char* NAME_SUFFIX =
    "' is invalid as it contains an empty string or special characters.";
constexpr const char* COMMAND_SUFFIX =
    "' is invalid. It either contains an empty string or special characters, or it is not in "
    "the list of byte formats.";
constexpr const char* DATA_SUFFIX =
    "' is invalid. It either contains special characters or is not in the list of byte formats.";
constexpr const char* DELAY_SUFFIX =
    "' is invalid. It contains either an empty string or special characters.";
constexpr const char* LENGTH_SUFFIX =
    "' is invalid. It either contains an empty string or special characters, or has a value of "
    "0.";
// The user is told the real condition, although the posted warning says "a value of 0".
constexpr const char* PAGE_SIZE_SUFFIX =
    "' is invalid. It either contains an empty string or special characters, or has a value "
    "other than 256.";
constexpr const char* BUS_SUFFIX = "' is invalid.";
constexpr const char* DESCRIPTION_SUFFIX = "' is invalid due to an empty string.";

// clang-format off
constexpr ACTION_PROPERTY_RULE property_rules[GFPDB_ACT_PROPERTY_COUNT] = {
    // property, type, default, rule, min, max,
    //  flags, warning, error prefix, error suffix
    {GFPDB_ACT_PROPERTY_WRITE_REG_NAME, WRITE_REG, nullptr, NAME, 0, 0,
     NONE, W_NAME, "Action name '", NAME_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_REG_COMMAND, WRITE_REG, nullptr, COMMAND, 0, 0,
     NONE, W_COMMAND, "Action command '", COMMAND_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_REG_DATA, WRITE_REG, nullptr, DATA_BYTES, 0, 0,
     JIC, W_DATA, "Action data '", DATA_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, WRITE_REG, "0", NUMBER, 0, ANY,
     FILE_NUMBER, W_DELAY, "Action delay '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_REG_BUS_WIDTH, WRITE_REG, "1-1", BUS_WIDTH_2, 0, 0,
     FIXED, W_BUS, "Action bus width '", BUS_SUFFIX},

    {GFPDB_ACT_PROPERTY_READ_REG_NAME, READ_REG, nullptr, NAME, 0, 0,
     NONE, W_NAME, "Action name '", NAME_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_COMMAND, READ_REG, nullptr, COMMAND, 0, 0,
     NONE, W_COMMAND, "Action command '", COMMAND_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_DATA_LENGTH, READ_REG, nullptr, NUMBER, 1, 256,
     JIC, W_LENGTH, "Action data length '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA, READ_REG, nullptr, DATA_BYTES, 0, 0,
     JIC, W_EXPECTED, "Action expected data '", DATA_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK, READ_REG, nullptr, DATA_BYTES, 0, 0,
     JIC, W_MASK, "Action data mask '", DATA_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, READ_REG, "1", NUMBER, 1, ANY,
     FILE_NUMBER, W_ATTEMPT, "Action attempt count '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_DELAY, READ_REG, "0", NUMBER, 0, ANY,
     FILE_NUMBER, W_DELAY, "Action delay '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_REG_BUS_WIDTH, READ_REG, "1-1", BUS_WIDTH_2, 0, 0,
     FIXED, W_BUS, "Action bus width '", BUS_SUFFIX},

    {GFPDB_ACT_PROPERTY_WRITE_DATA_NAME, WRITE_DATA, nullptr, NAME, 0, 0,
     NONE, W_NAME, "Action name '", NAME_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_COMMAND, WRITE_DATA, nullptr, COMMAND, 0, 0,
     NONE, W_COMMAND, "Action command '", COMMAND_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESS, WRITE_DATA, nullptr, NUMBER, 0, ANY,
     JIC, W_ADDRESS, "Action address '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_DATA, WRITE_DATA, nullptr, DATA_BYTES, 0, 0,
     JIC, W_DATA, "Action data '", DATA_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, WRITE_DATA, "256", NUMBER, 256, 256,
     FILE_NUMBER | FIXED, W_PAGE, "Action page size '", PAGE_SIZE_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE, WRITE_DATA, nullptr, NUMBER, 1, ANY,
     FILE_NUMBER, W_MODE, "Action addressing mode '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_DELAY, WRITE_DATA, "0", NUMBER, 0, ANY,
     FILE_NUMBER, W_DELAY, "Action delay '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH, WRITE_DATA, "1-1-1", BUS_WIDTH_3, 0, 0,
     FIXED, W_BUS, "Action bus width '", BUS_SUFFIX},

    {GFPDB_ACT_PROPERTY_READ_DATA_NAME, READ_DATA, nullptr, NAME, 0, 0,
     NONE, W_NAME, "Action name '", NAME_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_COMMAND, READ_DATA, nullptr, COMMAND, 0, 0,
     NONE, W_COMMAND, "Action command '", COMMAND_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_ADDRESS, READ_DATA, nullptr, NUMBER, 0, ANY,
     JIC, W_ADDRESS, "Action address '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_DATA_LENGTH, READ_DATA, nullptr, NUMBER, 1, 256,
     JIC, W_LENGTH, "Action data length '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_EXPECTED_DATA, READ_DATA, nullptr, DATA_BYTES, 0, 0,
     JIC, W_EXPECTED, "Action expected data '", DATA_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK, READ_DATA, nullptr, DATA_BYTES, 0, 0,
     JIC, W_MASK, "Action data mask '", DATA_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE, READ_DATA, nullptr, NUMBER, 1, ANY,
     FILE_NUMBER, W_MODE, "Action addressing mode '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, READ_DATA, nullptr, NUMBER, 0, 15,
     FILE_NUMBER, W_DUMMY, "Action dummy clock cycle '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_DELAY, READ_DATA, "0", NUMBER, 0, ANY,
     FILE_NUMBER, W_DELAY, "Action delay '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_READ_DATA_BUS_WIDTH, READ_DATA, "1-1-1", BUS_WIDTH_3, 0, 0,
     FIXED, W_BUS, "Action bus width '", BUS_SUFFIX},

    {GFPDB_ACT_PROPERTY_ERASE_NAME, ERASE, nullptr, NAME, 0, 0,
     NONE, W_NAME, "Action name '", NAME_SUFFIX},
    {GFPDB_ACT_PROPERTY_ERASE_COMMAND, ERASE, nullptr, COMMAND, 0, 0,
     NONE, W_COMMAND, "Action command '", COMMAND_SUFFIX},
    {GFPDB_ACT_PROPERTY_ERASE_ADDRESS, ERASE, nullptr, NUMBER, 0, ANY,
     JIC, W_ADDRESS, "Action address '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_ERASE_ERASE_SIZE, ERASE, nullptr, NUMBER, 1, ANY,
     FILE_NUMBER, W_ERASE, "Action erase size '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_ERASE_ADDRESSING_MODE, ERASE, nullptr, NUMBER, 1, ANY,
     FILE_NUMBER, W_MODE, "Action addressing mode '", LENGTH_SUFFIX},
    {GFPDB_ACT_PROPERTY_ERASE_DELAY, ERASE, "0", NUMBER, 0, ANY,
     FILE_NUMBER, W_DELAY, "Action delay '", DELAY_SUFFIX},
    {GFPDB_ACT_PROPERTY_ERASE_BUS_WIDTH, ERASE, "1-1", BUS_WIDTH_2, 0, 0,
     FIXED, W_BUS, "Action bus width '", BUS_SUFFIX},

    {GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION, CUSTOM, nullptr, DESCRIPTION, 0, 0,
     NONE, W_DESCRIPTION, "Action custom description '", DESCRIPTION_SUFFIX},
    {GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION, CUSTOM, nullptr, DIRECTION, 0, 0,
     NONE, W_DIRECTION, "Action custom direction '", BUS_SUFFIX},
};
// clang-format on

// Lookups index the table by the property, and the constructor relies on each type's
// properties standing together in ascending order.
constexpr bool rows_follow_the_enumeration() {
    for (int i = 0; i < GFPDB_ACT_PROPERTY_COUNT; ++i) {
        if (property_rules[i].property != i)
            return false;
        if (i > 0 && property_rules[i].type < property_rules[i - 1].type)
            return false;
    }
    return true;
}
static_assert(rows_follow_the_enumeration(), "one row per property, in enumeration order");

// The most properties an action type has (Read Data's ten): a new action's defaults and a
// loaded action's values are gathered on the stack before they are stored in one step.
constexpr size_t max_type_properties = 10;
constexpr bool types_fit_the_stack() {
    for (int type = 0; type < GFPDB_ACT_TYPE_COUNT; ++type) {
        size_t count = 0;
        for (const ACTION_PROPERTY_RULE& row : property_rules)
            count += row.type == type;
        if (count > max_type_properties)
            return false;
    }
    return true;
}
static_assert(types_fit_the_stack(), "an action type has more properties than the stack holds");

// Every property in enumeration order; an action's property list is its type's run of it.
constexpr std::array<GFPDB_ACT_PROPERTY, GFPDB_ACT_PROPERTY_COUNT> every_property = [] {
    std::array<GFPDB_ACT_PROPERTY, GFPDB_ACT_PROPERTY_COUNT> all{};
    for (int i = 0; i < GFPDB_ACT_PROPERTY_COUNT; ++i)
        all[i] = GFPDB_ACT_PROPERTY(i);
    return all;
}();

const ACTION_PROPERTY_RULE* find_rule(GFPDB_ACT_PROPERTY property) {
    if (static_cast<unsigned>(property) >= GFPDB_ACT_PROPERTY_COUNT)
        return nullptr;
    return &property_rules[property];
}

// Built on first use: the strings they copy belong to another source's static tables.
const std::vector<std::string>& two_part_bus_widths() {
    static const std::vector<std::string> list{gfpdb_bus_width_1_1};
    return list;
}
const std::vector<std::string>& three_part_bus_widths() {
    static const std::vector<std::string> list{gfpdb_bus_width_1_1_1};
    return list;
}

bool is_one_of(const std::string& value, const std::vector<std::string>& allowed) {
    for (const std::string& entry : allowed) {
        if (value == entry)
            return true;
    }
    return false;
}

// A set of characters as a table by byte: every value of every action loaded is held to one.
class CHARACTER_SET {
public:
    constexpr explicit CHARACTER_SET(const char* characters) {
        for (; *characters; ++characters)
            m_in[static_cast<unsigned char>(*characters)] = true;
    }
    // Whether every character of the text from `first` on is in the set.
    bool holds(const std::string& text, size_t first = 0) const {
        for (size_t i = first; i < text.size(); ++i) {
            if (!m_in[static_cast<unsigned char>(text[i])])
                return false;
        }
        return true;
    }

private:
    bool m_in[256] = {};
};

constexpr CHARACTER_SET name_characters(
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_ ");
constexpr CHARACTER_SET data_list_characters("abcdefxABCDEF0123456789 ");
constexpr CHARACTER_SET number_characters("abcdefxABCDEF0123456789");
constexpr CHARACTER_SET hexadecimal_digits("abcdefABCDEF0123456789");
constexpr CHARACTER_SET decimal_digits("0123456789");

// Every character from the set, and not blanks alone.
bool name_is_valid(const std::string& value) {
    return value.find_first_not_of(' ') != std::string::npos && name_characters.holds(value);
}

// A non-empty data list; `byte_count` receives its length.
bool byte_list_is_valid(const std::string& value, uint32_t* byte_count) {
    if (!data_list_characters.holds(value))
        return false;
    return GFPDB_MGR::data_list_is_valid(value, byte_count);
}

// Decimal digits, or "0x" and hexadecimal digits. A "0x" that is not at the start leaves its
// "x" in the tested tail, and the upper-case "0X" is refused by the character set.
bool number_is_valid(const std::string& value, uint64_t min, uint64_t max) {
    if (!number_characters.holds(value))
        return false;
    const bool hexadecimal = value.find("0x") != std::string::npos;
    if (hexadecimal ? !hexadecimal_digits.holds(value, 2) : !decimal_digits.holds(value))
        return false;
    // A number beyond 64 bits converts to 0, which would pass a rule whose range holds 0.
    bool fits = false;
    const uint64_t number = PGM_COMMON::convert_string_to_qword(value, false, &fits);
    return fits && number >= min && number <= max;
}

bool value_follows_rule(const ACTION_PROPERTY_RULE& row, const std::string& value) {
    uint32_t byte_count = 0;
    switch (row.rule) {
        case NAME:
            return name_is_valid(value);
        case COMMAND:
            return !value.empty() && byte_list_is_valid(value, &byte_count) && byte_count == 1;
        case DATA_BYTES:
            return value.empty() || byte_list_is_valid(value, &byte_count);
        case NUMBER:
            return !value.empty() && number_is_valid(value, row.min, row.max);
        case BUS_WIDTH_2:
            return is_one_of(value, two_part_bus_widths());
        case BUS_WIDTH_3:
            return is_one_of(value, three_part_bus_widths());
        case DESCRIPTION:
            return !value.empty();
        case DIRECTION:
            return value == "start" || value == "end" || value == "nil";
    }
    return false;
}

}  // namespace

bool gfpdb_data_list_to_dword(const std::string& data_list, uint32_t* value, uint32_t* byte_count) {
    // The data-list parser treats an empty text as a broken invariant.
    if (data_list.empty())
        return false;
    uint32_t size = 0;
    unsigned char* bytes =
        GFPDB_MGR::convert_data_list_string_to_byte_array(data_list, &size, nullptr);
    if (!bytes)
        return false;
    uint32_t word = 0;
    for (uint32_t i = 0; i < size && i < 4; ++i)
        word |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    delete[] bytes;
    *value = word;
    *byte_count = size;
    return true;
}

GFPDB_QSPI_ACTION::GFPDB_QSPI_ACTION(GFPDB_ACT_TYPE type) {
    m_action_type = type;
    if (static_cast<unsigned>(type) >= GFPDB_ACT_TYPE_COUNT)
        GFPDB_FAIL("Unknown action type", source);
    m_name = GFPDB_SHARED_TEXT::lasting(gfpdb_act_type_name[type]);
    size_t first = GFPDB_ACT_PROPERTY_COUNT;
    size_t count = 0;
    std::array<GFPDB_PROPERTY_VALUE_MAP::ENTRY, max_type_properties> defaults;
    size_t default_count = 0;
    for (const ACTION_PROPERTY_RULE& row : property_rules) {
        if (row.type != type)
            continue;
        first = std::min<size_t>(first, row.property);
        ++count;
        if (row.default_value)
            defaults[default_count++] = {row.property, row.default_value};
    }
    m_property_list = GFPDB_PROPERTY_LIST(&every_property[first], count);
    m_property_value_map.set(defaults.data(), default_count);
}

GFPDB_QSPI_ACTION::GFPDB_QSPI_ACTION(const GFPDB_QSPI_ACTION& other) : GFPDB_ACTION(other) {}

GFPDB_QSPI_ACTION& GFPDB_QSPI_ACTION::operator=(const GFPDB_QSPI_ACTION& other) {
    GFPDB_ACTION::operator=(other);
    return *this;
}

GFPDB_QSPI_ACTION::~GFPDB_QSPI_ACTION() {
    m_property_value_map.clear();
}

const std::string GFPDB_QSPI_ACTION::get_property_name(GFPDB_ACT_PROPERTY property) {
    return gfpdb_act_property_label[property];
}

const std::string GFPDB_QSPI_ACTION::get_property_value(GFPDB_ACT_PROPERTY property) {
    std::string_view value;
    return m_property_value_map.find(property, &value) ? std::string(value) : std::string();
}

uint32_t GFPDB_QSPI_ACTION::get_property_value_in_dword(GFPDB_ACT_PROPERTY property) {
    const std::string value = get_property_value(property);
    if (value.empty())
        return 0;
    uint32_t word = 0;
    uint32_t byte_count = 0;
    if (gfpdb_data_list_to_dword(value, &word, &byte_count))
        return word;
    // Numbers beyond a byte, such as a page size of 256, are no data list.
    return PGM_COMMON::convert_string_to_dword(value, true);
}

unsigned char* GFPDB_QSPI_ACTION::get_property_value_in_byte_array(GFPDB_ACT_PROPERTY property,
                                                                   uint32_t* size, bool* ok) {
    const std::string value = get_property_value(property);
    if (!value.empty())
        return GFPDB_MGR::convert_data_list_string_to_byte_array(value, size, ok);
    if (size)
        *size = 0;
    if (ok)
        *ok = false;
    return nullptr;
}

const std::vector<std::string> GFPDB_QSPI_ACTION::get_property_value_list(
    GFPDB_ACT_PROPERTY property) {
    const ACTION_PROPERTY_RULE* row = find_rule(property);
    if (row && row->rule == BUS_WIDTH_2)
        return two_part_bus_widths();
    if (row && row->rule == BUS_WIDTH_3)
        return three_part_bus_widths();
    GFPDB_FAIL("Unknown action property enum", source);
}

void GFPDB_QSPI_ACTION::set_property_value(GFPDB_ACT_PROPERTY property, std::string value) {
    m_property_value_map.set(property, value);
}

void GFPDB_QSPI_ACTION::set_property_values(GFPDB_ACT_PROPERTY first,
                                            const std::string_view* values, size_t count) {
    GFPDB_ASSERT(count <= max_type_properties, source);
    std::array<GFPDB_PROPERTY_VALUE_MAP::ENTRY, max_type_properties> entries;
    for (size_t i = 0; i < count; ++i)
        entries[i] = {GFPDB_ACT_PROPERTY(first + i), values[i]};
    m_property_value_map.set(entries.data(), count);
}

bool GFPDB_QSPI_ACTION::property_value_is_valid(GFPDB_ACT_PROPERTY property, std::string value,
                                                std::string* error) {
    return value_is_valid(property, value, error);
}

bool GFPDB_QSPI_ACTION::value_is_valid(GFPDB_ACT_PROPERTY property, const std::string& value,
                                       std::string* error) {
    const ACTION_PROPERTY_RULE* row = find_rule(property);
    if (!row)
        GFPDB_FAIL("Unknown action property enum", source);
    if ((row->flags & JIC) && property_value_is_jic_file(value))
        return true;
    if (value_follows_rule(*row, value))
        return true;
    gfpdb_post(row->warning, value);
    if (error)
        *error = row->error_prefix + value + row->error_suffix;
    return false;
}

bool GFPDB_QSPI_ACTION::property_value_is_enable(GFPDB_ACT_PROPERTY property) {
    const ACTION_PROPERTY_RULE* row = find_rule(property);
    return !row || !(row->flags & FIXED);
}

bool GFPDB_QSPI_ACTION::property_is_number(GFPDB_ACT_PROPERTY property) {
    const ACTION_PROPERTY_RULE* row = find_rule(property);
    return row && (row->flags & FILE_NUMBER);
}

GFPDB_MESSAGE_ID GFPDB_QSPI_ACTION::property_warning(GFPDB_ACT_PROPERTY property) {
    const ACTION_PROPERTY_RULE* row = find_rule(property);
    if (!row)
        GFPDB_FAIL("Unknown action property enum", source);
    return row->warning;
}
