// The manager registry: managers under the settings, lookups by family, scheme and name,
// reloads and the order they leave, the active flash family, legacy names, the empty registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "pgm/gfpdb/gfpdb_helper.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"
#include "support/test_support.h"

namespace {

using namespace gfpdb_test;
using HELPER = GFPDB_HELPER;

std::string card(const std::string& name) {
    return "<FLASH><DEVICE_INFO><DEVICE_NAME>" + name +
           "</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE>"
           "<DEVICE_DENSITY>4GB</DEVICE_DENSITY></DEVICE_INFO></FLASH>";
}

const DEV_FAMILY_ENUM qspi = DEV_FAMILY_QSPI_FLASH;
const DEV_FAMILY_ENUM sdmmc = DEV_FAMILY_SDMMC_FLASH;
const char* const qspi_device = "GF25M064L";  // of the bundled QSPI golden file

bool is_qspi(const GFPDB_MGR* mgr) {
    return dynamic_cast<const GFPDB_QSPI_MGR*>(mgr) != nullptr;
}
bool is_sdmmc(const GFPDB_MGR* mgr) {
    return dynamic_cast<const GFPDB_SDMMC_MGR*>(mgr) != nullptr;
}
const std::vector<GFPDB_MGR*>& managers() {
    return HELPER::get_helper()->get_manager_list();
}

// KVRN16 is a legacy QSPI device of the host and also a card of the SD/MMC golden file.
void write_host_tables(const HOST_DIR& host) {
    write_file(host.xml_dir() + "pgm_flash_db_sdmmc.xml",
               "<SDMMC_FLASH version=\"1\">" + card("GOLD_A") + card("KVRN16") + "</SDMMC_FLASH>");
    write_file(host.path() + "device/families.csv",
               "family,name,qspi,sdmmc,sdm,flash_io_voltage\n3,QspiOnly,1,0,0,3.0V/3.3V\n"
               "48,Both,1,1,1,1.8V\n64,CardsOnly,0,1,0,1.8V\n");
    write_file(host.path() + "device/flash_list.csv",
               "name,supported,io_voltage\nKVRN16,1,3.0V/3.3V\n");
}

class HELPER_TEST : public ::testing::Test {
protected:
    void SetUp() override {
        cfg_clear_values();
        write_host_tables(host);
        GFPDB_MGR::set_db_custom_dir(custom.path());
        HELPER::refresh_flash_managers();
        HELPER::set_active_flash_family(qspi);
    }
    void TearDown() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir("");
    }
    static void enable_sdmmc() {
        cfg_set_value("pgm_enable_sdmmc", true);
        HELPER::refresh_flash_managers();
    }

    HOST_DIR host;
    TEMP_DIR custom;
    MESSAGE_RECORDER recorder;
};

// A fresh process, so that nothing has chosen a family yet.
TEST(HELPER_START, QspiManagerIsActiveBeforeAnyChoice) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto qspi_is_active = [] {
        HOST_DIR host;
        write_host_tables(host);
        cfg_set_value("pgm_enable_sdmmc", true);
        return HELPER::get_active_flash_family() == qspi &&
               is_qspi(HELPER::get_active_flash_manager(false));
    };
    EXPECT_EXIT(std::exit(qspi_is_active() ? 0 : 1), ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

TEST_F(HELPER_TEST, WithoutSdmmcSettingOnlyQspiIsServed) {
    ASSERT_EQ(managers().size(), 1u);
    EXPECT_TRUE(is_qspi(managers()[0]));
    EXPECT_FALSE(HELPER::is_supported_family(sdmmc));
    EXPECT_FALSE(HELPER::set_active_flash_family(sdmmc));
    EXPECT_FALSE(HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME_SDMMC_X4));
    EXPECT_EQ(HELPER::get_active_flash_family(), qspi);
    EXPECT_FALSE(HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME_SDMMC_X1));
    EXPECT_FALSE(HELPER::is_gfpdb_flash("GOLD_A", true, false));
    EXPECT_FALSE(HELPER::is_gfpdb_flash(qspi_device, sdmmc, true, false));  // no manager
    // The setting takes effect at the next refresh.
    cfg_set_value("pgm_enable_sdmmc", true);
    EXPECT_EQ(managers().size(), 1u);
    HELPER::refresh_flash_managers();
    ASSERT_EQ(managers().size(), 2u);
    EXPECT_TRUE(is_qspi(managers()[0]) && is_sdmmc(managers()[1]));
}

// What the managers would serve, read without building them: the same families in the same
// order, with and without the SD/MMC manager.
TEST_F(HELPER_TEST, DeviceFamiliesWithoutLoadingMatchTheManagers) {
    const std::vector<std::pair<const char*, bool>> settings[] = {{}, {{"pgm_enable_sdmmc", true}}};
    for (const auto& set : settings) {
        cfg_clear_values();
        for (const auto& [name, on] : set)
            cfg_set_value(name, on);
        HELPER::refresh_flash_managers();
        std::vector<std::pair<DEV_FAMILY_ENUM, std::vector<DEV_FAMILY_ENUM>>> served;
        for (GFPDB_MGR* mgr : managers())
            served.emplace_back(mgr->get_flash_family(), mgr->get_device_family_list());
        EXPECT_EQ(HELPER::get_device_families(), served) << set.size() << " settings";
    }
}

