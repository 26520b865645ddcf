// The manager base through a small manager whose lists, families and records the tests set:
// the validators with their warnings, the family filter of lookups, legacy objects, lookups by
// ID and density, the data-list grammar, densities, directories, the custom folder in the user
// settings file, and the vocabulary tables and message catalogue.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/cfg.h"
#include "pgm/gfpdb/gfpdb_mgr.h"
#include "support/test_support.h"

namespace {

using gfpdb_test::literal;
using gfpdb_test::MESSAGE_RECORDER;
using gfpdb_test::TEMP_DIR;

// A flash with just the values the base reads; it logs its name when it is destroyed.
class TEST_FLASH : public GFPDB_FLASH {
public:
    TEST_FLASH(std::string name, std::vector<std::string>* destroyed)
        : GFPDB_FLASH(std::move(name)), m_destroyed(destroyed) {}
    ~TEST_FLASH() override {
        if (m_destroyed)
            m_destroyed->push_back(get_name());
    }
    DEV_FAMILY_ENUM get_family() override { return DEV_FAMILY_QSPI_FLASH; }
    const std::string get_generic_name() override { return ""; }
    const std::vector<GFPDB_OPERATION*>* get_operation_list(GFPDB_PROG_FLOW_TYPE) override {
        return &m_no_operations;
    }
    void add_operation_into_list(GFPDB_OPERATION*, GFPDB_PROG_FLOW_TYPE) override {}
    void set_operation_list(std::vector<GFPDB_OPERATION*>, GFPDB_PROG_FLOW_TYPE) override {}
    void clear_operation_list() override {}
    const std::string get_parameter_value(GFPDB_FLASH_PARAM param) override {
        return param == GFPDB_FLASH_PARAM_IO_VOLTAGE ? m_voltage : "";
    }
    uint32_t get_parameter_value_in_dword(GFPDB_FLASH_PARAM param, uint32_t*) override {
        return param == GFPDB_FLASH_PARAM_ID ? m_id : 0;
    }
    void set_parameter_value(GFPDB_FLASH_PARAM param, uint32_t value) override {
        if (param == GFPDB_FLASH_PARAM_ID)
            m_id = value;
    }
    void set_parameter_value(GFPDB_FLASH_PARAM param, std::string value) override {
        if (param == GFPDB_FLASH_PARAM_IO_VOLTAGE)
            m_voltage = value;
    }

private:
    std::vector<std::string>* m_destroyed;
    std::vector<GFPDB_OPERATION*> m_no_operations;
    std::string m_voltage;
    uint32_t m_id = 0;
};

// An operation of the base alone, which shares its actions.
class TEST_OPERATION : public GFPDB_OPERATION {
public:
    explicit TEST_OPERATION(GFPDB_OP_TYPE type) {
        m_operation_type = type;
        m_name = "op";
        m_description = "what it does";
    }
    const std::vector<GFPDB_ACTION*>* get_action_list() override { return &m_action_list; }
    void clear_action_list() override { m_action_list.clear(); }
    void add_action_into_list(GFPDB_ACTION* action) override { m_action_list.push_back(action); }
};

// An action of the base alone; its own behaviour is not asked for.
class TEST_ACTION : public GFPDB_ACTION {
public:
    const std::string get_property_name(GFPDB_ACT_PROPERTY) override { return ""; }
    const std::string get_property_value(GFPDB_ACT_PROPERTY) override { return ""; }
    uint32_t get_property_value_in_dword(GFPDB_ACT_PROPERTY) override { return 0; }
    unsigned char* get_property_value_in_byte_array(GFPDB_ACT_PROPERTY, uint32_t*, bool*) override {
        return nullptr;
    }
    const std::vector<std::string> get_property_value_list(GFPDB_ACT_PROPERTY) override {
        return {};
    }
    void set_property_value(GFPDB_ACT_PROPERTY, std::string) override {}
    bool property_value_is_valid(GFPDB_ACT_PROPERTY, std::string, std::string*) override {
        return true;
    }
    bool property_value_is_enable(GFPDB_ACT_PROPERTY) override { return true; }
};

// A manager whose families, legacy names and records the test chooses. The active family is
// 7 (3.0V/3.3V); family 12 takes 1.8V and the SDM flow.
class TEST_MGR : public GFPDB_MGR {
public:
    TEST_MGR() {
        m_family_info_map[DEV_FAMILY_ENUM(7)] = {false, "3.0V/3.3V"};
        m_family_info_map[DEV_FAMILY_ENUM(12)] = {true, "1.8V"};
        set_active_device_family(DEV_FAMILY_ENUM(7));
        m_active_config_mode = PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4;
    }
    ~TEST_MGR() override {
        release_legacy_flash(true);
        for (auto& [name, flash] : m_flash_map)
            delete flash;
    }

