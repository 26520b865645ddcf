// QSPI actions: property lists and defaults per type, the value rules with their warnings and
// error texts, conversions, bus-width lists and editor flags.
#include <algorithm>
#include <map>
#include <memory>

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

TEST(QspiActionConstruction, EachTypeCarriesItsRunOfPropertiesWithItsDefaults) {
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
            EXPECT_EQ(action.get_property_value(property(p)),
                      found == c.defaults.end() ? "" : found->second)
                << "property " << p;
        }
    }
}

TEST(QspiActionConstruction, EveryDefaultPassesItsOwnRule) {
    MESSAGE_RECORDER recorder;
    for (const TYPE_CASE& c : type_cases) {
        GFPDB_QSPI_ACTION action(c.type);
        for (const auto& entry : c.defaults)
            EXPECT_TRUE(action.property_value_is_valid(property(entry.first), entry.second));
    }
    EXPECT_TRUE(recorder.posted.empty());
}

TEST(QspiActionConstruction, UnknownTypeStopsTheProgram) {
    EXPECT_DEATH(GFPDB_QSPI_ACTION(static_cast<GFPDB_ACT_TYPE>(6)), literal("Unknown action type"));
}

TEST(QspiActionConstruction, CopiesCarryTheWholeState) {
    GFPDB_QSPI_ACTION source(GFPDB_ACT_TYPE_ERASE);
    source.set_name("Sector erase");
    source.set_property_value(GFPDB_ACT_PROPERTY_ERASE_COMMAND, "0xD8");
    GFPDB_QSPI_ACTION copy(source);
    GFPDB_QSPI_ACTION assigned(GFPDB_ACT_TYPE_CUSTOM);
    assigned.set_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION, "start");
    assigned = source;
    for (GFPDB_QSPI_ACTION* action : {&copy, &assigned}) {
        EXPECT_EQ(action->get_name(), "Sector erase");
        EXPECT_EQ(action->get_action_type(), GFPDB_ACT_TYPE_ERASE);
        EXPECT_EQ(action->get_property_enum_list(), source.get_property_enum_list());
        EXPECT_EQ(action->get_property_value(GFPDB_ACT_PROPERTY_ERASE_COMMAND), "0xD8");
        EXPECT_EQ(action->get_property_value(GFPDB_ACT_PROPERTY_ERASE_BUS_WIDTH), "1-1");
    }
    // Assignment replaces the old values rather than merging them.
    EXPECT_EQ(assigned.get_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION), "");
}

TEST(QspiActionValues, AnyPropertyIsStoredAsGivenWithoutValidation) {
    MESSAGE_RECORDER recorder;
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_CUSTOM);
    action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "not a number");
    action.set_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION, "start");
    action.set_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION, "end");
    EXPECT_EQ(action.get_property_value(GFPDB_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE), "not a number");
    EXPECT_EQ(action.get_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION), "end");
    EXPECT_TRUE(recorder.posted.empty());
}

TEST(QspiActionValues, LabelsComeFromTheLabelTable) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_DATA);
    EXPECT_EQ(action.get_property_name(GFPDB_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE),
              "Page size(byte):");
    EXPECT_EQ(action.get_property_name(GFPDB_ACT_PROPERTY_READ_DATA_BUS_WIDTH),
              "Command-Address-Data(bus width):");
    EXPECT_EQ(action.get_property_name(GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION), "");
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

TEST(QspiActionValidation, ValidationLeavesTheStoredValueAlone) {
    MESSAGE_RECORDER recorder;
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    EXPECT_FALSE(action.property_value_is_valid(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, "x"));
    EXPECT_EQ(action.get_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY), "0");
    // The value given is tested, not the stored one.
    action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, "bad");
    EXPECT_TRUE(action.property_value_is_valid(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, "7"));
}

struct RULE_CASE {
    int property;
    const char* value;
    bool valid;
};

