// The SD/MMC card record and manager: loading under the two settings, the rules that stop a
// file, the record's answers, the unsupported operations and saving a card.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "h/pgm_common_xml_gfpdb_sdmmc_auto_export.h"
#include "host/host.h"
#include "pgm/gfpdb/gfpdb_sdmmc_flash.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"
#include "support/test_support.h"

namespace {

using namespace gfpdb_test;

// The manager with its maps in view.
class SDMMC_PROBE : public GFPDB_SDMMC_MGR {
public:
    using GFPDB_MGR::m_flash_db_active_dir_map;
    using GFPDB_MGR::m_flash_db_custom_dir_map;
    using GFPDB_MGR::m_flash_db_zorvane_dir_map;
    using GFPDB_MGR::m_flash_map;
    using GFPDB_SDMMC_MGR::create_xml_object_with_flash_list;
};

struct CARD {
    std::string name;
    std::string voltage;
    std::string density;
};

std::string sdmmc_xml(const std::vector<CARD>& cards) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SDMMC_FLASH version=\"1\">\n";
    for (const CARD& card : cards) {
        text += "  <FLASH><DEVICE_INFO><DEVICE_NAME>" + card.name +
                "</DEVICE_NAME><DEVICE_IO_VOLTAGE>" + card.voltage +
                "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>" + card.density +
                "</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n";
    }
    return text + "</SDMMC_FLASH>\n";
}

const std::vector<CARD> golden_cards = {
    {"GOLD_A", "1.8V", "4GB"},
    {"GOLD_B", "1.8V", "16GB"},
};

// 28 and 64 take cards, 64 through the SFL flow and without a voltage; 3 and 50 take none.
const char* const families_csv =
    "family,name,qspi,sdmmc,sdm,flash_io_voltage\n"
    "3,QspiOnly,1,0,0,3.0V/3.3V\n"
    "28,Velmar,0,1,1,1.8V\n"
    "48,Halvern,1,1,1,1.8V\n"
    "50,Neither,0,0,0,\n"
    "64,Istor,0,1,0,\n";

// Takes cards without DEVICE_INFO or without some of its leaves.
const char* const lax_schema = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="SDMMC_FLASH">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="FLASH" minOccurs="0" maxOccurs="unbounded">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="DEVICE_INFO" minOccurs="0">
                <xs:complexType>
                  <xs:all>
                    <xs:element name="DEVICE_NAME" type="xs:string" minOccurs="0"/>
                    <xs:element name="DEVICE_IO_VOLTAGE" type="xs:string" minOccurs="0"/>
                    <xs:element name="DEVICE_DENSITY" type="xs:string" minOccurs="0"/>
                  </xs:all>
                </xs:complexType>
              </xs:element>
            </xs:sequence>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
      <xs:attribute name="version" type="xs:unsignedInt" use="required"/>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

// The report of an internal error of one source with one condition text.
std::string internal_error(const std::string& source, const std::string& condition) {
    return literal("File: " + source + ", Line: ") + "[0-9]+\n" + literal(condition);
}
const char* const mgr_source = "pgm/gfpdb/gfpdb_sdmmc_mgr";
const char* const flash_source = "pgm/gfpdb/gfpdb_sdmmc_flash";

