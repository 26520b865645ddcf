// The manager base through the QSPI manager on the bundled data: the validators with their
// warnings, the family filter of lookups, legacy objects, lookups by ID and density, the
// data-list grammar, densities, directories, the custom folder in the user settings file and
// the message filter.
#include <memory>
#include <string>
#include <vector>

#include "host/cfg.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "support/qspi_fixture.h"

namespace {

using namespace gfpdb_test;

using MgrBase = QSPI_DB_TEST;

// ---------------------------------------------------------------------------------------------
// Validators

const std::string special_suffix =
    "' is invalid as it contains either an empty string or special characters.";
const std::string reserved_suffix =
    "' is invalid as it conflicts with the reserved name for the programming flow template.";
const std::string existing_suffix = "' is invalid as it already exist in the device database.";

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
        {"GF25M128L", 20475, &existing_suffix},  // every voltage counts, not only the family's
        {"SQD32", 20475, &existing_suffix},      // and so do the built-in names
    };
    write_custom_file("pgm_flash_a.xml", device_xml("bad-used") + device_xml("Micron"));
    auto mgr = load();
    ASSERT_TRUE(mgr->device_exist_in_db("bad-used", true));
    ASSERT_TRUE(mgr->device_exist_in_db("Micron", true));
    for (const CASE& c : cases)
        expect_verdict(*mgr, GFPDB_FLASH_PARAM_NAME, c.name, c.warning,
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
        {GFPDB_FLASH_PARAM_DENSITY, "300Mb", 20478, "Device density '300Mb' is invalid."},
        {GFPDB_FLASH_PARAM_DENSITY, "512mb", 20478, "Device density '512mb' is invalid."},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", 0, ""},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", 0, ""},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "", 20476, "Device I/O voltage '' is invalid."},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.3V", 20476, "Device I/O voltage '3.3V' is invalid."},
    };
    auto mgr = load();
    for (const CASE& c : cases)
        expect_verdict(*mgr, c.param, c.value, c.warning, c.text);
}

TEST_F(MgrBase, FamilyGivesItsSdmFlagAndTheOnlyCompatibleVoltage) {
    const std::string suffix = "' is incompatible with the selected FPGA device family.";
    auto mgr = load();
    mgr->set_active_device_family(DEV_FAMILY_ENUM(7));  // 3.0V/3.3V, the SFL flow
    MESSAGE_RECORDER recorder;
    std::string error = "untouched";
    EXPECT_TRUE(mgr->is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", &error));
    EXPECT_EQ(error, "untouched");
    // A valid voltage of another family and an invalid one get the same warning.
    for (const char* voltage : {"1.8V", "5V", ""}) {
        SCOPED_TRACE(voltage);
        recorder.clear();
        EXPECT_FALSE(mgr->is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage, &error));
        EXPECT_EQ(error, "Flash device I/O voltage '" + std::string(voltage) + suffix);
        EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20535});
        recorder.clear();
        EXPECT_FALSE(mgr->is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage, nullptr));
        EXPECT_TRUE(recorder.posted.empty());
    }
    EXPECT_FALSE(mgr->get_use_sdm_mode());
    mgr->set_active_device_family(DEV_FAMILY_ENUM(24));  // 1.8V, the SDM flow
    EXPECT_EQ(mgr->get_active_device_family(), DEV_FAMILY_ENUM(24));
    EXPECT_TRUE(mgr->get_use_sdm_mode());
    EXPECT_TRUE(mgr->is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", nullptr));
    // A family the manager does not serve is added without a voltage and the SDM flow, so no
    // voltage is compatible.
    mgr->set_active_device_family(DEV_FAMILY_ENUM(50));
    EXPECT_FALSE(mgr->get_use_sdm_mode());
    for (const char* voltage : {"1.8V", "3.0V/3.3V"})
        EXPECT_FALSE(mgr->is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, voltage, nullptr));
}

