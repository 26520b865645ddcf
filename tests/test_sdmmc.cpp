// The SD/MMC card record and manager: loading under the settings, the rules that stop a file,
// the unsupported operations and saving a card.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "pgm/gfpdb/gfpdb_sdmmc_flash.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"
#include "support/test_support.h"

namespace {

using namespace gfpdb_test;
using NAMES = std::vector<std::string>;

struct CARD {
    std::string name, voltage, density;
};

std::string sdmmc_xml(const std::vector<CARD>& cards) {
    std::string text = "<SDMMC_FLASH version=\"1\">\n";
    for (const CARD& c : cards) {
        text += "<FLASH><DEVICE_INFO><DEVICE_NAME>" + c.name + "</DEVICE_NAME><DEVICE_IO_VOLTAGE>" +
                c.voltage + "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>" + c.density +
                "</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n";
    }
    return text + "</SDMMC_FLASH>\n";
}

// 28, 48 and 64 take cards; 3 does not.
const char* const families_csv =
    "family,name,qspi,sdmmc,sdm,flash_io_voltage\n3,QspiOnly,1,0,0,3.0V/3.3V\n"
    "28,Velmar,0,1,1,1.8V\n48,Halvern,1,1,1,1.8V\n64,Istor,0,1,0,1.8V\n";

// Lets cards without DEVICE_INFO or without a leaf through, as a careless schema would.
const char* const lax_schema = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
<xs:element name="SDMMC_FLASH"><xs:complexType><xs:sequence>
<xs:element name="FLASH" minOccurs="0" maxOccurs="unbounded"><xs:complexType><xs:sequence>
<xs:element name="DEVICE_INFO" minOccurs="0"><xs:complexType><xs:all>
<xs:element name="DEVICE_NAME" minOccurs="0"/><xs:element name="DEVICE_IO_VOLTAGE" minOccurs="0"/>
<xs:element name="DEVICE_DENSITY" minOccurs="0"/>
</xs:all></xs:complexType></xs:element></xs:sequence></xs:complexType></xs:element>
</xs:sequence><xs:attribute name="version" use="required"/></xs:complexType></xs:element>
</xs:schema>)";

std::string internal_error(const std::string& source, const std::string& condition) {
    return literal("File: " + source + ", Line: ") + "[0-9]+\n" + literal(condition);
}
const char* const mgr_source = "pgm/gfpdb/gfpdb_sdmmc_mgr";

class SDMMC_TEST : public ::testing::Test {
protected:
    void SetUp() override {
        cfg_clear_values();
        write_file(golden, sdmmc_xml({{"GOLD_A", "1.8V", "4GB"}, {"GOLD_B", "1.8V", "16GB"}}));
        write_file(host.path() + "device/families.csv", families_csv);
        GFPDB_MGR::set_db_custom_dir(custom.path());
    }
    void TearDown() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir("");
    }
    // The loader's lines about user files.
    NAMES file_lines() const {
        NAMES lines;
        for (const std::string& line : recorder.debug) {
            if (line.rfind("Parsing XML file in", 0) == 0 || line.rfind("Skip ", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }
    static NAMES names(GFPDB_MGR& mgr) {
        return mgr.get_new_config_device_list(DEV_FAMILY_NONE, PGMIO_CONFIG_SCHEME_NONE, true);
    }

    HOST_DIR host{false};
    TEMP_DIR custom;
    MESSAGE_RECORDER recorder;
    const std::string golden = host.xml_dir() + "pgm_flash_db_sdmmc.xml";
};

TEST_F(SDMMC_TEST, StartsOnItsOwnFamilyAndListsEveryCardForAnyQuestion) {
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(mgr.get_active_device_family(), 48);
    EXPECT_EQ(mgr.get_active_config_mode(), 23);
    EXPECT_TRUE(mgr.get_use_sdm_mode());
    for (int family : {0, 3, 48})
        for (int scheme : {0, 13, 24})
            for (bool show_all : {false, true})
                EXPECT_EQ(mgr.get_new_config_device_list(static_cast<DEV_FAMILY_ENUM>(family),
                                                         static_cast<PGMIO_CONFIG_SCHEME>(scheme),
                                                         show_all),
                          (NAMES{"GOLD_A", "GOLD_B"}));
}

TEST_F(SDMMC_TEST, FamiliesTakeCardsAndVelmarOnlyOnRequest) {
    const std::vector<DEV_FAMILY_ENUM> without = {DEV_FAMILY_SDMMC_DEFAULT,
                                                  static_cast<DEV_FAMILY_ENUM>(64)};
    EXPECT_EQ(GFPDB_SDMMC_MGR().get_device_family_list(), without);
    cfg_set_value("pgm_enable_sdmmc_velmar", true);
    EXPECT_EQ(GFPDB_SDMMC_MGR().get_device_family_list().front(), DEV_FAMILY_VELMAR);
    // The setting does not make a family take cards.
    std::string table = families_csv;
    table.replace(table.find("28,Velmar,0,1"), 13, "28,Velmar,0,0");
    write_file(host.path() + "device/families.csv", table);
    EXPECT_EQ(GFPDB_SDMMC_MGR().get_device_family_list(), without);
}

TEST_F(SDMMC_TEST, WithoutCustomSettingUserFilesAreNeverOpened) {
    write_file(host.xml_dir() + "pgm_flash_host.xml", sdmmc_xml({{"HOST_C", "1.8V", "8GB"}}));
    write_file(custom / "pgm_flash_broken.xml", "<SDMMC_FLASH");
    GFPDB_SDMMC_MGR mgr;
    EXPECT_FALSE(mgr.is_new_device_supported());
    EXPECT_EQ(names(mgr), (NAMES{"GOLD_A", "GOLD_B"}));
    EXPECT_TRUE(file_lines().empty());
    EXPECT_FALSE(mgr.get_flash("GOLD_B", true)->get_flash_removable_permission());
}

TEST_F(SDMMC_TEST, WithCustomSettingReadsBothDirectories) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(host.xml_dir() + "pgm_flash_host.xml", sdmmc_xml({{"HOST_C", "1.8V", "8GB"}}));
    write_file(custom / "pgm_flash_bad.xml", "<SDMMC_FLASH version=\"1\"><FLASH/></SDMMC_FLASH>");
    // Only the host directory skips the golden file's name; a custom card replaces a golden one.
    write_file(custom / "pgm_flash_db_sdmmc.xml", sdmmc_xml({{"GOLD_A", "1.8V", "1GB"}}));
    GFPDB_SDMMC_MGR mgr;
    EXPECT_TRUE(mgr.is_new_device_supported());
    EXPECT_EQ(names(mgr), (NAMES{"GOLD_A", "GOLD_B", "HOST_C"}));
    const NAMES lines = file_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "Parsing XML file in Zorvane directory: " + host.xml_dir() + "pgm_flash_host.xml");
    EXPECT_EQ(lines[1], "Parsing XML file in custom directory: " + custom / "pgm_flash_bad.xml");
    EXPECT_EQ(lines[2].rfind("Skip pgm_flash_bad.xml due to parsing error: ", 0), 0u);
    EXPECT_EQ(lines[3],
              "Parsing XML file in custom directory: " + custom / "pgm_flash_db_sdmmc.xml");
    GFPDB_FLASH* replaced = mgr.get_flash("GOLD_A", true);
    EXPECT_EQ(replaced->get_density(), "1GB");
    EXPECT_TRUE(replaced->get_flash_removable_permission());
    EXPECT_EQ(replaced->get_db_dir(), custom.path());
    EXPECT_TRUE(recorder.posted.empty());
}

