// The manager registry: which managers exist under the settings, lookups by family, scheme
// and name, reloads and their effect on the order, the active flash family, the database-flash
// test and the empty registry.
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

// KVRN16 is both a legacy QSPI device of the host and a card of the SD/MMC golden file.
const char* const sdmmc_golden =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SDMMC_FLASH version=\"1\">\n"
    "<FLASH><DEVICE_INFO><DEVICE_NAME>GOLD_A</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V"
    "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>4GB</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n"
    "<FLASH><DEVICE_INFO><DEVICE_NAME>KVRN16</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V"
    "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>8GB</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n"
    "</SDMMC_FLASH>\n";

const char* const late_card_file =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SDMMC_FLASH version=\"1\">\n"
    "<FLASH><DEVICE_INFO><DEVICE_NAME>LATE</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V"
    "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>1GB</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n"
    "</SDMMC_FLASH>\n";

const char* const families_csv =
    "family,name,qspi,sdmmc,sdm,flash_io_voltage\n"
    "3,QspiOnly,1,0,0,3.0V/3.3V\n"
    "48,Both,1,1,1,1.8V\n"
    "64,CardsOnly,0,1,0,1.8V\n"
    "72,Jorra,1,0,1,1.8V\n";

const char* const flash_list_csv =
    "name,supported,io_voltage\n"
    "KVRN16,1,3.0V/3.3V\n"
    "SQD256U,1,1.8V\n";

const char* const qspi_golden_device = "GF25M064L";  // a device of the bundled QSPI golden file

const DEV_FAMILY_ENUM qspi = DEV_FAMILY_QSPI_FLASH;
const DEV_FAMILY_ENUM sdmmc = DEV_FAMILY_SDMMC_FLASH;

bool is_qspi(const GFPDB_MGR* mgr) {
    return dynamic_cast<const GFPDB_QSPI_MGR*>(mgr) != nullptr;
}
bool is_sdmmc(const GFPDB_MGR* mgr) {
    return dynamic_cast<const GFPDB_SDMMC_MGR*>(mgr) != nullptr;
}
const std::vector<GFPDB_MGR*>& managers() {
    return GFPDB_HELPER::get_helper()->get_manager_list();
}

void write_host_tables(const HOST_DIR& host) {
    write_file(host.xml_dir() + "pgm_flash_db_sdmmc.xml", sdmmc_golden);
    write_file(host.path() + "device/families.csv", families_csv);
    write_file(host.path() + "device/flash_list.csv", flash_list_csv);
}

class HELPER_TEST : public ::testing::Test {
protected:
    void SetUp() override {
        cfg_clear_values();
        write_host_tables(host);
        GFPDB_MGR::set_db_custom_dir(custom.path());
        GFPDB_HELPER::refresh_flash_managers();
        GFPDB_HELPER::set_active_flash_family(qspi);
    }
    void TearDown() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir("");
    }
    static void enable_sdmmc() {
        cfg_set_value("pgm_enable_sdmmc", true);
        GFPDB_HELPER::refresh_flash_managers();
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
        return GFPDB_HELPER::get_active_flash_family() == qspi &&
               is_qspi(GFPDB_HELPER::get_active_flash_manager(false));
    };
    EXPECT_EXIT(std::exit(qspi_is_active() ? 0 : 1), ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

TEST_F(HELPER_TEST, WithoutSdmmcSettingOnlyQspiIsServed) {
    ASSERT_EQ(managers().size(), 1u);
    EXPECT_TRUE(is_qspi(managers()[0]));
    EXPECT_TRUE(GFPDB_HELPER::is_supported_family(qspi));
    EXPECT_FALSE(GFPDB_HELPER::is_supported_family(sdmmc));
    EXPECT_FALSE(GFPDB_HELPER::set_active_flash_family(sdmmc));
    EXPECT_FALSE(GFPDB_HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME_SDMMC_X4));
    EXPECT_EQ(GFPDB_HELPER::get_active_flash_family(), qspi);
    EXPECT_EQ(GFPDB_HELPER::get_flash_manager(sdmmc, false), nullptr);
    EXPECT_EQ(GFPDB_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME_SDMMC_X1, false), nullptr);
    EXPECT_FALSE(GFPDB_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME_SDMMC_X1));
    EXPECT_TRUE(GFPDB_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4));
    EXPECT_FALSE(GFPDB_HELPER::is_gfpdb_flash("GOLD_A", sdmmc, true, false));
    EXPECT_FALSE(GFPDB_HELPER::is_gfpdb_flash("GOLD_A", true, false));
}