class SDMMC_TEST : public ::testing::Test {
protected:
    void SetUp() override {
        cfg_clear_values();
        write_file(host.xml_dir() + "pgm_flash_db_sdmmc.xml", sdmmc_xml(golden_cards));
        write_file(host.path() + "device/families.csv", families_csv);
        GFPDB_MGR::set_db_custom_dir(custom.path());
    }
    void TearDown() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir("");
    }

    std::vector<std::string> parsing_lines() const {
        std::vector<std::string> lines;
        for (const std::string& line : recorder.debug) {
            if (line.rfind("Parsing XML file in", 0) == 0 || line.rfind("Skip ", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    static std::vector<std::string> names(GFPDB_MGR& mgr) {
        return mgr.get_new_config_device_list(DEV_FAMILY_NONE, PGMIO_CONFIG_SCHEME_NONE, true);
    }

    HOST_DIR host{false};
    TEMP_DIR custom;
    MESSAGE_RECORDER recorder;
};

// ---------------------------------------------------------------------------------------------
// Construction and the manager's fixed answers

TEST_F(SDMMC_TEST, StartsWithItsOwnFamilySchemeAndFlow) {
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(mgr.get_active_device_family(), 48);
    EXPECT_EQ(mgr.get_active_config_mode(), 23);
    EXPECT_TRUE(mgr.get_use_sdm_mode());
    EXPECT_EQ(mgr.get_flash_family(), DEV_FAMILY_SDMMC_FLASH);
    EXPECT_EQ(mgr.get_config_mode_list(),
              (std::vector<PGMIO_CONFIG_SCHEME>{PGMIO_CONFIG_SCHEME_SDMMC_X1,
                                                PGMIO_CONFIG_SCHEME_SDMMC_X4}));
    EXPECT_EQ(mgr.get_device_density_list(),
              (std::vector<std::string>{"1GB", "2GB", "4GB", "8GB", "16GB", "32GB", "64GB", "128GB",
                                        "256GB", "512GB"}));
    EXPECT_EQ(mgr.get_device_io_voltage_list(), std::vector<std::string>{"1.8V"});
}

TEST_F(SDMMC_TEST, HasNoFlowsTemplatesActionsOrLegacyDevices) {
    GFPDB_SDMMC_MGR mgr;
    std::string template_name = "GOLD_A";
    EXPECT_FALSE(mgr.is_flash_action_supported());
    EXPECT_FALSE(mgr.is_flash_operation_supported());
    EXPECT_TRUE(mgr.get_prog_flow_template_list().empty());
    EXPECT_TRUE(mgr.get_user_template_list().empty());
    EXPECT_TRUE(mgr.get_legacy_config_device_list(DEV_FAMILY_SDMMC_DEFAULT,
                                                  PGMIO_CONFIG_SCHEME_SDMMC_X1, true)
                    .empty());
    EXPECT_EQ(mgr.get_prog_flow_template_operation_list(GFPDB_PROG_FLOW_TEMPLATE_MICRON,
                                                        GFPDB_PROG_FLOW_TYPE_SDM),
              nullptr);
    EXPECT_EQ(mgr.get_user_template_operation_list(template_name, GFPDB_PROG_FLOW_TYPE_SDM),
              nullptr);
    GFPDB_FLASH* flash = mgr.get_flash("GOLD_A", true);
    ASSERT_NE(flash, nullptr);
    EXPECT_FALSE(mgr.get_operation_editable_permission(flash));
    EXPECT_TRUE(mgr.update_template_db(flash, custom.path()));
    EXPECT_TRUE(mgr.delete_template("GOLD_A"));
    EXPECT_FALSE(mgr.device_is_legacy("GOLD_A", true));
}

TEST_F(SDMMC_TEST, DeviceListIgnoresFamilySchemeAndFilter) {
    GFPDB_SDMMC_MGR mgr;
    const std::vector<std::string> expected = {"GOLD_A", "GOLD_B"};
    for (DEV_FAMILY_ENUM family :
         {DEV_FAMILY_NONE, DEV_FAMILY_SDMMC_DEFAULT, static_cast<DEV_FAMILY_ENUM>(3)}) {
        for (PGMIO_CONFIG_SCHEME scheme :
             {PGMIO_CONFIG_SCHEME_NONE, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4,
              PGMIO_CONFIG_SCHEME_SDMMC_X4}) {
            for (bool show_all : {false, true}) {
                SCOPED_TRACE(std::to_string(family) + "/" + std::to_string(scheme));
                EXPECT_EQ(mgr.get_new_config_device_list(family, scheme, show_all), expected);
            }
        }
    }
}

TEST_F(SDMMC_TEST, FamiliesAreThoseThatTakeCardsAndVelmarOnlyOnRequest) {
    struct CASE {
        bool velmar_setting;
        bool velmar_takes_cards;
        std::vector<DEV_FAMILY_ENUM> families;
    };
    const DEV_FAMILY_ENUM f28 = DEV_FAMILY_VELMAR, f48 = DEV_FAMILY_SDMMC_DEFAULT,
                          f64 = static_cast<DEV_FAMILY_ENUM>(64);
    const CASE cases[] = {
        {false, true, {f48, f64}},
        {true, true, {f28, f48, f64}},
        {true, false, {f48, f64}},  // the setting does not make a family take cards
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::to_string(c.velmar_setting) + std::to_string(c.velmar_takes_cards));
        std::string table = families_csv;
        if (!c.velmar_takes_cards)
            table.replace(table.find("28,Velmar,0,1"), 13, "28,Velmar,0,0");
        write_file(host.path() + "device/families.csv", table);
        cfg_set_value("pgm_enable_sdmmc_velmar", c.velmar_setting);
        GFPDB_SDMMC_MGR mgr;
        EXPECT_EQ(mgr.get_device_family_list(), c.families);
    }
}

TEST_F(SDMMC_TEST, FamilyRecordsCarryTheirFlowAndVoltage) {
    GFPDB_SDMMC_MGR mgr;
    mgr.set_active_device_family(static_cast<DEV_FAMILY_ENUM>(64));
    EXPECT_FALSE(mgr.get_use_sdm_mode());
    // Family 64 requires no voltage, so no card is compatible or visible without show_all.
    EXPECT_FALSE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", nullptr));
    EXPECT_EQ(mgr.get_flash("GOLD_A", false), nullptr);
    EXPECT_NE(mgr.get_flash("GOLD_A", true), nullptr);
    mgr.set_active_device_family(DEV_FAMILY_SDMMC_DEFAULT);
    EXPECT_TRUE(mgr.get_use_sdm_mode());
    EXPECT_TRUE(mgr.is_parameter_compatible(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", nullptr));
    EXPECT_NE(mgr.get_flash("GOLD_A", false), nullptr);
}

TEST_F(SDMMC_TEST, ValidatesValuesAgainstItsOwnTables) {
    GFPDB_SDMMC_MGR mgr;
    struct CASE {
        GFPDB_FLASH_PARAM param;
        const char* value;
        bool valid;
    };
    const CASE cases[] = {
        {GFPDB_FLASH_PARAM_DENSITY, "512GB", true},
        {GFPDB_FLASH_PARAM_DENSITY, "3GB", false},
        {GFPDB_FLASH_PARAM_DENSITY, "512Mb", false},  // a QSPI density
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V", true},
        {GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.0V/3.3V", false},
        {GFPDB_FLASH_PARAM_NAME, "GOLD_A", false},  // already in the database
        {GFPDB_FLASH_PARAM_NAME, "NEW_CARD", true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(mgr.is_parameter_valid(c.param, c.value, nullptr), c.valid);
    }
}

// ---------------------------------------------------------------------------------------------
// Loading

TEST_F(SDMMC_TEST, WithoutCustomSettingOnlyGoldenCardsAndUserFilesNeverOpened) {
    write_file(host.xml_dir() + "pgm_flash_host.xml", sdmmc_xml({{"HOST_C", "1.8V", "8GB"}}));
    write_file(custom / "pgm_flash_broken.xml", "<SDMMC_FLASH");
    SDMMC_PROBE mgr;
    EXPECT_FALSE(mgr.is_new_device_supported());
    EXPECT_EQ(names(mgr), (std::vector<std::string>{"GOLD_A", "GOLD_B"}));
    EXPECT_TRUE(parsing_lines().empty());
    EXPECT_TRUE(recorder.posted.empty());
    GFPDB_FLASH* gold = mgr.get_flash("GOLD_B", true);
    ASSERT_NE(gold, nullptr);
    EXPECT_FALSE(gold->get_flash_removable_permission());
    EXPECT_EQ(gold->get_db_dir(), host.xml_dir());
    EXPECT_EQ(gold->get_density(), "16GB");
    EXPECT_EQ(gold->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_EQ(mgr.m_flash_db_zorvane_dir_map.at("GOLD_B"),
              host.xml_dir() + "pgm_flash_db_sdmmc.xml");
}

TEST_F(SDMMC_TEST, WithCustomSettingReadsUserFilesOfBothDirectories) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(host.xml_dir() + "pgm_flash_host.xml", sdmmc_xml({{"HOST_C", "1.8V", "8GB"}}));
    write_file(host.xml_dir() + "other.xml", sdmmc_xml({{"IGNORED", "1.8V", "8GB"}}));
    write_file(custom / "pgm_flash_custom.xml", sdmmc_xml({{"CUSTOM_D", "1.8V", "2GB"}}));
    // The golden file's name is skipped only in the host directory.
    write_file(custom / "pgm_flash_db_sdmmc.xml", sdmmc_xml({{"CUSTOM_E", "1.8V", "1GB"}}));
    SDMMC_PROBE mgr;
    EXPECT_TRUE(mgr.is_new_device_supported());
    EXPECT_EQ(names(mgr),
              (std::vector<std::string>{"CUSTOM_D", "CUSTOM_E", "GOLD_A", "GOLD_B", "HOST_C"}));
    EXPECT_EQ(parsing_lines(),
              (std::vector<std::string>{
                  "Parsing XML file in Zorvane directory: " + host.xml_dir() + "pgm_flash_host.xml",
                  "Parsing XML file in custom directory: " + custom / "pgm_flash_custom.xml",
                  "Parsing XML file in custom directory: " + custom / "pgm_flash_db_sdmmc.xml",
              }));
    EXPECT_TRUE(recorder.posted.empty());
    GFPDB_FLASH* user = mgr.get_flash("CUSTOM_D", true);
    ASSERT_NE(user, nullptr);
    EXPECT_TRUE(user->get_flash_removable_permission());
    EXPECT_EQ(user->get_db_dir(), custom.path());
    EXPECT_EQ(mgr.m_flash_db_custom_dir_map.count("CUSTOM_D"), 1u);
    EXPECT_EQ(mgr.m_flash_db_zorvane_dir_map.count("HOST_C"), 1u);
}

TEST_F(SDMMC_TEST, CustomDirectoryEqualToHostIsReadOnce) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(host.xml_dir() + "pgm_flash_host.xml", sdmmc_xml({{"HOST_C", "1.8V", "8GB"}}));
    GFPDB_MGR::set_db_custom_dir(host.xml_dir());
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(parsing_lines(), std::vector<std::string>{"Parsing XML file in Zorvane directory: " +
                                                        host.xml_dir() + "pgm_flash_host.xml"});
    EXPECT_TRUE(recorder.posted.empty());  // a second reading would be a duplicate
    EXPECT_EQ(names(mgr).size(), 3u);
}

TEST_F(SDMMC_TEST, CustomCardReplacesHostCardOfTheSameName) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(custom / "pgm_flash_gold.xml", sdmmc_xml({{"GOLD_A", "1.8V", "64GB"}}));
    SDMMC_PROBE mgr;
    EXPECT_TRUE(recorder.posted.empty());
    GFPDB_FLASH* flash = mgr.get_flash("GOLD_A", true);
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ(flash->get_density(), "64GB");
    EXPECT_TRUE(flash->get_flash_removable_permission());
    EXPECT_EQ(mgr.m_flash_db_active_dir_map.at("GOLD_A"), custom / "pgm_flash_gold.xml");
    // The host map keeps the golden entry.
    EXPECT_EQ(mgr.m_flash_db_zorvane_dir_map.at("GOLD_A"),
              host.xml_dir() + "pgm_flash_db_sdmmc.xml");
}

TEST_F(SDMMC_TEST, InvalidValueStopsItsFileKeepingEarlierCards) {
    struct CASE {
        const char* what;
        CARD bad;
        std::vector<unsigned> warnings;
    };
    const CASE cases[] = {
        {"density", {"BAD", "1.8V", "3GB"}, {GFPDB_INVALID_DEVICE_DENSITY}},
        {"voltage", {"BAD", "3.0V/3.3V", "8GB"}, {GFPDB_INVALID_IO_VOLTAGE}},
        {"both", {"BAD", "3.3V", ""}, {GFPDB_INVALID_IO_VOLTAGE, GFPDB_INVALID_DEVICE_DENSITY}},
    };
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        recorder.clear();
        write_file(custom / "pgm_flash_a.xml",
                   sdmmc_xml({{"FIRST", "1.8V", "1GB"}, c.bad, {"AFTER", "1.8V", "2GB"}}));
        write_file(custom / "pgm_flash_b.xml", sdmmc_xml({{"NEXT_FILE", "1.8V", "2GB"}}));
        GFPDB_SDMMC_MGR mgr;
        EXPECT_EQ(names(mgr), (std::vector<std::string>{"FIRST", "GOLD_A", "GOLD_B", "NEXT_FILE"}));
        EXPECT_EQ(recorder.ids(), c.warnings);
    }
}

TEST_F(SDMMC_TEST, DuplicateNameInOneDirectoryPostsErrorAndDropsTheRest) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    // A host-directory file may not reuse a golden name: both belong to the host directory.
    write_file(host.xml_dir() + "pgm_flash_host.xml", sdmmc_xml({{"HOST_C", "1.8V", "8GB"},
                                                                 {"GOLD_A", "1.8V", "8GB"},
                                                                 {"HOST_AFTER", "1.8V", "8GB"}}));
    write_file(custom / "pgm_flash_1.xml", sdmmc_xml({{"TWICE", "1.8V", "8GB"}}));
    write_file(custom / "pgm_flash_2.xml",
               sdmmc_xml({{"TWICE", "1.8V", "1GB"}, {"CUSTOM_AFTER", "1.8V", "8GB"}}));
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(names(mgr), (std::vector<std::string>{"GOLD_A", "GOLD_B", "HOST_C", "TWICE"}));
    ASSERT_EQ(recorder.posted.size(), 2u);
    for (const auto& posted : recorder.posted) {
        EXPECT_EQ(posted.id, GFPDB_FOUND_DUPLICATED_FLASH_IN_DB);
        EXPECT_EQ(posted.type, MSG_POST_TYPE_ERROR);
    }
    EXPECT_NE(recorder.posted[0].text.find("GOLD_A"), std::string::npos);
    EXPECT_NE(recorder.posted[0].text.find(host.xml_dir()), std::string::npos);
    EXPECT_NE(recorder.posted[1].text.find(custom.path()), std::string::npos);
    // The first definition stays.
    EXPECT_EQ(mgr.get_flash("TWICE", true)->get_density(), "8GB");
    EXPECT_EQ(mgr.get_flash("GOLD_A", true)->get_density(), "4GB");
}

TEST_F(SDMMC_TEST, FileFailingTheSchemaIsSkippedWithItsReason) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(custom / "pgm_flash_1_bad.xml", "<SDMMC_FLASH version=\"1\"><FLASH/></SDMMC_FLASH>");
    write_file(custom / "pgm_flash_2_not_xml.xml", "<SDMMC_FLASH");
    write_file(custom / "pgm_flash_3_good.xml", sdmmc_xml({{"GOOD", "1.8V", "8GB"}}));
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(names(mgr), (std::vector<std::string>{"GOLD_A", "GOLD_B", "GOOD"}));
    std::vector<std::string> skipped;
    for (const std::string& line : parsing_lines()) {
        if (line.rfind("Skip ", 0) == 0)
            skipped.push_back(line);
    }
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].rfind("Skip pgm_flash_1_bad.xml due to parsing error: ", 0), 0u);
    EXPECT_EQ(skipped[1].rfind("Skip pgm_flash_2_not_xml.xml due to parsing error: ", 0), 0u);
    EXPECT_GT(skipped[0].size(),
              std::string("Skip pgm_flash_1_bad.xml due to parsing error: ").size());
    EXPECT_TRUE(recorder.posted.empty());
}