TEST_F(HELPER_TEST, LookupsAndActiveFamilyByFamilyAndScheme) {
    enable_sdmmc();
    const std::pair<PGMIO_CONFIG_SCHEME, DEV_FAMILY_ENUM> schemes[] = {
        {PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1, qspi}, {PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, qspi},
        {PGMIO_CONFIG_SCHEME_SDMMC_X1, sdmmc},        {PGMIO_CONFIG_SCHEME_SDMMC_X4, sdmmc},
        {PGMIO_CONFIG_SCHEME_NONE, DEV_FAMILY_NONE},
    };
    for (const auto& [scheme, family] : schemes) {
        SCOPED_TRACE(scheme);
        GFPDB_MGR* mgr = HELPER::get_flash_manager(scheme, false);
        EXPECT_EQ(mgr, HELPER::get_flash_manager(family, false));
        EXPECT_EQ(HELPER::is_supported_mode(scheme), mgr != nullptr);
        HELPER::set_active_flash_family(sdmmc);
        EXPECT_EQ(HELPER::set_active_flash_family(scheme), mgr != nullptr);
        EXPECT_EQ(HELPER::get_active_flash_family(), mgr ? family : sdmmc);
        EXPECT_EQ(HELPER::get_active_flash_manager(false), mgr ? mgr : managers()[1]);
    }
    EXPECT_TRUE(is_sdmmc(HELPER::get_flash_manager(sdmmc, false)));
    EXPECT_TRUE(HELPER::is_supported_family(sdmmc, DEV_FAMILY_SDMMC_DEFAULT));
    EXPECT_FALSE(HELPER::is_supported_family(sdmmc, static_cast<DEV_FAMILY_ENUM>(3)));
    EXPECT_TRUE(HELPER::is_supported_family(qspi, static_cast<DEV_FAMILY_ENUM>(3)));
    EXPECT_FALSE(HELPER::is_supported_family(DEV_FAMILY_NONE, DEV_FAMILY_SDMMC_DEFAULT));
}

TEST_F(HELPER_TEST, ReloadPutsAFreshlyLoadedManagerAtTheEnd) {
    enable_sdmmc();
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    EXPECT_TRUE(is_qspi(HELPER::get_flash_manager("KVRN16", true, false)));  // first in the list
    GFPDB_MGR* old_qspi = HELPER::get_flash_manager(qspi, false);
    GFPDB_MGR* new_qspi = HELPER::get_flash_manager(qspi, true);
    EXPECT_NE(new_qspi, old_qspi);
    ASSERT_EQ(managers().size(), 2u);
    EXPECT_TRUE(is_sdmmc(managers()[0]));
    EXPECT_EQ(managers()[1], new_qspi);
    EXPECT_TRUE(is_sdmmc(HELPER::get_flash_manager("KVRN16", true, false)));

    write_file(custom / "pgm_flash_late.xml",
               "<SDMMC_FLASH version=\"1\">" + card("LATE") + "</SDMMC_FLASH>");
    EXPECT_FALSE(HELPER::is_gfpdb_flash("LATE", sdmmc, true, false));
    EXPECT_TRUE(HELPER::is_gfpdb_flash("LATE", PGMIO_CONFIG_SCHEME_SDMMC_X1, true, true));
    EXPECT_TRUE(is_sdmmc(managers()[1]));
    // Refreshing restores the registration order.
    EXPECT_TRUE(is_qspi(HELPER::get_flash_manager("KVRN16", true, true)));
}

TEST_F(HELPER_TEST, LegacyNameIsNoDatabaseFlash) {
    enable_sdmmc();
    ASSERT_TRUE(HELPER::get_flash_manager(qspi, false)->device_exist_in_db("KVRN16", true));
    struct CASE {
        const char* name;
        bool by_qspi_family, by_qspi_scheme, by_sdmmc_family, by_name;
    };
    const CASE cases[] = {
        {"KVRN16", false, false, true, false},  // the name lookup stops at the QSPI manager
        {qspi_device, true, true, false, true},
        {"GOLD_A", false, false, true, true},
        {"NO_SUCH_DEVICE", false, false, false, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HELPER::is_gfpdb_flash(c.name, qspi, true, false), c.by_qspi_family);
        EXPECT_EQ(HELPER::is_gfpdb_flash(c.name, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, true, false),
                  c.by_qspi_scheme);
        EXPECT_EQ(HELPER::is_gfpdb_flash(c.name, sdmmc, true, false), c.by_sdmmc_family);
        EXPECT_EQ(HELPER::is_gfpdb_flash(c.name, true, false), c.by_name);
    }
}

TEST_F(HELPER_TEST, EmptyRegistryIsAnInternalError) {
    const std::string report = literal("File: pgm/gfpdb/gfpdb_helper, Line: ") + "[0-9]+\n" +
                               literal("m_mgr_list.size() > 0");
    const std::function<void()> lookups[] = {
        [] { HELPER::get_flash_manager("GOLD_A", true, false); },
        [] { HELPER::get_flash_manager(qspi, false); },
        [] { HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME_SDMMC_X1, true); },
    };
    for (const auto& lookup : lookups) {
        EXPECT_DEATH(
            {
                HELPER::get_helper()->clear();
                lookup();
            },
            report);
    }
}

}  // namespace