TEST_F(HELPER_TEST, SettingTakesEffectAtTheNextRefresh) {
    cfg_set_value("pgm_enable_sdmmc", true);
    EXPECT_EQ(managers().size(), 1u);
    GFPDB_HELPER::refresh_flash_managers();
    ASSERT_EQ(managers().size(), 2u);
    EXPECT_TRUE(is_qspi(managers()[0]));
    EXPECT_TRUE(is_sdmmc(managers()[1]));
    cfg_set_value("pgm_enable_sdmmc", false);
    GFPDB_HELPER::refresh_flash_managers();
    EXPECT_EQ(managers().size(), 1u);
}

TEST_F(HELPER_TEST, LooksUpManagersByFamilyAndScheme) {
    enable_sdmmc();
    struct SCHEME_CASE {
        PGMIO_CONFIG_SCHEME scheme;
        DEV_FAMILY_ENUM served_by;  // DEV_FAMILY_NONE: nobody
    };
    const SCHEME_CASE schemes[] = {
        {PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1, qspi}, {PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, qspi},
        {PGMIO_CONFIG_SCHEME_SDMMC_X1, sdmmc},        {PGMIO_CONFIG_SCHEME_SDMMC_X4, sdmmc},
        {PGMIO_CONFIG_SCHEME_NONE, DEV_FAMILY_NONE},
    };
    for (const SCHEME_CASE& c : schemes) {
        SCOPED_TRACE(c.scheme);
        GFPDB_MGR* mgr = GFPDB_HELPER::get_flash_manager(c.scheme, false);
        EXPECT_EQ(mgr, GFPDB_HELPER::get_flash_manager(c.served_by, false));
        EXPECT_EQ(GFPDB_HELPER::is_supported_mode(c.scheme), mgr != nullptr);
    }
    EXPECT_TRUE(is_qspi(GFPDB_HELPER::get_flash_manager(qspi, false)));
    EXPECT_TRUE(is_sdmmc(GFPDB_HELPER::get_flash_manager(sdmmc, false)));

    struct FAMILY_CASE {
        DEV_FAMILY_ENUM flash_family;
        int device_family;
        bool supported;
    };
    const FAMILY_CASE families[] = {
        {sdmmc, 48, true},
        {sdmmc, 64, true},
        {sdmmc, 3, false},
        {qspi, 3, true},
        {qspi, 64, false},             // from the device tables
        {DEV_FAMILY_NONE, 48, false},  // no manager of that flash family
    };
    for (const FAMILY_CASE& c : families) {
        SCOPED_TRACE(std::to_string(c.flash_family) + "/" + std::to_string(c.device_family));
        EXPECT_EQ(GFPDB_HELPER::is_supported_family(c.flash_family,
                                                    static_cast<DEV_FAMILY_ENUM>(c.device_family)),
                  c.supported);
    }
}

TEST_F(HELPER_TEST, ActiveFamilyFollowsFamilyOrScheme) {
    enable_sdmmc();
    EXPECT_TRUE(GFPDB_HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME_SDMMC_X4));
    EXPECT_EQ(GFPDB_HELPER::get_active_flash_family(), sdmmc);
    EXPECT_TRUE(is_sdmmc(GFPDB_HELPER::get_active_flash_manager(false)));
    EXPECT_FALSE(GFPDB_HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME_NONE));
    EXPECT_FALSE(GFPDB_HELPER::set_active_flash_family(DEV_FAMILY_SDMMC_DEFAULT));
    EXPECT_EQ(GFPDB_HELPER::get_active_flash_family(), sdmmc);
    EXPECT_TRUE(GFPDB_HELPER::set_active_flash_family(PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1));
    EXPECT_EQ(GFPDB_HELPER::get_active_flash_family(), qspi);
    EXPECT_TRUE(GFPDB_HELPER::set_active_flash_family(sdmmc));
    EXPECT_TRUE(is_sdmmc(GFPDB_HELPER::get_active_flash_manager(false)));
}

TEST_F(HELPER_TEST, ReloadBuildsAFreshManagerAtTheEnd) {
    enable_sdmmc();
    cfg_set_value("pgm_enable_custom_sdmmc", true);
    GFPDB_MGR* old_qspi = GFPDB_HELPER::get_flash_manager(qspi, false);
    GFPDB_MGR* new_qspi = GFPDB_HELPER::get_flash_manager(qspi, true);
    EXPECT_NE(new_qspi, old_qspi);
    ASSERT_EQ(managers().size(), 2u);
    EXPECT_TRUE(is_sdmmc(managers()[0]));
    EXPECT_EQ(managers()[1], new_qspi);
    EXPECT_TRUE(is_qspi(new_qspi));

    // A reload reads the files again; the manager it replaces never did.
    write_file(custom / "pgm_flash_late.xml", late_card_file);
    EXPECT_FALSE(GFPDB_HELPER::get_flash_manager(sdmmc, false)->device_exist_in_db("LATE", true));
    GFPDB_MGR* new_sdmmc = GFPDB_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME_SDMMC_X1, true);
    EXPECT_TRUE(new_sdmmc->device_exist_in_db("LATE", true));
    EXPECT_EQ(managers(), (std::vector<GFPDB_MGR*>{new_qspi, new_sdmmc}));
    EXPECT_TRUE(GFPDB_HELPER::is_gfpdb_flash("LATE", sdmmc, true, false));
}