TEST_F(SDMMC_TEST, UserFileWithIncompleteCardNeverStopsTheProgram) {
    // A schema that lets incomplete cards through: the manager's own guard must hold.
    write_file(host.path() + "xsd/gfpdb_sdmmc.xsd", lax_schema);
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(custom / "pgm_flash_1.xml",
               "<SDMMC_FLASH version=\"1\"><FLASH><DEVICE_INFO><DEVICE_NAME>KEPT</DEVICE_NAME>"
               "<DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>1GB</DEVICE_DENSITY>"
               "</DEVICE_INFO></FLASH><FLASH><DEVICE_INFO><DEVICE_NAME>NO_DENSITY</DEVICE_NAME>"
               "<DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE></DEVICE_INFO></FLASH>"
               "<FLASH><DEVICE_INFO><DEVICE_NAME>DROPPED</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V"
               "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>1GB</DEVICE_DENSITY></DEVICE_INFO></FLASH>"
               "</SDMMC_FLASH>");
    write_file(custom / "pgm_flash_2.xml", "<SDMMC_FLASH version=\"1\"><FLASH/></SDMMC_FLASH>");
    write_file(custom / "pgm_flash_3.xml", sdmmc_xml({{"LATER", "1.8V", "8GB"}}));
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(names(mgr), (std::vector<std::string>{"GOLD_A", "GOLD_B", "KEPT", "LATER"}));
    size_t notes = 0;
    for (const std::string& line : recorder.debug) {
        if (line.rfind("Skip the rest of " + custom.path() + "pgm_flash_", 0) == 0)
            ++notes;
    }
    EXPECT_EQ(notes, 2u);
}