    TEST_FLASH* add(const std::string& name, const std::string& voltage, uint32_t id = 0,
                    const std::string& density = "") {
        auto* flash = new TEST_FLASH(name, &destroyed);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, id);
        flash->set_density(density);
        m_flash_map[name] = flash;
        return flash;
    }
    GFPDB_FLASH* current() const { return m_flash; }
    const std::map<DEV_FAMILY_ENUM, GFPDB_FAMILY_INFO>& families() const {
        return m_family_info_map;
    }

    using GFPDB_MGR::device_density_is_valid;
    using GFPDB_MGR::device_io_voltage_is_compatible;
    using GFPDB_MGR::device_io_voltage_is_valid;
    using GFPDB_MGR::device_name_is_valid;

    DEV_FAMILY_ENUM get_flash_family() override { return DEV_FAMILY_QSPI_FLASH; }
    const std::vector<DEV_FAMILY_ENUM> get_device_family_list() override { return {}; }
    const std::vector<PGMIO_CONFIG_SCHEME> get_config_mode_list() override { return {}; }
    const std::vector<std::string> get_new_config_device_list(DEV_FAMILY_ENUM, PGMIO_CONFIG_SCHEME,
                                                              bool) override {
        return {};
    }
    const std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM,
                                                                 PGMIO_CONFIG_SCHEME,
                                                                 bool show_all) override {
        std::vector<std::string> names = legacy;
        if (show_all)
            names.insert(names.end(), unfiltered_legacy.begin(), unfiltered_legacy.end());
        return names;
    }
    const std::vector<std::string> get_device_io_voltage_list() override {
        return {"1.8V", "3.0V/3.3V"};
    }
    const std::vector<std::string> get_device_density_list() override { return {"128Mb", "512Mb"}; }
    const std::vector<std::string> get_prog_flow_template_list() override { return {}; }
    const std::vector<std::string> get_user_template_list() override { return {}; }
    GFPDB_MGR* get_new_instance() override { return nullptr; }
    GFPDB_FLASH* create_flash(std::string name) override {
        release_legacy_flash(true);
        m_flash = new TEST_FLASH(name, &destroyed);
        return m_flash;
    }
    GFPDB_ACTION* create_action(GFPDB_ACT_TYPE) override { return nullptr; }
    GFPDB_OPERATION* create_operation(GFPDB_OP_TYPE) override { return nullptr; }
    const std::vector<GFPDB_OPERATION*>* get_prog_flow_template_operation_list(
        GFPDB_PROG_FLOW_TEMPLATE, GFPDB_PROG_FLOW_TYPE) override {
        return nullptr;
    }
    const std::vector<GFPDB_OPERATION*>* get_user_template_operation_list(
        std::string&, GFPDB_PROG_FLOW_TYPE) override {
        return nullptr;
    }
    bool get_operation_editable_permission(GFPDB_FLASH*) override { return false; }
    bool update_template_db(GFPDB_FLASH*, std::string) override { return false; }
    bool delete_template(std::string) override { return false; }

    std::vector<std::string> legacy;
    // Legacy names that only a lookup for all devices sees (another voltage or scheme).
    std::vector<std::string> unfiltered_legacy;
    std::vector<std::string> destroyed;

