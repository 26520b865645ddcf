// QSPI actions: property lists and defaults per type, the value rules with their warnings and
// error texts, and conversions.
#include <map>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "support/test_support.h"

namespace {

using gfpdb_test::literal;
using gfpdb_test::MESSAGE_RECORDER;

GFPDB_ACT_PROPERTY property(int value) {
    return static_cast<GFPDB_ACT_PROPERTY>(value);
}

// ---------------------------------------------------------------------------------------------
// Construction

struct TYPE_CASE {
    GFPDB_ACT_TYPE type;
    const char* name;
    int first, count;  // the type's run of properties
    std::map<int, std::string> defaults;
};

const TYPE_CASE type_cases[] = {
    {GFPDB_ACT_TYPE_WRITE_REGISTER, "Write Register", 0, 5, {{3, "0"}, {4, "1-1"}}},
    {GFPDB_ACT_TYPE_READ_REGISTER, "Read Register", 5, 8, {{10, "1"}, {11, "0"}, {12, "1-1"}}},
    {GFPDB_ACT_TYPE_WRITE_DATA, "Write Data", 13, 8, {{17, "256"}, {19, "0"}, {20, "1-1-1"}}},
    {GFPDB_ACT_TYPE_READ_DATA, "Read Data", 21, 10, {{29, "0"}, {30, "1-1-1"}}},
    {GFPDB_ACT_TYPE_ERASE, "Erase", 31, 7, {{36, "0"}, {37, "1-1"}}},
    {GFPDB_ACT_TYPE_CUSTOM, "Custom", 38, 2, {}},
};

TEST(QspiActionConstruction, EachTypeCarriesItsRunOfPropertiesWithValidDefaults) {
    MESSAGE_RECORDER recorder;
    for (const TYPE_CASE& c : type_cases) {
        SCOPED_TRACE(c.name);
        GFPDB_QSPI_ACTION action(c.type);
        EXPECT_EQ(action.get_name(), c.name);
        EXPECT_EQ(action.get_action_type(), c.type);
        std::vector<GFPDB_ACT_PROPERTY> expected;
        for (int p = c.first; p < c.first + c.count; ++p)
            expected.push_back(property(p));
        EXPECT_EQ(action.get_property_enum_list(), expected);
        for (int p = 0; p < GFPDB_ACT_PROPERTY_COUNT; ++p) {
            auto found = c.defaults.find(p);
            const std::string value = action.get_property_value(property(p));
            EXPECT_EQ(value, found == c.defaults.end() ? "" : found->second) << "property " << p;
            if (found != c.defaults.end()) {
                EXPECT_TRUE(action.property_value_is_valid(property(p), value));
            }
        }
    }
    EXPECT_TRUE(recorder.posted.empty());
}

TEST(QspiActionConstruction, UnknownTypeStopsTheProgram) {
    EXPECT_DEATH(GFPDB_QSPI_ACTION(static_cast<GFPDB_ACT_TYPE>(6)), literal("Unknown action type"));
}

// Values are kept in property order whatever order they are set in, including values of
// properties foreign to the type, and a copy carries all of them.
TEST(QspiActionValues, SetInAnyOrderReadBackAndCopied) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_ERASE);  // defaults on 36 and 37
    const std::pair<int, const char*> sets[] = {
        {39, "foreign, after the run"},
        {31, "Erase sector"},
        {0, "foreign, before the run"},
        {36, "5"},  // replaces the default
        {33, "0x20"},
    };
    for (const auto& [p, value] : sets)
        action.set_property_value(property(p), value);
    const std::map<int, std::string> expected = {
        {0, "foreign, before the run"}, {31, "Erase sector"}, {33, "0x20"}, {36, "5"}, {37, "1-1"},
        {39, "foreign, after the run"}};
    GFPDB_QSPI_ACTION copy(action);
    GFPDB_QSPI_ACTION assigned(GFPDB_ACT_TYPE_WRITE_DATA);  // its own defaults go
    assigned = action;
    for (GFPDB_QSPI_ACTION* a : {&action, &copy, &assigned}) {
        for (int p = 0; p < GFPDB_ACT_PROPERTY_COUNT; ++p) {
            auto found = expected.find(p);
            EXPECT_EQ(a->get_property_value(property(p)),
                      found == expected.end() ? "" : found->second)
                << "property " << p;
        }
    }

    GFPDB_PROPERTY_VALUE_MAP map;
    for (const auto& [p, value] : sets)
        map.set(property(p), value);
    std::vector<int> order;
    for (size_t i = 0; i < map.size(); ++i)
        order.push_back(map.at(i).first);
    EXPECT_EQ(order, (std::vector<int>{0, 31, 33, 36, 39}));
    std::string_view none;
    EXPECT_FALSE(map.find(property(32), &none));

    // A loaded action's run replaces the defaults and keeps the foreign values.
    const std::string_view run[] = {"Erase chip", "0xC7", "", "65536", "1", "7", "1-1"};
    action.set_property_values(property(31), run, 7);
    for (int p = 31; p < 38; ++p)
        EXPECT_EQ(action.get_property_value(property(p)), run[p - 31]) << "property " << p;
    EXPECT_EQ(action.get_property_value(property(39)), "foreign, after the run");
}