TEST_F(SDMMC_TEST, GoldenFileWithoutCardsLoadsNothing) {
    write_file(host.xml_dir() + "pgm_flash_db_sdmmc.xml", sdmmc_xml({}));
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(mgr.get_flash("GOLD_A", true), nullptr);
    EXPECT_DEATH(mgr.get_new_config_device_list(DEV_FAMILY_NONE, PGMIO_CONFIG_SCHEME_NONE, true),
                 internal_error(mgr_source, "!m_flash_map.empty()"));
}

TEST_F(SDMMC_TEST, BrokenGoldenFileStopsTheProgram) {
    const std::string golden = host.xml_dir() + "pgm_flash_db_sdmmc.xml";
    struct CASE {
        const char* what;
        std::string text;  // empty: no golden file
        std::string report;
    };
    const CASE cases[] = {
        {"missing", "", internal_error(mgr_source, golden + " not found.")},
        {"not XML", "<SDMMC_FLASH", literal(golden)},
        {"invalid density", sdmmc_xml({{"G", "1.8V", "3GB"}}),
         internal_error(mgr_source, "status")},
        {"invalid voltage", sdmmc_xml({{"G", "3.3V", "1GB"}}),
         internal_error(mgr_source, "status")},
        {"duplicate", sdmmc_xml({{"G", "1.8V", "1GB"}, {"G", "1.8V", "2GB"}}),
         internal_error(mgr_source, "status")},
        {"no DEVICE_INFO", "<SDMMC_FLASH version=\"1\"><FLASH/></SDMMC_FLASH>",
         internal_error(mgr_source,
                        "flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1")},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(golden);
        if (!c.text.empty())
            write_file(golden, c.text);
        EXPECT_DEATH(GFPDB_SDMMC_MGR(), c.report);
    }
}