// The base's own dispatch, which the QSPI manager extends.
TEST_F(MgrBase, BaseDispatchKnowsOnlyNameVoltageAndDensity) {
    auto mgr = load();
    for (int p = 0; p <= 9; ++p) {
        const bool known = p == GFPDB_FLASH_PARAM_NAME || p == GFPDB_FLASH_PARAM_IO_VOLTAGE ||
                           p == GFPDB_FLASH_PARAM_DENSITY;
        EXPECT_EQ(mgr->GFPDB_MGR::is_parameter_valid(static_cast<GFPDB_FLASH_PARAM>(p)), known)
            << p;
    }
    std::string error;
    EXPECT_DEATH(mgr->GFPDB_MGR::is_parameter_valid(GFPDB_FLASH_PARAM_TOTAL_DIE, 1u, &error),
                 literal("Unknown flash parameter: 4"));
    EXPECT_DEATH(
        mgr->GFPDB_MGR::is_parameter_valid(GFPDB_FLASH_PARAM_ID, std::string("0x01"), &error),
        literal("Unknown flash parameter: 1"));
    EXPECT_DEATH(mgr->is_parameter_compatible(GFPDB_FLASH_PARAM_DENSITY, "1Mb", &error),
                 literal("Unknown flash parameter: 3"));
}

// ---------------------------------------------------------------------------------------------
// Lookups

TEST_F(MgrBase, LookupsFilterByTheActiveFamilysVoltageUnlessAskedForAll) {
    auto mgr = load();  // 1.8V
    EXPECT_TRUE(mgr->device_exist_in_db("GF25M256U", false));
    EXPECT_FALSE(mgr->device_exist_in_db("GF25M128L", false));
    EXPECT_TRUE(mgr->device_exist_in_db("GF25M128L", true));
    EXPECT_FALSE(mgr->device_exist_in_db("NONE", true));
    EXPECT_FALSE(mgr->device_exist_in_db("", true));

    GFPDB_FLASH* same = mgr->get_flash("GF25M256U", false);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(mgr->m_flash, same);
    EXPECT_EQ(mgr->get_flash("GF25M128L", false), nullptr);
    EXPECT_EQ(mgr->m_flash, nullptr);
    GFPDB_FLASH* other = mgr->get_flash("GF25M128L", true);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(mgr->m_flash, other);
    EXPECT_EQ(mgr->get_flash("NONE", true), nullptr);
    EXPECT_EQ(mgr->m_flash, nullptr);

    mgr->set_active_device_family(DEV_FAMILY_ENUM(7));
    EXPECT_EQ(mgr->get_flash("GF25M128L", false), other);
    EXPECT_EQ(mgr->get_flash("GF25M256U", false), nullptr);
}

TEST_F(MgrBase, SkipFilteringSettingIsReadWhenTheManagerIsBuilt) {
    cfg_set_value("pgm_gfpdb_skip_device_filtering", true);
    auto skipping = load();
    cfg_set_value("pgm_gfpdb_skip_device_filtering", false);
    auto filtering = load();
    EXPECT_TRUE(skipping->device_exist_in_db("GF25M128L", false));
    EXPECT_NE(skipping->get_flash("GF25M128L", false), nullptr);
    EXPECT_FALSE(filtering->device_exist_in_db("GF25M128L", false));
    // The lists of the editor show every device, built-in names too.
    EXPECT_EQ(
        skipping->get_legacy_config_device_list(DEV_FAMILY_ENUM(7), PGMIO_CONFIG_SCHEME_NONE, false)
            .size(),
        8u);
    EXPECT_EQ(
        skipping->get_new_config_device_list(DEV_FAMILY_ENUM(7), PGMIO_CONFIG_SCHEME_NONE, false)
            .size(),
        14u);
    // A later change of the setting does not reach a manager already built.
    cfg_set_value("pgm_gfpdb_skip_device_filtering", true);
    EXPECT_FALSE(filtering->device_exist_in_db("GF25M128L", false));
}