protected:
    PGM_COMMON_XML_ELEMENT* create_xml_object_with_flash_list(std::vector<GFPDB_FLASH*>) override {
        return nullptr;
    }
    void create_user_template_with_template_list(PGM_COMMON_XML_ELEMENT*&,
                                                 std::vector<std::string>) override {}
};

class MgrBase : public ::testing::Test {
protected:
    void SetUp() override { cfg_clear_values(); }
    void TearDown() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir("");
    }
};

// ---------------------------------------------------------------------------------------------
// Validators

const std::string special_suffix =
    "' is invalid as it contains either an empty string or special characters.";
const std::string reserved_suffix =
    "' is invalid as it conflicts with the reserved name for the programming flow template.";
const std::string existing_suffix = "' is invalid as it already exist in the device database.";

// One verdict of a validator: with an error pointer the text and the warning, without one
// the same verdict in silence.
void expect_verdict(TEST_MGR& mgr, GFPDB_FLASH_PARAM param, const std::string& value,
                    unsigned warning, const std::string& text) {
    SCOPED_TRACE("value '" + value + "'");
    MESSAGE_RECORDER recorder;
    EXPECT_EQ(mgr.is_parameter_valid(param, value, nullptr), warning == 0);
    EXPECT_TRUE(recorder.posted.empty());
    std::string error = "untouched";
    EXPECT_EQ(mgr.is_parameter_valid(param, value, &error), warning == 0);
    EXPECT_EQ(error, warning == 0 ? "untouched" : text);
    if (warning == 0) {
        EXPECT_TRUE(recorder.posted.empty());
        return;
    }
    ASSERT_EQ(recorder.ids(), std::vector<unsigned>{warning});
    EXPECT_EQ(recorder.posted[0].type, MSG_POST_TYPE_WARNING);
    EXPECT_EQ(recorder.posted[0].text, text);
}

TEST_F(MgrBase, NameRulesFireInOrderWithTheirWarningAndText) {
    struct CASE {
        const char* name;
        unsigned warning;  // 0: accepted
        const std::string* suffix;
    };
    const CASE cases[] = {
        {"db", 20473, &special_suffix},  // reserved for the database itself
        {"", 20473, &special_suffix},
        {"DB", 0, nullptr},  // only lower-case db is reserved
        {"db1", 0, nullptr},
        {"_", 0, nullptr},
        {"a b", 20473, &special_suffix},
        {"a-b", 20473, &special_suffix},
        {"a.b", 20473, &special_suffix},
        {"bad-used", 20473, &special_suffix},  // the character rule wins over the existing name
        {"Micron", 20474, &reserved_suffix},   // and the reserved name over it too
        {"micron", 0, nullptr},                // reserved names are case-sensitive
        {"Winbond", 20474, &reserved_suffix},
        {"USED", 20475, &existing_suffix},
        {"OTHERV", 20475, &existing_suffix},  // every voltage counts
        {"LEGACY1", 20475, &existing_suffix},
    };
    TEST_MGR mgr;
    mgr.add("USED", "3.0V/3.3V");
    mgr.add("OTHERV", "1.8V");
    mgr.add("bad-used", "3.0V/3.3V");
    mgr.add("Micron", "3.0V/3.3V");
    mgr.legacy = {"LEGACY1"};
    for (const CASE& c : cases)
        expect_verdict(mgr, GFPDB_FLASH_PARAM_NAME, c.name, c.warning,
                       c.suffix ? "Device name '" + std::string(c.name) + *c.suffix : "");
}