// ---------------------------------------------------------------------------------------------
// Unsupported operations and factories

TEST_F(SDMMC_TEST, UnsupportedOperationsAreInternalErrors) {
    GFPDB_SDMMC_MGR mgr;
    EXPECT_DEATH(mgr.get_flash_with_id(0, 0),
                 internal_error(mgr_source, "Unsupported function: get_flash_with_id"));
    EXPECT_DEATH(mgr.create_action(GFPDB_ACT_TYPE_ERASE),
                 internal_error(mgr_source, "Unsupported function: create_action"));
    EXPECT_DEATH(mgr.create_operation(GFPDB_OP_TYPE_PROGRAM),
                 internal_error(mgr_source, "Unsupported function: create_operation"));
}

TEST_F(SDMMC_TEST, NewInstanceLoadsAgain) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    GFPDB_SDMMC_MGR mgr;
    write_file(custom / "pgm_flash_late.xml", sdmmc_xml({{"LATE", "1.8V", "8GB"}}));
    std::unique_ptr<GFPDB_MGR> fresh(mgr.get_new_instance());
    ASSERT_NE(dynamic_cast<GFPDB_SDMMC_MGR*>(fresh.get()), nullptr);
    EXPECT_NE(fresh->get_flash("LATE", true), nullptr);
    EXPECT_EQ(mgr.get_flash("LATE", true), nullptr);
}