TEST_F(HELPER_TEST, NameLookupTriesManagersInListOrder) {
    enable_sdmmc();
    EXPECT_TRUE(is_qspi(GFPDB_HELPER::get_flash_manager(qspi_golden_device, true, false)));
    EXPECT_TRUE(is_sdmmc(GFPDB_HELPER::get_flash_manager("GOLD_A", true, false)));
    EXPECT_EQ(GFPDB_HELPER::get_flash_manager("NO_SUCH_DEVICE", true, false), nullptr);
    // KVRN16 is known to both; the first manager of the list answers.
    EXPECT_TRUE(is_qspi(GFPDB_HELPER::get_flash_manager("KVRN16", true, false)));
    GFPDB_HELPER::get_flash_manager(qspi, true);
    EXPECT_TRUE(is_sdmmc(GFPDB_HELPER::get_flash_manager("KVRN16", true, false)));
    // Refreshing first restores the registration order.
    GFPDB_MGR* mgr = GFPDB_HELPER::get_flash_manager("KVRN16", true, true);
    EXPECT_TRUE(is_qspi(mgr));
    EXPECT_EQ(mgr, managers()[0]);
}

TEST_F(HELPER_TEST, LegacyDeviceIsNoDatabaseFlash) {
    enable_sdmmc();
    GFPDB_MGR* qspi_mgr = GFPDB_HELPER::get_flash_manager(qspi, false);
    ASSERT_TRUE(qspi_mgr->device_exist_in_db("KVRN16", true));
    struct CASE {
        const char* name;
        bool by_qspi_family, by_qspi_scheme, by_sdmmc_family, by_sdmmc_scheme, by_name;
    };
    const CASE cases[] = {
        // Legacy for QSPI; the name lookup stops at the QSPI manager, which comes first.
        {"KVRN16", false, false, true, true, false},
        {qspi_golden_device, true, true, false, false, true},
        {"GOLD_A", false, false, true, true, true},
        {"NO_SUCH_DEVICE", false, false, false, false, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GFPDB_HELPER::is_gfpdb_flash(c.name, qspi, true, false), c.by_qspi_family);
        EXPECT_EQ(
            GFPDB_HELPER::is_gfpdb_flash(c.name, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, true, false),
            c.by_qspi_scheme);
        EXPECT_EQ(GFPDB_HELPER::is_gfpdb_flash(c.name, sdmmc, true, false), c.by_sdmmc_family);
        EXPECT_EQ(GFPDB_HELPER::is_gfpdb_flash(c.name, PGMIO_CONFIG_SCHEME_SDMMC_X1, true, false),
                  c.by_sdmmc_scheme);
        EXPECT_EQ(GFPDB_HELPER::is_gfpdb_flash(c.name, true, false), c.by_name);
    }
    EXPECT_FALSE(GFPDB_HELPER::is_gfpdb_flash("GOLD_A", DEV_FAMILY_NONE, true, false));
}

TEST_F(HELPER_TEST, EmptyRegistryIsAnInternalError) {
    const std::string report = literal("File: pgm/gfpdb/gfpdb_helper, Line: ") + "[0-9]+\n" +
                               literal("m_mgr_list.size() > 0");
    const std::vector<std::pair<const char*, std::function<void()>>> lookups = {
        {"by name", [] { GFPDB_HELPER::get_flash_manager("GOLD_A", true, false); }},
        {"by family", [] { GFPDB_HELPER::get_flash_manager(qspi, false); }},
        {"by scheme", [] { GFPDB_HELPER::get_flash_manager(PGMIO_CONFIG_SCHEME_SDMMC_X1, true); }},
        {"active", [] { GFPDB_HELPER::get_active_flash_manager(false); }},
        {"mode", [] { GFPDB_HELPER::is_supported_mode(PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1); }},
    };
    for (const auto& [what, lookup] : lookups) {
        SCOPED_TRACE(what);
        EXPECT_DEATH(
            {
                GFPDB_HELPER::get_helper()->clear();
                lookup();
            },
            report);
    }
    // A refresh before the lookup fills the list again.
    EXPECT_EXIT(
        {
            GFPDB_HELPER::get_helper()->clear();
            std::exit(is_qspi(GFPDB_HELPER::get_flash_manager(qspi_golden_device, true, true)) ? 0
                                                                                               : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