TEST_F(MgrBase, DensityAndVoltageComeFromTheManagersLists) {
    struct CASE {
        GFPDB_FLASH_PARAM param;
        const char* value;
        unsigned warning;
        const char* text;
    };
    const CASE cases[] = {
        {GFPDB_FLASH_PARAM_DENSITY, "512Mb", 0, ""},
        {GFPDB_FLASH_PARAM_DENSITY, "", 20478, "Device density '' is invalid."},
        {GFPDB_FLASH_PARAM_DENSITY, "256Mb", 20478, "Device density '256Mb' is invalid."},
        {GFPDB_FLASH_PARAM_DENSITY, "512mb", 20478, "Device density '512mb' is invalid."},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", 0, ""},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", 0, ""},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "", 20476, "Device I/O voltage '' is invalid."},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.3V", 20476, "Device I/O voltage '3.3V' is invalid."},
    };
    TEST_MGR mgr;
    for (const CASE& c : cases)
        expect_verdict(mgr, c.param, c.value, c.warning, c.text);
}

TEST_F(MgrBase, FamilyGivesItsSdmFlagAndTheOnlyCompatibleVoltage) {
    const std::string suffix = "' is incompatible with the selected FPGA device family.";
    TEST_MGR mgr;
    MESSAGE_RECORDER recorder;
    std::string error = "untouched";
    EXPECT_TRUE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", &error));
    EXPECT_EQ(error, "untouched");
    // A valid voltage of another family and an invalid one get the same warning.
    for (const char* voltage : {"1.8V", "5V", ""}) {
        SCOPED_TRACE(voltage);
        recorder.clear();
        EXPECT_FALSE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage, &error));
        EXPECT_EQ(error, "Flash device I/O voltage '" + std::string(voltage) + suffix);
        EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20535});
        recorder.clear();
        EXPECT_FALSE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage, nullptr));
        EXPECT_TRUE(recorder.posted.empty());
    }
    EXPECT_FALSE(mgr.get_use_sdm_mode());
    mgr.set_active_device_family(DEV_FAMILY_ENUM(12));
    EXPECT_EQ(mgr.get_active_device_family(), DEV_FAMILY_ENUM(12));
    EXPECT_TRUE(mgr.get_use_sdm_mode());
    EXPECT_TRUE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", nullptr));
    // A family the manager does not know is added without a voltage and the SDM flow, so no
    // voltage is compatible.
    mgr.set_active_device_family(DEV_FAMILY_ENUM(50));
    EXPECT_FALSE(mgr.get_use_sdm_mode());
    ASSERT_EQ(mgr.families().count(DEV_FAMILY_ENUM(50)), 1u);
    EXPECT_EQ(mgr.families().at(DEV_FAMILY_ENUM(50)).io_voltage, "");
    for (const char* voltage : {"1.8V", "3.0V/3.3V"})
        EXPECT_FALSE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage, nullptr));
}

TEST_F(MgrBase, ParameterDispatchKnowsOnlyNameVoltageAndDensity) {
    TEST_MGR mgr;
    for (int p = 0; p <= 9; ++p) {
        const bool known = p == GFPDB_FLASH_PARAM_NAME || p == GFPDB_FLASH_PARAM_IO_VOLTAGE ||
                           p == GFPDB_FLASH_PARAM_DENSITY;
        EXPECT_EQ(mgr.is_parameter_valid(static_cast<GFPDB_FLASH_PARAM>(p)), known) << p;
    }
}

TEST_F(MgrBase, UnknownParametersStopTheProgram) {
    TEST_MGR mgr;
    std::string error;
    EXPECT_DEATH(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_TOTAL_DIE, 1u, &error),
                 literal("Unknown flash parameter: 4"));
    EXPECT_DEATH(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_ID, std::string("0x01"), &error),
                 literal("Unknown flash parameter: 1"));
    EXPECT_DEATH(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_DENSITY, "1Mb", &error),
                 literal("Unknown flash parameter: 3"));
}

// ---------------------------------------------------------------------------------------------
// Lookups