TEST_F(SDMMC_TEST, FindsCardByDensity) {
    GFPDB_SDMMC_MGR mgr;
    GFPDB_FLASH* flash = mgr.get_flash_with_density(16ULL << 30);
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ(flash->get_name(), "GOLD_B");
    EXPECT_EQ(mgr.get_flash_with_density(1ULL << 30), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Writing and saving

TEST_F(SDMMC_TEST, WritesOneFlashPerCardWithLeavesNameVoltageDensity) {
    SDMMC_PROBE mgr;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(mgr.create_xml_object_with_flash_list(
        {mgr.m_flash_map.at("GOLD_B"), mgr.m_flash_map.at("GOLD_A")}));
    auto* sdmmc = dynamic_cast<PGM_COMMON_XML_GFPDB_SDMMC_SDMMC_FLASH*>(root.get());
    ASSERT_NE(sdmmc, nullptr);
    EXPECT_EQ(root->get_attribute_text("version"), "1");
    ASSERT_EQ(sdmmc->flash.size(), 2u);
    const char* const expected[2][3] = {{"GOLD_B", "1.8V", "16GB"}, {"GOLD_A", "1.8V", "4GB"}};
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(sdmmc->flash[i]->device_info.size(), 1u);
        const auto& leaves = sdmmc->flash[i]->device_info[0]->get_all_childs();
        ASSERT_EQ(leaves.size(), 3u);
        EXPECT_EQ(leaves[0]->get_type(), PGM_COMMON_XML_ENUM_DEVICE_NAME);
        EXPECT_EQ(leaves[1]->get_type(), PGM_COMMON_XML_ENUM_DEVICE_IO_VOLTAGE);
        EXPECT_EQ(leaves[2]->get_type(), PGM_COMMON_XML_ENUM_DEVICE_DENSITY);
        for (size_t j = 0; j < 3; ++j)
            EXPECT_EQ(leaves[j]->get_value_text(), expected[i][j]);
    }
    EXPECT_DEATH(mgr.create_xml_object_with_flash_list({}),
                 internal_error(mgr_source, "flash_list.size() > 0"));
}

TEST_F(SDMMC_TEST, SavedCardLoadsBackInAFreshManager) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    {
        GFPDB_SDMMC_MGR mgr;
        GFPDB_FLASH* flash = mgr.create_flash("MY_CARD");
        ASSERT_NE(flash, nullptr);
        EXPECT_FALSE(mgr.device_exist_in_db("MY_CARD", true));  // not until it is saved
        flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V");
        flash->set_density("256GB");
        ASSERT_TRUE(mgr.update_db(flash, custom.path()));
        EXPECT_EQ(mgr.get_flash("MY_CARD", true), flash);
    }
    const std::string file = read_file(custom / "pgm_flash_MY_CARD.xml");
    EXPECT_LT(file.find("<DEVICE_NAME>MY_CARD"), file.find("<DEVICE_IO_VOLTAGE>1.8V"));
    EXPECT_LT(file.find("<DEVICE_IO_VOLTAGE>1.8V"), file.find("<DEVICE_DENSITY>256GB"));

    GFPDB_SDMMC_MGR fresh;
    GFPDB_FLASH* loaded = fresh.get_flash("MY_CARD", true);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->get_density(), "256GB");
    EXPECT_EQ(loaded->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_EQ(loaded->get_generic_name(), "SDMMC_256GB");
    EXPECT_TRUE(loaded->get_flash_removable_permission());
    EXPECT_EQ(loaded->get_db_dir(), custom.path());

    ASSERT_TRUE(fresh.delete_db("MY_CARD", custom.path()));
    EXPECT_FALSE(fs::exists(custom / "pgm_flash_MY_CARD.xml"));
    GFPDB_SDMMC_MGR after_delete;
    EXPECT_EQ(after_delete.get_flash("MY_CARD", true), nullptr);
}