TEST_F(SDMMC_TEST, InvalidValueStopsItsFileKeepingEarlierCards) {
    struct CASE {
        CARD bad;
        std::vector<unsigned> warnings;
    };
    const CASE cases[] = {
        {{"BAD", "1.8V", "3GB"}, {GFPDB_INVALID_DEVICE_DENSITY}},
        {{"BAD", "3.0V/3.3V", "8GB"}, {GFPDB_INVALID_IO_VOLTAGE}},
        {{"BAD", "3.3V", ""}, {GFPDB_INVALID_IO_VOLTAGE, GFPDB_INVALID_DEVICE_DENSITY}},
    };
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    write_file(custom / "pgm_flash_b.xml", sdmmc_xml({{"NEXT_FILE", "1.8V", "2GB"}}));
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.bad.voltage + c.bad.density);
        recorder.clear();
        write_file(custom / "pgm_flash_a.xml",
                   sdmmc_xml({{"FIRST", "1.8V", "1GB"}, c.bad, {"AFTER", "1.8V", "2GB"}}));
        GFPDB_SDMMC_MGR mgr;
        EXPECT_EQ(names(mgr), (NAMES{"FIRST", "GOLD_A", "GOLD_B", "NEXT_FILE"}));
        EXPECT_EQ(recorder.ids(), c.warnings);
    }
}

TEST_F(SDMMC_TEST, IncompleteUserCardNeverStopsTheProgram) {
    write_file(host.path() + "xsd/gfpdb_sdmmc.xsd", lax_schema);
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    std::string no_density = sdmmc_xml(
        {{"KEPT", "1.8V", "1GB"}, {"NO_DENSITY", "1.8V", "1GB"}, {"DROPPED", "1.8V", "1GB"}});
    const size_t at = no_density.find("<DEVICE_DENSITY>", no_density.find("NO_DENSITY"));
    no_density.erase(at, std::string("<DEVICE_DENSITY>1GB</DEVICE_DENSITY>").size());
    write_file(custom / "pgm_flash_1.xml", no_density);
    write_file(custom / "pgm_flash_2.xml", "<SDMMC_FLASH version=\"1\"><FLASH/></SDMMC_FLASH>");
    write_file(custom / "pgm_flash_3.xml", sdmmc_xml({{"LATER", "1.8V", "8GB"}}));
    GFPDB_SDMMC_MGR mgr;
    EXPECT_EQ(names(mgr), (NAMES{"GOLD_A", "GOLD_B", "KEPT", "LATER"}));
    int notes = 0;
    for (const std::string& line : recorder.debug)
        notes += line.rfind("Skip the rest of " + custom.path() + "pgm_flash_", 0) == 0;
    EXPECT_EQ(notes, 2);
}