TEST_F(MgrBase, LookupsFilterByTheActiveFamilysVoltageUnlessAskedForAll) {
    TEST_MGR mgr;  // family 7: 3.0V/3.3V
    GFPDB_FLASH* same = mgr.add("SAME", "3.0V/3.3V");
    GFPDB_FLASH* other = mgr.add("OTHER", "1.8V");
    EXPECT_TRUE(mgr.device_exist_in_db("SAME", false));
    EXPECT_FALSE(mgr.device_exist_in_db("OTHER", false));
    EXPECT_TRUE(mgr.device_exist_in_db("OTHER", true));
    EXPECT_FALSE(mgr.device_exist_in_db("NONE", true));
    EXPECT_FALSE(mgr.device_exist_in_db("", true));

    EXPECT_EQ(mgr.get_flash("SAME", false), same);
    EXPECT_EQ(mgr.current(), same);
    EXPECT_EQ(mgr.get_flash("OTHER", false), nullptr);
    EXPECT_EQ(mgr.current(), nullptr);
    EXPECT_EQ(mgr.get_flash("OTHER", true), other);
    EXPECT_EQ(mgr.current(), other);
    EXPECT_EQ(mgr.get_flash("NONE", true), nullptr);
    EXPECT_EQ(mgr.current(), nullptr);

    mgr.set_active_device_family(DEV_FAMILY_ENUM(12));
    EXPECT_EQ(mgr.get_flash("OTHER", false), other);
    EXPECT_EQ(mgr.get_flash("SAME", false), nullptr);
}

TEST_F(MgrBase, SkipFilteringSettingIsReadWhenTheManagerIsBuilt) {
    cfg_set_value("pgm_gfpdb_skip_device_filtering", true);
    TEST_MGR skipping;
    cfg_set_value("pgm_gfpdb_skip_device_filtering", false);
    TEST_MGR filtering;
    for (TEST_MGR* mgr : {&skipping, &filtering})
        mgr->add("OTHER", "1.8V");
    EXPECT_TRUE(skipping.device_exist_in_db("OTHER", false));
    EXPECT_NE(skipping.get_flash("OTHER", false), nullptr);
    EXPECT_FALSE(filtering.device_exist_in_db("OTHER", false));
    // A later change of the setting does not reach a manager already built.
    cfg_set_value("pgm_gfpdb_skip_device_filtering", true);
    EXPECT_FALSE(filtering.device_exist_in_db("OTHER", false));
}

TEST_F(MgrBase, LegacyDeviceLivesUntilTheNextLookup) {
    TEST_MGR mgr;
    mgr.legacy = {"KVRN16", "SQD32"};
    EXPECT_TRUE(mgr.device_is_legacy("KVRN16", false));
    for (const char* name : {"kvrn16", "KVRN1", ""})  // recognised exactly
        EXPECT_FALSE(mgr.device_is_legacy(name, true)) << name;
    EXPECT_TRUE(mgr.device_exist_in_db("SQD32", false));
    GFPDB_FLASH* stored = mgr.add("STORED", "3.0V/3.3V", 0, "1Mb");
    GFPDB_FLASH* first = mgr.get_flash("KVRN16", false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->get_name(), "KVRN16");
    EXPECT_TRUE(mgr.destroyed.empty());
    GFPDB_FLASH* second = mgr.get_flash("KVRN16", false);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(mgr.destroyed, std::vector<std::string>{"KVRN16"});
    EXPECT_EQ(mgr.current(), second);
    // Any other lookup releases it too; a record of the map is only forgotten.
    EXPECT_EQ(mgr.get_flash("STORED", false), stored);
    EXPECT_EQ(mgr.destroyed.size(), 2u);
    mgr.get_flash_with_id(0, 0);
    mgr.get_flash("KVRN16", true);
    mgr.get_flash_with_density(0);
    EXPECT_EQ(mgr.destroyed.size(), 3u);
    EXPECT_EQ(mgr.current(), nullptr);
}