TEST_F(SDMMC_TEST, SavedCardIsIgnoredWhileCustomCardsAreOff) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    {
        GFPDB_SDMMC_MGR mgr;
        GFPDB_FLASH* flash = mgr.create_flash("MY_CARD");
        flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V");
        flash->set_density("1GB");
        ASSERT_TRUE(mgr.update_db(flash, custom.path()));
    }
    cfg_set_value("pgm_enable_custom_sdmmc", false);
    GFPDB_SDMMC_MGR fresh;
    EXPECT_EQ(fresh.get_flash("MY_CARD", true), nullptr);
}

TEST_F(SDMMC_TEST, SavingAnInvalidCardIsAnInternalError) {
    GFPDB_SDMMC_MGR mgr;
    GFPDB_FLASH* flash = mgr.create_flash("BAD_CARD");
    flash->set_density("1GB");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.3V");
    EXPECT_DEATH(mgr.update_db(flash, custom.path()),
                 internal_error(mgr_source,
                                "device_io_voltage_is_valid(flash->get_parameter_value(GFPDB_"
                                "FLASH_PARAM_IO_VOLTAGE), &err_msg)"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    flash->set_density("3GB");
    EXPECT_DEATH(
        mgr.update_db(flash, custom.path()),
        internal_error(mgr_source, "device_density_is_valid(flash->get_density(), &err_msg)"));
}

// ---------------------------------------------------------------------------------------------
// The card record

// Counts its destructions, so that ownership of operations shows.
class COUNTED_OPERATION : public GFPDB_OPERATION {
public:
    explicit COUNTED_OPERATION(int* deleted) : m_deleted(deleted) {}
    ~COUNTED_OPERATION() override { ++*m_deleted; }
    const std::vector<GFPDB_ACTION*>* get_action_list() override { return &m_action_list; }
    void clear_action_list() override {}
    void add_action_into_list(GFPDB_ACTION*) override {}

private:
    int* m_deleted;
};

TEST(SDMMC_FLASH, GenericNameFollowsDensity) {
    struct CASE {
        const char* density;
        const char* generic;
    };
    const CASE cases[] = {
        {"16GB", "SDMMC_16GB"}, {"", "SDMMC_0MB"},       {"512GB", "SDMMC_512GB"},
        {"1GB", "SDMMC_1GB"},   {"512Mb", "SDMMC_64MB"},  // below 1 GiB counts megabytes
        {"8Gb", "SDMMC_1GB"},   {"3K", "SDMMC_0MB"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.density);
        GFPDB_SDMMC_FLASH flash("CARD");
        flash.set_density(c.density);
        EXPECT_EQ(flash.get_generic_name(), c.generic);
    }
}

TEST(SDMMC_FLASH, AnswersOnlyVoltageAndOneDie) {
    GFPDB_SDMMC_FLASH flash("CARD");
    EXPECT_EQ(flash.get_family(), DEV_FAMILY_SDMMC_FLASH);
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "");
    flash.set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    uint32_t mask = 77;
    for (int p = GFPDB_FLASH_PARAM_NAME; p <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE; ++p) {
        const auto param = static_cast<GFPDB_FLASH_PARAM>(p);
        SCOPED_TRACE(p);
        EXPECT_EQ(flash.get_parameter_value(param),
                  param == GFPDB_FLASH_PARAM_IO_VOLTAGE ? "1.8V" : "");
        EXPECT_EQ(flash.get_parameter_value_in_dword(param, &mask),
                  param == GFPDB_FLASH_PARAM_TOTAL_DIE ? 1u : 0u);
    }
    EXPECT_EQ(mask, 77u);
    const std::vector<GFPDB_OPERATION*>* list = flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->empty());
}