// The edges of each rule, beyond the one pair per property above.
const RULE_CASE rule_cases[] = {
    // Names: letters, digits, "_" and blanks, with at least one non-blank.
    {0, "a b", true},
    {0, " x ", true},
    {0, "Write\tenable", false},
    // Commands: exactly one byte, decimal up to 255 or "0x" with one or two digits.
    {1, "6", true},
    {1, "255", true},
    {1, "0xff", true},
    {1, "", false},
    {1, "256", false},
    {1, "0x006", false},
    {1, "0X06", false},
    {1, "a.jic", false},  // a command never names the programming file
    // Data lists: empty, the programming file, or bytes.
    {2, "", true},
    {2, "0x01 2 0xff", true},
    {2, "whatever JIC", true},
    {2, "0x1G", false},
    {2, "0x01,0x02", false},
    {2, "Jic", false},
    // Numbers: decimal, or "0x" then hexadecimal digits; "0x" anywhere else is refused.
    {3, "0", true},
    {3, "0x", true},  // a bare prefix converts to 0
    {3, "0xDEADbeef", true},
    {3, "18446744073709551615", true},
    {3, "0X10", false},
    {3, "10x", false},
    {3, "x10", false},
    {3, "0x0x1", false},
    {3, "12a", false},
    {3, "0xg", false},
    {3, "+5", false},
    {3, "a.jic", false},  // only data, data length and address take the programming file
    {7, "0x100", true},
    {7, "0x101", false},
    {7, "a.jic", true},
    {15, "JIC", true},
    {17, "256", true},
    {17, "0", false},
    {17, "", false},
    {18, "0x", false},  // converts to 0
    {28, "0", true},
    {28, "0xf", true},
    {28, "0x10", false},
    {34, "0x1000", true},
    // Bus widths: only the listed text, byte for byte.
    {4, "1-1", true},
    {12, "1-1", true},
    {37, "1-1", true},
    {20, "1-1", false},
    {30, "1-1", false},
    {4, " 1-1", false},
    {20, " 1-1-1", false},
    {37, "", false},
    // Custom markers.
    {38, " ", true},
    {39, "start", true},
    {39, "end", true},
    {39, "nil", true},
    {39, "", false},
    {39, "END", false},
};

TEST(QspiActionValidation, RuleEdges) {
    MESSAGE_RECORDER recorder;
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_READ_DATA);
    for (const RULE_CASE& c : rule_cases) {
        SCOPED_TRACE("property " + std::to_string(c.property) + " value '" + c.value + "'");
        recorder.clear();
        EXPECT_EQ(action.property_value_is_valid(property(c.property), c.value), c.valid);
        EXPECT_EQ(recorder.posted.size(), c.valid ? 0u : 1u);
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

TEST(QspiActionConversion, ValueAsByteArray) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    uint32_t size = 99;
    bool ok = true;
    EXPECT_EQ(
        action.get_property_value_in_byte_array(GFPDB_ACT_PROPERTY_WRITE_REG_DATA, &size, &ok),
        nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(action.get_property_value_in_byte_array(GFPDB_ACT_PROPERTY_WRITE_REG_DATA, nullptr,
                                                      nullptr),
              nullptr);

    action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_DATA, "0x9F 7");
    std::unique_ptr<unsigned char[]> bytes(
        action.get_property_value_in_byte_array(GFPDB_ACT_PROPERTY_WRITE_REG_DATA, &size, &ok));
    ASSERT_NE(bytes, nullptr);
    EXPECT_TRUE(ok);
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(bytes[0], 0x9F);
    EXPECT_EQ(bytes[1], 7);
}

// ---------------------------------------------------------------------------------------------
// Bus widths and editor flags

TEST(QspiActionBusWidth, EachBusWidthPropertyListsItsSingleValue) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    for (int p : {4, 12, 37})
        EXPECT_EQ(action.get_property_value_list(property(p)), std::vector<std::string>{"1-1"});
    for (int p : {20, 30})
        EXPECT_EQ(action.get_property_value_list(property(p)), std::vector<std::string>{"1-1-1"});
}

TEST(QspiActionBusWidth, OtherPropertiesHaveNoListAndStopTheProgram) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    EXPECT_DEATH(action.get_property_value_list(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY),
                 literal("Unknown action property enum"));
    EXPECT_DEATH(action.get_property_value_list(property(40)),
                 literal("Unknown action property enum"));
}

TEST(QspiActionFlags, OnlySingleValuePropertiesAreNotEditable) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_CUSTOM);
    const std::vector<int> fixed = {4, 12, 17, 20, 30, 37};
    for (int p = 0; p <= GFPDB_ACT_PROPERTY_COUNT; ++p) {  // one past the end is editable too
        const bool is_fixed = std::find(fixed.begin(), fixed.end(), p) != fixed.end();
        EXPECT_EQ(action.property_value_is_enable(property(p)), !is_fixed) << "property " << p;
    }
}

TEST(QspiActionFlags, NumbersInFilesAreDelaysCountsSizesModesAndDummyCycles) {
    const std::vector<int> numbers = {3, 10, 11, 17, 18, 19, 27, 28, 29, 34, 35, 36};
    for (int p = 0; p <= GFPDB_ACT_PROPERTY_COUNT; ++p) {
        const bool is_number = std::find(numbers.begin(), numbers.end(), p) != numbers.end();
        EXPECT_EQ(GFPDB_QSPI_ACTION::property_is_number(property(p)), is_number)
            << "property " << p;
    }
}

TEST(QspiActionFlags, ProgrammingFileIsNamedInOneCaseOnly) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_DATA);
    EXPECT_TRUE(action.property_value_is_jic_file("a.jic"));
    EXPECT_TRUE(action.property_value_is_jic_file("A.JIC"));
    EXPECT_FALSE(action.property_value_is_jic_file("a.Jic"));
    EXPECT_FALSE(action.property_value_is_jic_file(""));
}

}  // namespace