TEST_F(MgrBase, LegacyReleaseFollowsTheObjectNotTheNameOrTheFilter) {
    TEST_MGR mgr;
    mgr.legacy = {"KVRN16"};
    mgr.unfiltered_legacy = {"KVRN256U"};
    GFPDB_FLASH* stored = mgr.add("KVRN16", "3.0V/3.3V", 0x17BA20);
    EXPECT_EQ(mgr.get_flash_with_id(0x17BA20, 0xFFFFFF), stored);
    EXPECT_NE(mgr.get_flash("KVRN16", false), stored);  // a legacy name gets a fresh object
    // Nor is the map's record under that name released by the lookups that follow.
    EXPECT_EQ(mgr.get_flash("KVRN256U", false), nullptr);
    EXPECT_EQ(mgr.destroyed, std::vector<std::string>{"KVRN16"});
    ASSERT_NE(mgr.get_flash("KVRN256U", true), nullptr);
    // The filtered lookup does not see the name as legacy, yet the object is still one.
    EXPECT_EQ(mgr.get_flash_with_id(0x17BA20, 0xFFFFFF), stored);
    EXPECT_EQ(mgr.destroyed, (std::vector<std::string>{"KVRN16", "KVRN256U"}));
}

TEST_F(MgrBase, LookupByIdComparesTheMaskedBitsInNameOrder) {
    struct CASE {
        uint32_t id, mask;
        const char* found;  // null: none
    };
    const CASE cases[] = {
        {0x18BA20, 0xFFFFFF, "B"},
        {0x000020, 0x0000FF, "A"},  // all three share the first byte; A comes first
        {0xFFFFFF, 0x000000, "A"},  // mask 0 matches every record
        {0x19BA20, 0x00FFFF, "A"},
        {0x18BB20, 0xFFFFFF, nullptr},
    };
    TEST_MGR mgr;
    mgr.add("C", "1.8V", 0x17BA20);  // no family filter applies
    mgr.add("B", "3.0V/3.3V", 0x18BA20);
    mgr.add("A", "3.0V/3.3V", 0x19BA20);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.id);
        GFPDB_FLASH* flash = mgr.get_flash_with_id(c.id, c.mask);
        EXPECT_EQ(mgr.current(), flash);
        if (c.found) {
            ASSERT_NE(flash, nullptr);
            EXPECT_EQ(flash->get_name(), c.found);
        } else {
            EXPECT_EQ(flash, nullptr);
        }
    }
}