// ---------------------------------------------------------------------------------------------
// Validation

const std::string name_suffix =
    "' is invalid as it contains an empty string or special characters.";
const std::string command_suffix =
    "' is invalid. It either contains an empty string or special characters, or it is not in the "
    "list of byte formats.";
const std::string data_suffix =
    "' is invalid. It either contains special characters or is not in the list of byte formats.";
const std::string delay_suffix =
    "' is invalid. It contains either an empty string or special characters.";
const std::string length_suffix =
    "' is invalid. It either contains an empty string or special characters, or has a value of 0.";
const std::string page_suffix =
    "' is invalid. It either contains an empty string or special characters, or has a value other "
    "than 256.";

// One accepted and one rejected value for every property, with what the rejection says.
struct PROPERTY_CASE {
    int property;
    const char* good;
    const char* bad;
    unsigned warning;
    const char* prefix;
    std::string suffix;
};

const PROPERTY_CASE property_cases[] = {
    {0, "Write enable", "", 20485, "Action name '", name_suffix},
    {1, "0x06", "0x06 0x04", 20486, "Action command '", command_suffix},
    {2, "0x01 0x02", "0x1G", 20496, "Action data '", data_suffix},
    {3, "10", "0X10", 20500, "Action delay '", delay_suffix},
    {4, "1-1", "1-1-1", 20505, "Action bus width '", "' is invalid."},
    {5, "Read_status", "status?", 20485, "Action name '", name_suffix},
    {6, "5", "", 20486, "Action command '", command_suffix},
    {7, "256", "257", 20497, "Action data length '", length_suffix},
    {8, "0x00", "0x", 20495, "Action expected data '", data_suffix},
    {9, "0x01", "0x1 0xZ", 20494, "Action data mask '", data_suffix},
    {10, "1", "0", 20498, "Action attempt count '", length_suffix},
    {11, "0", "", 20500, "Action delay '", delay_suffix},
    {12, "1-1", " 1-1", 20505, "Action bus width '", "' is invalid."},
    {13, "Page program", "Page-program", 20485, "Action name '", name_suffix},
    {14, "0x02", "0x100", 20486, "Action command '", command_suffix},
    {15, "0x1000", "0x10000 ", 20502, "Action address '", delay_suffix},
    {16, "design.jic", "256", 20496, "Action data '", data_suffix},
    {17, "0x100", "255", 20501, "Action page size '", page_suffix},
    {18, "3", "0", 20503, "Action addressing mode '", length_suffix},
    {19, "0x", "5 ", 20500, "Action delay '", delay_suffix},
    {20, "1-1-1", "1-1", 20505, "Action bus width '", "' is invalid."},
    {21, "_", "   ", 20485, "Action name '", name_suffix},
    {22, "0x0B", "0x0B 0x00", 20486, "Action command '", command_suffix},
    {23, "0", "", 20502, "Action address '", delay_suffix},
    {24, "1", "0", 20497, "Action data length '", length_suffix},
    {25, "", "0x1 0x2G", 20495, "Action expected data '", data_suffix},
    {26, "DATA.JIC", "a.Jic", 20494, "Action data mask '", data_suffix},
    {27, "4", "0x0", 20503, "Action addressing mode '", length_suffix},
    {28, "15", "16", 20504, "Action dummy clock cycle '", delay_suffix},
    {29, "0", "10x", 20500, "Action delay '", delay_suffix},
    {30, "1-1-1", "1-1-1 ", 20505, "Action bus width '", "' is invalid."},
    {31, "Sector Erase 4K", "Erase!", 20485, "Action name '", name_suffix},
    {32, "216", "0xD8 0x00", 20486, "Action command '", command_suffix},
    {33, "a.jic", "-1", 20502, "Action address '", delay_suffix},
    {34, "65536", "0", 20499, "Action erase size '", length_suffix},
    {35, "4", "", 20503, "Action addressing mode '", length_suffix},
    {36, "1000", "1,000", 20500, "Action delay '", delay_suffix},
    {37, "1-1", "1-1-1", 20505, "Action bus width '", "' is invalid."},
    {38, "Erase data", "", 20509, "Action custom description '",
     "' is invalid due to an empty string."},
    {39, "nil", "Start", 20507, "Action custom direction '", "' is invalid."},
};