// A legacy name gets an object of its own that the next lookup frees (the leak checker of the
// sanitizer and valgrind runs sees one that is not).
TEST_F(MgrBase, LegacyDeviceLivesUntilTheNextLookup) {
    auto mgr = load();  // 1.8V
    EXPECT_TRUE(mgr->device_is_legacy("SQD256U", false));
    EXPECT_FALSE(mgr->device_is_legacy("SQD32", false));
    for (const char* name : {"sqd32", "SQD3", ""})  // recognised exactly
        EXPECT_FALSE(mgr->device_is_legacy(name, true)) << name;
    EXPECT_TRUE(mgr->device_exist_in_db("SQD256U", false));
    GFPDB_FLASH* first = mgr->get_flash("SQD256U", false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->get_name(), "SQD256U");
    EXPECT_EQ(mgr->m_flash_map.count("SQD256U"), 0u);
    GFPDB_FLASH* second = mgr->get_flash("KVRN16", true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->get_name(), "KVRN16");
    EXPECT_EQ(mgr->m_flash, second);
    mgr->get_flash_with_id(0, 0);
    mgr->get_flash("SQD32", true);
    EXPECT_EQ(mgr->get_flash_with_density(1), nullptr);  // a miss forgets the current record
    EXPECT_EQ(mgr->m_flash, nullptr);
}

// IDs are compared under the mask, the first byte lowest, across every family, in name order.
TEST_F(MgrBase, LookupsByIdAndDensityTakeTheFirstMatchInNameOrder) {
    struct CASE {
        uint32_t id, mask;
        uint64_t bytes;     // 0: a lookup by ID
        const char* found;  // null: none
    };
    const CASE cases[] = {
        {0x18BA20, 0xFFFFFF, 0, "GF25M128L"},
        {0x000020, 0x0000FF, 0, "GF25M01GU"},
        {0x0000EF, 0x0000FF, 0, "GF25W016L"},
        {0xFFFFFF, 0x000000, 0, "GF25M01GU"},  // mask 0 matches every record
        {0x18BB20, 0xFFFFFF, 0, nullptr},
        {0, 0, 16777216, "GF25M128L"},  // 128Mb
        {0, 0, 67108864, "GF25M512U"},  // 512Mb
        {0, 0, 1, nullptr},
    };
    auto mgr = load();
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " " << c.bytes);
        GFPDB_FLASH* flash =
            c.bytes ? mgr->get_flash_with_density(c.bytes) : mgr->get_flash_with_id(c.id, c.mask);
        EXPECT_EQ(mgr->m_flash, flash);
        EXPECT_EQ(flash ? flash->get_name() : "", c.found ? c.found : "");
    }
}

// ---------------------------------------------------------------------------------------------
// Data lists and densities