TEST_F(MgrBase, LookupByDensityComparesBytesAndAMissForgetsTheCurrentRecord) {
    TEST_MGR mgr;
    // Only forgotten by the lookups, so the test frees it.
    std::unique_ptr<GFPDB_FLASH> made(mgr.create_flash("NEW"));
    EXPECT_EQ(mgr.get_flash_with_id(0, 0), nullptr);  // an empty map
    EXPECT_EQ(mgr.current(), nullptr);
    made.reset(mgr.create_flash("NEW"));
    EXPECT_EQ(mgr.get_flash_with_density(0), nullptr);
    EXPECT_EQ(mgr.current(), nullptr);
    mgr.add("BIG", "1.8V", 0, "16GB");
    mgr.add("SMALL", "3.0V/3.3V", 0, "512Mb");
    mgr.add("SAME", "3.0V/3.3V", 0, "64MB");
    EXPECT_EQ(mgr.get_flash_with_density(17179869184ULL)->get_name(), "BIG");
    EXPECT_EQ(mgr.get_flash_with_density(67108864)->get_name(), "SAME");  // 64MB and 512Mb alike
    EXPECT_EQ(mgr.get_flash_with_density(1), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Data lists and densities

TEST_F(MgrBase, DataListGrammar) {
    struct CASE {
        const char* text;
        bool ok;
        std::vector<unsigned char> bytes;
    };
    const CASE cases[] = {
        {"0x9F 0x20 0x18", true, {159, 32, 24}},
        {"0x9F 20", true, {159, 20}},
        {"  0x9F   0x20  ", true, {159, 32}},  // doubled, leading and trailing spaces
        {"0xA", true, {10}},
        {"0xff", true, {255}},
        {"0", true, {0}},
        {"255", true, {255}},
        {"010", true, {10}},  // a leading zero is still decimal
        {"256", false, {}},
        {"0x100", false, {}},
        {"0x", false, {}},
        {"1 0x", false, {}},
        {"0X10", false, {}},  // upper-case X goes to the decimal conversion and fails there
        {"0xG", false, {}},
        {"1\t2", false, {}},  // tabs and commas do not separate
        {"1,2", false, {}},
        {"-1", false, {}},
        {"   ", false, {}},  // no token at all
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        uint32_t size = 99;
        bool ok = !c.ok;
        std::unique_ptr<unsigned char[]> bytes(
            GFPDB_MGR::convert_data_list_string_to_byte_array(c.text, &size, &ok));
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(size, c.bytes.size());
        if (!c.ok) {
            EXPECT_EQ(bytes, nullptr);
            continue;
        }
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::vector<unsigned char>(bytes.get(), bytes.get() + size), c.bytes);
    }
    // Both outputs are optional.
    std::unique_ptr<unsigned char[]> bytes(
        GFPDB_MGR::convert_data_list_string_to_byte_array("1 2", nullptr, nullptr));
    EXPECT_NE(bytes, nullptr);
    EXPECT_EQ(GFPDB_MGR::convert_data_list_string_to_byte_array("256", nullptr, nullptr), nullptr);
}

TEST_F(MgrBase, EmptyDataListStopsTheProgram) {
    EXPECT_DEATH(GFPDB_MGR::convert_data_list_string_to_byte_array("", nullptr, nullptr),
                 literal("!data_string.empty()"));
}

TEST_F(MgrBase, DensityInBytes) {
    struct CASE {
        const char* density;
        uint64_t bytes;
    };
    const CASE cases[] = {
        {"", 0},
        {"1Mb", 131072},
        {"1M", 1048576},
        {"1MB", 1048576},
        {"1Kb", 0},
        {"1mb", 0},
        {"1Tb", 0},
        {"16", 0},  // digits only
        {"Mb", 0},  // no digits
        {"512Mb", 67108864},
        {"2048Mb", 268435456},
        {"2Gb", 268435456},
        {"16GB", 17179869184ULL},
        {"8GB", 8589934592ULL},  // the 32-bit form keeps the low bits: 0
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.density);
        TEST_FLASH flash("F", nullptr);
        flash.set_density(c.density);
        EXPECT_EQ(flash.get_density_in_bytes_qword(), c.bytes);
        EXPECT_EQ(flash.get_density_in_bytes(), static_cast<uint32_t>(c.bytes));
    }
}

// ---------------------------------------------------------------------------------------------
// Records of the base

TEST_F(MgrBase, JicReferenceIsEitherCaseNeverMixed) {
    struct CASE {
        const char* value;
        bool jic;
    };
    const CASE cases[] = {{"a.jic", true},          {"A.JIC", true},  {"jic", true},
                          {"from .jic file", true}, {"a.Jic", false}, {"", false}};
    TEST_ACTION action;
    for (const CASE& c : cases)
        EXPECT_EQ(action.property_value_is_jic_file(c.value), c.jic) << c.value;
}

TEST_F(MgrBase, BaseOperationCopySharesTheActions) {
    TEST_ACTION shared;
    GFPDB_ACTION* action = &shared;
    TEST_OPERATION source(GFPDB_OP_TYPE_ERASE);
    source.add_action_into_list(action);
    TEST_OPERATION copy(source);
    EXPECT_EQ(copy.get_operation_type(), GFPDB_OP_TYPE_ERASE);
    EXPECT_EQ(copy.get_name(), "op");
    EXPECT_EQ(copy.get_operation_description(), "what it does");
    EXPECT_EQ(*copy.get_action_list(), *source.get_action_list());
    TEST_OPERATION assigned(GFPDB_OP_TYPE_PROGRAM);
    assigned = source;
    EXPECT_EQ(assigned.get_operation_type(), GFPDB_OP_TYPE_ERASE);
    EXPECT_EQ(*assigned.get_action_list(), std::vector<GFPDB_ACTION*>{action});
}

// ---------------------------------------------------------------------------------------------
// Directories and the user settings file

