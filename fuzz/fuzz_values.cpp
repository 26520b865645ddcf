// The data-list parser and every value validator against an independent reading of their
// rules: the first byte picks an action property, the rest is the value. A verdict that
// differs from the rule, a byte array that differs from the list, or a crash in a conversion
// is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_qspi_oracle.h"
#include "pgm/gfpdb/gfpdb_qspi_action.h"

namespace fuzz_values {

using gfpdb_fuzz::exact_value;
using gfpdb_fuzz::number_value;
using gfpdb_fuzz::QSPI_PROBE;

enum RULE { NAME, COMMAND, DATA, NUMBER, BUS_2, BUS_3, DESCRIPTION, DIRECTION };

struct REFERENCE {
    RULE rule;
    bool jic;  // a value naming the programming file passes untested
    uint64_t min, max;
};

constexpr uint64_t ANY = UINT64_MAX;

// The rules as the editor's documentation states them, indexed by GFPDB_ACT_PROPERTY.
const REFERENCE references[GFPDB_ACT_PROPERTY_COUNT] = {
    // Write Register
    {NAME, false, 0, 0},
    {COMMAND, false, 0, 0},
    {DATA, true, 0, 0},
    {NUMBER, false, 0, ANY},
    {BUS_2, false, 0, 0},
    // Read Register
    {NAME, false, 0, 0},
    {COMMAND, false, 0, 0},
    {NUMBER, true, 1, 256},
    {DATA, true, 0, 0},
    {DATA, true, 0, 0},
    {NUMBER, false, 1, ANY},
    {NUMBER, false, 0, ANY},
    {BUS_2, false, 0, 0},
    // Write Data
    {NAME, false, 0, 0},
    {COMMAND, false, 0, 0},
    {NUMBER, true, 0, ANY},
    {DATA, true, 0, 0},
    {NUMBER, false, 256, 256},
    {NUMBER, false, 1, ANY},
    {NUMBER, false, 0, ANY},
    {BUS_3, false, 0, 0},
    // Read Data
    {NAME, false, 0, 0},
    {COMMAND, false, 0, 0},
    {NUMBER, true, 0, ANY},
    {NUMBER, true, 1, 256},
    {DATA, true, 0, 0},
    {DATA, true, 0, 0},
    {NUMBER, false, 1, ANY},
    {NUMBER, false, 0, 15},
    {NUMBER, false, 0, ANY},
    {BUS_3, false, 0, 0},
    // Erase
    {NAME, false, 0, 0},
    {COMMAND, false, 0, 0},
    {NUMBER, true, 0, ANY},
    {NUMBER, false, 1, ANY},
    {NUMBER, false, 1, ANY},
    {NUMBER, false, 0, ANY},
    {BUS_2, false, 0, 0},
    // Custom
    {DESCRIPTION, false, 0, 0},
    {DIRECTION, false, 0, 0}};

// Space-separated tokens, each "0x" and one or two hexadecimal digits or a decimal number up
// to 255.
bool data_list(const std::string& text, std::string* bytes) {
    bytes->clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string token = text.substr(start, end - start);
        start = end + 1;
        if (token.empty())
            continue;
        uint64_t value = 0;
        if (token.compare(0, 2, "0x") == 0) {
            if (token.size() < 3 || token.size() > 4 || !exact_value(token.substr(2), 16, &value))
                return false;
        } else if (!exact_value(token, 10, &value) || value > 255) {
            return false;
        }
        bytes->push_back(static_cast<char>(value));
    }
    return !bytes->empty();
}

bool only(const std::string& text, const char* characters) {
    return text.find_first_not_of(characters) == std::string::npos;
}