TEST(MgrBaseData, DataListGrammar) {
    struct CASE {
        const char* text;
        bool ok;
        std::vector<unsigned char> bytes;
    };
    const CASE cases[] = {
        {"0x9F 0x20 0x18", true, {159, 32, 24}},
        {"0x9F 20", true, {159, 20}},
        {"  0x9F   0x20  ", true, {159, 32}},  // doubled, leading and trailing spaces
        {"255 0xff 0", true, {255, 255, 0}},
        {"010", true, {10}},  // a leading zero is still decimal
        {"0xA 0xbC", true, {10, 188}},
        {"256", false, {}},
        {"0x100", false, {}},
        {"0x", false, {}},
        {"1 0x", false, {}},
        {"0X10", false, {}},  // upper-case X goes to the decimal conversion and fails there
        {"0x1g", false, {}},
        {"1\t2", false, {}},  // tabs and commas do not separate
        {"1,2", false, {}},
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
        uint32_t counted = 99;
        EXPECT_EQ(GFPDB_MGR::data_list_is_valid(c.text, &counted), c.ok);
        EXPECT_EQ(counted, c.bytes.size());
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

TEST(MgrBaseData, EmptyDataListStopsTheProgram) {
    EXPECT_DEATH(GFPDB_MGR::convert_data_list_string_to_byte_array("", nullptr, nullptr),
                 literal("!data_string.empty()"));
}

TEST(MgrBaseData, DensityInBytes) {
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
        GFPDB_QSPI_FLASH flash("F");
        flash.set_density(c.density);
        EXPECT_EQ(flash.get_density_in_bytes_qword(), c.bytes);
        EXPECT_EQ(flash.get_density_in_bytes(), static_cast<uint32_t>(c.bytes));
    }
}

// ---------------------------------------------------------------------------------------------
// Actions

TEST(MgrBaseAction, JicReferenceIsEitherCaseNeverMixed) {
    struct CASE {
        const char* value;
        bool jic;
    };
    const CASE cases[] = {{"a.jic", true},          {"A.JIC", true},  {"jic", true},
                          {"from .jic file", true}, {"a.Jic", false}, {"", false}};
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_CUSTOM);
    for (const CASE& c : cases)
        EXPECT_EQ(action.property_value_is_jic_file(c.value), c.jic) << c.value;
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
    EXPECT_EQ(GFPDB_MGR::get_db_zorvane_dir(), m_host.xml_dir());
}

class MgrBaseSettings : public MgrBase {
protected:
    void SetUp() override {
        QSPI_DB_TEST::SetUp();
        m_previous_ini = cfg_get_user_ini_file();
        cfg_set_user_ini_file(m_ini);
    }
    void TearDown() override {
        cfg_set_user_ini_file(m_previous_ini);
        QSPI_DB_TEST::TearDown();
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
    EXPECT_FALSE(fs::exists(m_ini));
    EXPECT_TRUE(GFPDB_MGR::save_custom_dir_to_ini(missing, true));
    EXPECT_EQ(stored(), missing + "/");
}

TEST_F(MgrBaseSettings, CustomFolderRoundTripsWithATrailingSlash) {
    EXPECT_EQ(GFPDB_MGR::get_custom_dir_from_ini(), "./");  // nothing stored: the working folder
    EXPECT_EQ(stored(), "./");
    const std::string folder = m_dir / "db";
    fs::create_directories(folder);
    ASSERT_TRUE(GFPDB_MGR::save_custom_dir_to_ini(folder, false));
    EXPECT_EQ(stored(), folder + "/");
    EXPECT_NE(read_file(m_ini).find(folder + "/"), std::string::npos);
    EXPECT_EQ(GFPDB_MGR::get_custom_dir_from_ini(), folder + "/");
    // Read again from the file.
    cfg_set_user_ini_file(m_ini);
    EXPECT_EQ(GFPDB_MGR::get_custom_dir_from_ini(), folder + "/");
    // The same folder in other case is not written again.
    fs::remove(m_ini);
    std::string upper = folder;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(GFPDB_MGR::save_custom_dir_to_ini(upper, true));
    EXPECT_FALSE(fs::exists(m_ini));
    EXPECT_EQ(stored(), folder + "/");
}

// ---------------------------------------------------------------------------------------------
// Message catalogue

TEST_F(MgrBase, FilteredWarningShowsNothingButTheErrorTextIsStillGiven) {
    auto mgr = load();
    MESSAGE_RECORDER recorder;
    MSG_INDEX::get_default_index()->set_filtered(20473, true);
    std::string error;
    EXPECT_FALSE(mgr->is_parameter_valid(GFPDB_FLASH_PARAM_NAME, "a b", &error));
    MSG_INDEX::get_default_index()->set_filtered(20473, false);
    EXPECT_EQ(error, "Device name 'a b" + special_suffix);
    EXPECT_TRUE(recorder.posted.empty());
    // Once the filter is lifted the warning shows again.
    EXPECT_FALSE(mgr->is_parameter_valid(GFPDB_FLASH_PARAM_NAME, "a b", &error));
    EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20473});
}

}  // namespace