TEST(QspiActionValidation, EveryPropertyAcceptsAndRejectsWithItsWarningAndText) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_CUSTOM);
    for (const PROPERTY_CASE& c : property_cases) {
        SCOPED_TRACE("property " + std::to_string(c.property));
        MESSAGE_RECORDER recorder;
        std::string error = "untouched";
        EXPECT_TRUE(action.property_value_is_valid(property(c.property), c.good, &error));
        EXPECT_EQ(error, "untouched");
        EXPECT_TRUE(recorder.posted.empty());

        EXPECT_FALSE(action.property_value_is_valid(property(c.property), c.bad, &error));
        EXPECT_EQ(error, c.prefix + std::string(c.bad) + c.suffix);
        ASSERT_EQ(recorder.ids(), std::vector<unsigned>{c.warning});
        EXPECT_EQ(GFPDB_QSPI_ACTION::property_warning(property(c.property)), c.warning);
        EXPECT_EQ(recorder.posted[0].type, MSG_POST_TYPE_WARNING);
        EXPECT_NE(recorder.posted[0].text.find("'" + std::string(c.bad) + "'"), std::string::npos)
            << recorder.posted[0].text;

        // Without an error text the warning is still posted.
        recorder.clear();
        EXPECT_FALSE(action.property_value_is_valid(property(c.property), c.bad));
        EXPECT_EQ(recorder.ids(), std::vector<unsigned>{c.warning});
    }
}

TEST(QspiActionValidation, PageSizeTellsTheRealConditionWhileTheWarningSaysZero) {
    MESSAGE_RECORDER recorder;
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_DATA);
    std::string error;
    EXPECT_FALSE(
        action.property_value_is_valid(GFPDB_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "512", &error));
    EXPECT_EQ(error,
              "Action page size '512' is invalid. It either contains an empty string or special "
              "characters, or has a value other than 256.");
    ASSERT_EQ(recorder.posted.size(), 1u);
    EXPECT_EQ(recorder.posted[0].text,
              "Action page size '512' is invalid. It either contains an empty string or special "
              "characters, or has a value of 0.");
}

// The edges of each rule, beyond the one pair per property above.
struct RULE_CASE {
    int property;
    std::vector<const char*> accepted, rejected;
};
const RULE_CASE rule_cases[] = {
    {0, {"a b", " x "}, {"Write\tenable"}},
    {1, {"6", "255", "0xff"}, {"256", "0x006", "0X06", "a.jic"}},  // a command is never the file
    {2, {"0x01 2 0xff", "whatever JIC"}, {"0x01,0x02", "Jic"}},
    // "0x" only at the start and only in lower case; the bare prefix converts to 0.
    {3, {"0", "0x", "0xDEADbeef"}, {"0X10", "x10", "0x0x1", "12a", "0xg", "+5", "a.jic"}},
    // A number is read whole: past 64 bits it is no number, though the range holds 0.
    {3, {"18446744073709551615"}, {"18446744073709551616", "0x10000000000000000"}},
    {33, {"0x100000000"}, {"99999999999999999999999"}},
    {7, {"0x100", "a.jic"}, {"0x101"}},
    {15, {"JIC"}, {}},
    {17, {"256"}, {"0", ""}},
    {18, {}, {"0x"}},
    {28, {"0", "0xf"}, {"0x10"}},
    {12, {"1-1"}, {}},
    {37, {"1-1"}, {""}},
    {30, {}, {"1-1"}},
    {38, {" "}, {}},
    {39, {"start", "end"}, {"", "END"}},
};

TEST(QspiActionValidation, RuleEdges) {
    MESSAGE_RECORDER recorder;
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_READ_DATA);
    for (const RULE_CASE& c : rule_cases) {
        for (bool valid : {true, false}) {
            for (const char* value : valid ? c.accepted : c.rejected) {
                SCOPED_TRACE("property " + std::to_string(c.property) + " '" + value + "'");
                recorder.clear();
                EXPECT_EQ(action.property_value_is_valid(property(c.property), value), valid);
                EXPECT_EQ(recorder.posted.size(), valid ? 0u : 1u);
            }
        }
    }
}

TEST(QspiActionValidation, UnknownPropertyStopsTheProgram) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    EXPECT_DEATH(action.property_value_is_valid(property(40), "0"),
                 literal("Unknown action property enum"));
    EXPECT_DEATH(GFPDB_QSPI_ACTION::property_warning(property(40)),
                 literal("Unknown action property enum"));
}

// ---------------------------------------------------------------------------------------------
// Conversions

TEST(QspiActionConversion, ValueAsWord) {
    struct CASE {
        const char* value;
        uint32_t word;
    };
    const CASE cases[] = {
        {"0x34", 52},
        {"0x02 0x01", 258},           // little-endian
        {"1 2 3 4 5", 0x04030201u},   // bytes beyond the fourth take no part
        {"256", 256},                 // no byte list, so a plain number
        {"0x12345678", 0x12345678u},  // likewise
    };
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    EXPECT_EQ(action.get_property_value_in_dword(GFPDB_ACT_PROPERTY_WRITE_REG_DATA), 0u);  // unset
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.value);
        action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_DATA, c.value);
        EXPECT_EQ(action.get_property_value_in_dword(GFPDB_ACT_PROPERTY_WRITE_REG_DATA), c.word);
    }
}

// Only bus widths have a list of values; asking another property for one is a fault.
TEST(QspiActionBusWidth, OtherPropertiesHaveNoValueList) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    for (int p : {3, 40})
        EXPECT_DEATH(action.get_property_value_list(property(p)),
                     literal("Unknown action property enum"));
}

}  // namespace