TEST(SDMMC_FLASH, MisuseIsAnInternalError) {
    GFPDB_SDMMC_FLASH flash("CARD");
    int deleted = 0;
    EXPECT_DEATH(flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL),
                 internal_error(flash_source, "Unknown programming flow type"));
    EXPECT_DEATH(flash.add_operation_into_list(nullptr, GFPDB_PROG_FLOW_TYPE_SDM),
                 internal_error(flash_source, "operation"));
    EXPECT_DEATH(
        flash.add_operation_into_list(new COUNTED_OPERATION(&deleted), GFPDB_PROG_FLOW_TYPE_SFL),
        internal_error(flash_source, "Unknown programming flow type"));
    EXPECT_DEATH(flash.set_operation_list({}, GFPDB_PROG_FLOW_TYPE_SDM),
                 internal_error(flash_source, "!operation_list.empty()"));
    EXPECT_DEATH(
        flash.set_operation_list({new COUNTED_OPERATION(&deleted)}, GFPDB_PROG_FLOW_TYPE_SFL),
        internal_error(flash_source, "Unknown programming flow type"));
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_DENSITY, "1GB"),
                 internal_error(flash_source, "Unknown flash parameter: 3"));
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 1u),
                 internal_error(flash_source, "Unknown flash parameter: 4"));
}

TEST(SDMMC_FLASH, OwnsItsOperations) {
    int deleted = 0;
    {
        GFPDB_SDMMC_FLASH flash("CARD");
        flash.add_operation_into_list(new COUNTED_OPERATION(&deleted), GFPDB_PROG_FLOW_TYPE_SDM);
        flash.set_operation_list({new COUNTED_OPERATION(&deleted), new COUNTED_OPERATION(&deleted)},
                                 GFPDB_PROG_FLOW_TYPE_SDM);
        EXPECT_EQ(deleted, 1);  // the replaced list goes
        EXPECT_EQ(flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM)->size(), 2u);
        flash.clear_operation_list();
        EXPECT_EQ(deleted, 3);
        flash.add_operation_into_list(new COUNTED_OPERATION(&deleted), GFPDB_PROG_FLOW_TYPE_SDM);
    }
    EXPECT_EQ(deleted, 4);
}

TEST(SDMMC_FLASH, CopySharesNothing) {
    GFPDB_SDMMC_FLASH source("CARD");
    source.set_density("8GB");
    source.set_db_dir("/db/");
    source.set_flash_removable_permission(true);
    source.set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    GFPDB_SDMMC_FLASH copy(source);
    GFPDB_SDMMC_FLASH assigned("OTHER");
    int deleted = 0;
    assigned.add_operation_into_list(new COUNTED_OPERATION(&deleted), GFPDB_PROG_FLOW_TYPE_SDM);
    assigned = source;
    EXPECT_EQ(deleted, 1);
    for (GFPDB_SDMMC_FLASH* flash : {&copy, &assigned}) {
        EXPECT_EQ(flash->get_name(), "CARD");
        EXPECT_EQ(flash->get_density(), "8GB");
        EXPECT_EQ(flash->get_db_dir(), "/db/");
        EXPECT_TRUE(flash->get_flash_removable_permission());
        EXPECT_EQ(flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
        EXPECT_TRUE(flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM)->empty());
    }
    // Operations cannot be copied, and sharing them would delete them twice.
    source.add_operation_into_list(new COUNTED_OPERATION(&deleted), GFPDB_PROG_FLOW_TYPE_SDM);
    EXPECT_DEATH(GFPDB_SDMMC_FLASH{source}, internal_error(flash_source, "operation_list.empty()"));
    EXPECT_DEATH(copy = source, internal_error(flash_source, "operation_list.empty()"));
}

}  // namespace