TEST_F(MgrBase, CustomDirectoryAlwaysEndsInOneSlash) {
    struct CASE {
        const char* given;
        const char* stored;
    };
    const CASE cases[] = {
        {"/tmp/db", "/tmp/db/"},
        {"/tmp/db/", "/tmp/db/"},
        {"C:\\db\\", "C:/db/"},
        {"", "./"},  // empty forgets the choice
    };
    for (const CASE& c : cases) {
        GFPDB_MGR::set_db_custom_dir(c.given);
        EXPECT_EQ(GFPDB_MGR::get_db_custom_dir(), c.stored) << c.given;
    }
}

TEST_F(MgrBase, HostDatabaseDirectoryIsTheXmlFolderOfTheCommonDirectory) {
    gfpdb_test::HOST_DIR host;
    EXPECT_EQ(GFPDB_MGR::get_db_zorvane_dir(), host.xml_dir());
}

class MgrBaseSettings : public MgrBase {
protected:
    void SetUp() override {
        MgrBase::SetUp();
        m_previous_ini = cfg_get_user_ini_file();
        cfg_set_user_ini_file(m_ini);
    }
    void TearDown() override {
        cfg_set_user_ini_file(m_previous_ini);
        MgrBase::TearDown();
    }
    static std::string stored() { return cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR); }

    TEMP_DIR m_dir;
    const std::string m_ini = m_dir / "settings/user.ini";
    std::string m_previous_ini;
};

TEST_F(MgrBaseSettings, SavingRefusesAMissingOrEmptyFolderUnlessForced) {
    const std::string missing = m_dir / "missing";
    EXPECT_FALSE(GFPDB_MGR::save_custom_dir_to_ini(missing, false));
    EXPECT_FALSE(GFPDB_MGR::save_custom_dir_to_ini("", false));
    EXPECT_EQ(stored(), "");
    EXPECT_FALSE(gfpdb_test::fs::exists(m_ini));
    EXPECT_TRUE(GFPDB_MGR::save_custom_dir_to_ini(missing, true));
    EXPECT_EQ(stored(), missing + "/");
}

TEST_F(MgrBaseSettings, CustomFolderRoundTripsWithATrailingSlash) {
    EXPECT_EQ(GFPDB_MGR::get_custom_dir_from_ini(), "./");  // nothing stored: the working folder
    EXPECT_EQ(stored(), "./");
    const std::string folder = m_dir / "db";
    gfpdb_test::fs::create_directories(folder);
    ASSERT_TRUE(GFPDB_MGR::save_custom_dir_to_ini(folder, false));
    EXPECT_EQ(stored(), folder + "/");
    EXPECT_NE(gfpdb_test::read_file(m_ini).find(folder + "/"), std::string::npos);
    EXPECT_EQ(GFPDB_MGR::get_custom_dir_from_ini(), folder + "/");
    // Read again from the file.
    cfg_set_user_ini_file(m_ini);
    EXPECT_EQ(GFPDB_MGR::get_custom_dir_from_ini(), folder + "/");
    // The same folder in other case is not written again.
    gfpdb_test::fs::remove(m_ini);
    std::string upper = folder;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(GFPDB_MGR::save_custom_dir_to_ini(upper, true));
    EXPECT_FALSE(gfpdb_test::fs::exists(m_ini));
    EXPECT_EQ(stored(), folder + "/");
}

// ---------------------------------------------------------------------------------------------
// Vocabulary and message catalogue

TEST(MgrCatalogue, FilteredWarningShowsNothingButTheErrorTextIsStillGiven) {
    TEST_MGR mgr;
    MESSAGE_RECORDER recorder;
    MSG_INDEX::get_default_index()->set_filtered(20473, true);
    std::string error;
    EXPECT_FALSE(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_NAME, "a b", &error));
    MSG_INDEX::get_default_index()->set_filtered(20473, false);
    EXPECT_EQ(error, "Device name 'a b" + special_suffix);
    EXPECT_TRUE(recorder.posted.empty());
    // Once the filter is lifted the warning shows again.
    EXPECT_FALSE(mgr.is_parameter_valid(GFPDB_FLASH_PARAM_NAME, "a b", &error));
    EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20473});
}

}  // namespace