TEST_F(SDMMC_TEST, BrokenGoldenFileStopsTheProgram) {
    const std::pair<std::string, std::string> cases[] = {
        {"", internal_error(mgr_source, golden + " not found.")},
        {"<SDMMC_FLASH", literal(golden)},
        {sdmmc_xml({{"G", "1.8V", "3GB"}}), internal_error(mgr_source, "status")},
        {sdmmc_xml({{"G", "1.8V", "1GB"}, {"G", "1.8V", "2GB"}}),
         internal_error(mgr_source, "status")},
        {"<SDMMC_FLASH version=\"1\"><FLASH/></SDMMC_FLASH>",
         internal_error(mgr_source,
                        "flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1")},
    };
    for (const auto& [text, report] : cases) {
        SCOPED_TRACE(text);
        fs::remove(golden);
        if (!text.empty())
            write_file(golden, text);
        EXPECT_DEATH(GFPDB_SDMMC_MGR(), report);
    }
}

TEST_F(SDMMC_TEST, UnsupportedOperationsAreInternalErrors) {
    GFPDB_SDMMC_MGR mgr;
    EXPECT_DEATH(mgr.get_flash_with_id(0, 0),
                 internal_error(mgr_source, "Unsupported function: get_flash_with_id"));
    EXPECT_DEATH(mgr.create_action(GFPDB_ACT_TYPE_ERASE),
                 internal_error(mgr_source, "Unsupported function: create_action"));
    EXPECT_DEATH(mgr.create_operation(GFPDB_OP_TYPE_PROGRAM),
                 internal_error(mgr_source, "Unsupported function: create_operation"));
}

TEST_F(SDMMC_TEST, SavedCardLoadsBackInAFreshManager) {
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    {
        GFPDB_SDMMC_MGR mgr;
        GFPDB_FLASH* flash = mgr.create_flash("MY_CARD");
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
    EXPECT_EQ(loaded->get_generic_name(), "SDMMC_256GB");
    EXPECT_EQ(loaded->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_TRUE(loaded->get_flash_removable_permission());
    ASSERT_TRUE(fresh.delete_db("MY_CARD", custom.path()));
    EXPECT_FALSE(GFPDB_SDMMC_MGR().device_exist_in_db("MY_CARD", true));
}

TEST_F(SDMMC_TEST, SavingAnInvalidCardIsAnInternalError) {
    GFPDB_SDMMC_MGR mgr;  // owns the unsaved record it made
    GFPDB_FLASH* flash = mgr.create_flash("BAD_CARD");
    flash->set_density("1GB");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "3.3V");
    EXPECT_DEATH(mgr.update_db(flash, custom.path()),
                 internal_error(mgr_source,
                                "device_io_voltage_is_valid(flash->get_parameter_value("
                                "GFPDB_FLASH_PARAM_IO_VOLTAGE), &err_msg)"));
}

TEST(SDMMC_FLASH, GenericNameAndNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"16GB", "SDMMC_16GB"}, {"", "SDMMC_0MB"},       {"512GB", "SDMMC_512GB"},
        {"1GB", "SDMMC_1GB"},   {"512Mb", "SDMMC_64MB"},  // below 1 GiB counts megabytes
    };
    for (const auto& [density, generic] : cases) {
        GFPDB_SDMMC_FLASH flash("CARD");
        flash.set_density(density);
        EXPECT_EQ(flash.get_generic_name(), generic);
        EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE), 1u);
        EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_ID), 0u);
        EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_ID), "");
    }
}

// No SD/MMC operation class exists to copy with; sharing would delete operations twice.
class NO_ACTIONS : public GFPDB_OPERATION {
public:
    const std::vector<GFPDB_ACTION*>* get_action_list() override { return &m_action_list; }
    void clear_action_list() override {}
    void add_action_into_list(GFPDB_ACTION*) override {}
};

TEST(SDMMC_FLASH, CopiesOnlyWithoutOperations) {
    GFPDB_SDMMC_FLASH source("CARD");
    source.set_density("8GB");
    source.set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, "1.8V");
    GFPDB_SDMMC_FLASH assigned("OTHER");
    assigned.add_operation_into_list(new NO_ACTIONS, GFPDB_PROG_FLOW_TYPE_SDM);
    assigned = source;  // drops its own operation
    for (GFPDB_SDMMC_FLASH copy : {source, assigned}) {
        EXPECT_EQ(copy.get_name() + copy.get_density(), "CARD8GB");
        EXPECT_EQ(copy.get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
        EXPECT_TRUE(copy.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM)->empty());
    }
    source.add_operation_into_list(new NO_ACTIONS, GFPDB_PROG_FLOW_TYPE_SDM);
    const std::string report =
        internal_error("pgm/gfpdb/gfpdb_sdmmc_flash", "operation_list.empty()");
    EXPECT_DEATH(GFPDB_SDMMC_FLASH{source}, report);
    EXPECT_DEATH(assigned = source, report);
}

}  // namespace