bool reference_verdict(GFPDB_ACT_PROPERTY property, const std::string& value) {
    const REFERENCE& r = references[property];
    std::string bytes;
    uint64_t number = 0;
    if (r.jic && (value.find("jic") != std::string::npos || value.find("JIC") != std::string::npos))
        return true;
    switch (r.rule) {
        case NAME:
            return value.find_first_not_of(' ') != std::string::npos &&
                   only(value, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_ ");
        case COMMAND:
            return only(value, "abcdefxABCDEF0123456789 ") && data_list(value, &bytes) &&
                   bytes.size() == 1;
        case DATA:
            return value.empty() ||
                   (only(value, "abcdefxABCDEF0123456789 ") && data_list(value, &bytes));
        case NUMBER:
            return number_value(value, &number) && number >= r.min && number <= r.max;
        case BUS_2:
            return value == "1-1";
        case BUS_3:
            return value == "1-1-1";
        case DESCRIPTION:
            return !value.empty();
        case DIRECTION:
            return value == "start" || value == "end" || value == "nil";
    }
    return false;
}

GFPDB_ACT_TYPE type_of(GFPDB_ACT_PROPERTY property) {
    static const int first[GFPDB_ACT_TYPE_COUNT + 1] = {0, 5, 13, 21, 31, 38, 40};
    int type = 0;
    while (property >= first[type + 1])
        ++type;
    return static_cast<GFPDB_ACT_TYPE>(type);
}

void check_data_list_parser(const std::string& value) {
    if (value.empty())
        return;  // an empty list is a caller's error by contract
    std::string expected;
    const bool expected_ok = data_list(value, &expected);
    uint32_t size = 12345;
    bool ok = !expected_ok;
    std::unique_ptr<unsigned char[]> bytes(
        GFPDB_MGR::convert_data_list_string_to_byte_array(value, &size, &ok));
    FUZZ_CHECK(ok == expected_ok);
    FUZZ_CHECK((bytes != nullptr) == expected_ok);
    if (!expected_ok) {
        FUZZ_CHECK(size == 0);
        return;
    }
    FUZZ_CHECK(size == expected.size());
    FUZZ_CHECK(std::string(reinterpret_cast<const char*>(bytes.get()), size) == expected);
    // Without the optional outputs the answer is the same.
    std::unique_ptr<unsigned char[]> again(
        GFPDB_MGR::convert_data_list_string_to_byte_array(value, nullptr, nullptr));
    FUZZ_CHECK(again != nullptr);
}

void check_property(GFPDB_MGR& mgr, GFPDB_ACT_PROPERTY property, const std::string& value) {
    std::unique_ptr<GFPDB_ACTION> action(mgr.create_action(type_of(property)));
    std::string error = "untouched";
    const bool valid = action->property_value_is_valid(property, value, &error);
    FUZZ_CHECK(valid == reference_verdict(property, value));
    if (valid)
        FUZZ_CHECK(error == "untouched");
    else
        FUZZ_CHECK(error.find(value) != std::string::npos);

    // The conversions take any stored text.
    action->set_property_value(property, value);
    FUZZ_CHECK(action->get_property_value(property) == value);
    const uint32_t word = action->get_property_value_in_dword(property);
    std::string bytes;
    if (!value.empty() && data_list(value, &bytes)) {
        uint32_t expected = 0;
        for (size_t i = 0; i < bytes.size() && i < 4; ++i)
            expected |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
        FUZZ_CHECK(word == expected);
    }
    uint32_t size = 0;
    bool ok = false;
    std::unique_ptr<unsigned char[]> array(
        action->get_property_value_in_byte_array(property, &size, &ok));
    FUZZ_CHECK((array != nullptr) == ok);
    action->property_value_is_enable(property);
}

void check_device_values(QSPI_PROBE& mgr, const std::string& value) {
    std::string bytes;
    const bool id_ok =
        !value.empty() && only(value, "abcdefxABCDEF0123456789 ") && data_list(value, &bytes);
    FUZZ_CHECK(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_ID, value, nullptr) == id_ok);
    const bool name_ok = mgr.is_parameter_valid(GFPDB_FLASH_PARAM_NAME, value, nullptr);
    if (name_ok) {
        FUZZ_CHECK(!value.empty());
        FUZZ_CHECK(value.find('/') == std::string::npos);
    }
    for (GFPDB_FLASH_PARAM p :
         {GFPDB_FLASH_PARAM_IO_VOLTAGE, GFPDB_FLASH_PARAM_DENSITY, GFPDB_FLASH_PARAM_TEMPLATE_NAME,
          GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE})
        mgr.is_parameter_valid(p, value, nullptr);
    mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, value, nullptr);
}

}  // namespace fuzz_values

GFPDB_FUZZ_TARGET(values) {
    using namespace fuzz_values;
    gfpdb_fuzz::SANDBOX::for_qspi();
    // One loaded manager serves every input: validation does not change it.
    static QSPI_PROBE* mgr = new QSPI_PROBE;
    if (size == 0)
        return 0;
    const auto property = static_cast<GFPDB_ACT_PROPERTY>(data[0] % GFPDB_ACT_PROPERTY_COUNT);
    const std::string value(reinterpret_cast<const char*>(data) + 1, size - 1);
    check_data_list_parser(value);
    check_property(*mgr, property, value);
    check_device_values(*mgr, value);
    return 0;
}
