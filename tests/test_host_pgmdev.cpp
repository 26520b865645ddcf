// The host's device-information library: the two device tables of the common programmer
// directory.
#include "support/test_support.h"

namespace {

using gfpdb_test::TEMP_DIR;
using gfpdb_test::write_file;

// A host folder with the given device tables (null: the file is missing).
class DEVICE_DIR : public TEMP_DIR {
public:
    DEVICE_DIR(const char* families, const char* flashes) {
        if (families)
            write_file(*this / "device/families.csv", families);
        if (flashes)
            write_file(*this / "device/flash_list.csv", flashes);
        PGM_COMMON::set_common_programmer(path());
    }
    ~DEVICE_DIR() { PGM_COMMON::set_common_programmer(gfpdb_test::bundled_data_dir()); }
};

TEST(HostPgmdev, FamiliesAreReadByNumber) {
    DEVICE_DIR dir(
        "# comment\n"
        "family,name,qspi,sdmmc,sdm,flash_io_voltage\n"
        "\n"
        "10,Arvel,1,0,0,3.0V/3.3V\r\n"
        "48,Halvern,1,1,1,1.8V\n"
        "50,Lunden,0,0,0,\n",
        nullptr);
    PGMDEV_DEV_INFO_MANAGER manager(false, 0);
    const PGMDEV_DEVICE_INFO* arvel = manager.get_db_by_family(DEV_FAMILY_QSPI_FLASH);
    ASSERT_NE(arvel, nullptr);
    EXPECT_EQ(arvel->get_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_EQ(arvel->get_name(), "Arvel");
    EXPECT_TRUE(arvel->is_qspi_supported());
    EXPECT_FALSE(arvel->is_sdmmc_supported());
    EXPECT_FALSE(arvel->is_sdm_flow());
    EXPECT_EQ(arvel->get_flash_io_voltage(), "3.0V/3.3V");

    const PGMDEV_DEVICE_INFO* halvern = manager.get_db_by_family(DEV_FAMILY_SDMMC_DEFAULT);
    ASSERT_NE(halvern, nullptr);
    EXPECT_TRUE(halvern->is_sdmmc_supported());
    EXPECT_TRUE(halvern->is_sdm_flow());
    ASSERT_NE(manager.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(50)), nullptr);
    EXPECT_EQ(manager.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(50))->get_flash_io_voltage(),
              "");
    EXPECT_EQ(manager.get_db_by_family(DEV_FAMILY_VELMAR), nullptr);
}

TEST(HostPgmdev, BadFamilyLinesAreReportedOnceAndSkipped) {
    DEVICE_DIR dir(
        "family,name,qspi,sdmmc,sdm,flash_io_voltage\n"
        "3,Good,1,0,0,1.8V\n"    // 2
        "4,Short,1,0,0\n"        // 3: five fields
        "x,Word,1,0,0,1.8V\n"    // 4: no number
        "0,Zero,1,0,0,1.8V\n"    // 5: family out of range
        "73,High,1,0,0,1.8V\n"   // 6
        "0x7,Hex,1,0,0,1.8V\n"   // 7: decimal only
        "8,Flag,2,0,0,1.8V\n"    // 8: flag not 0/1
        "3,Again,1,0,0,1.8V\n"   // 9: listed twice
        "72,Last,1,0,1,1.8V\n",  // 10
        nullptr);
    const std::string file = dir / "device/families.csv";
    testing::internal::CaptureStderr();
    PGMDEV_DEV_INFO_MANAGER first(false, 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    for (int line = 3; line <= 9; ++line) {
        EXPECT_NE(errors.find("Error: " + file + ":" + std::to_string(line) + ": "),
                  std::string::npos)
            << line << "\n"
            << errors;
    }
    EXPECT_EQ(errors.find(file + ":2:"), std::string::npos);
    EXPECT_EQ(errors.find(file + ":10:"), std::string::npos);
    ASSERT_NE(first.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(3)), nullptr);
    EXPECT_EQ(first.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(3))->get_name(), "Good");
    EXPECT_NE(first.get_db_by_family(DEV_FAMILY_QSPI_DEFAULT), nullptr);
    EXPECT_EQ(first.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(8)), nullptr);

    testing::internal::CaptureStderr();
    PGMDEV_DEV_INFO_MANAGER second(false, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(second.get_db_by_family(static_cast<DEV_FAMILY_ENUM>(3)), nullptr);
}

TEST(HostPgmdev, FlashListKeepsItsOrder) {
    DEVICE_DIR dir(nullptr,
                   "name,supported,io_voltage\n"
                   "SQD32,1,3.0V/3.3V\n"
                   "BAD,yes,1.8V\n"
                   ",1,1.8V\n"
                   "KVRN256U,0,1.8V\n");
    testing::internal::CaptureStderr();
    PGMDEV_FLASH_MANAGER flashes(true, 1, false, false);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find(dir / "device/flash_list.csv:3: "), std::string::npos) << errors;
    EXPECT_NE(errors.find(dir / "device/flash_list.csv:4: "), std::string::npos) << errors;
    ASSERT_EQ(flashes.get_flash_count(), 2u);
    EXPECT_EQ(flashes.get_flash(0).get_name(), "SQD32");
    EXPECT_TRUE(flashes.get_flash(0).is_supported());
    EXPECT_EQ(flashes.get_flash(0).get_io_voltage(), "3.0V/3.3V");
    EXPECT_EQ(flashes.get_flash(1).get_name(), "KVRN256U");
    EXPECT_FALSE(flashes.get_flash(1).is_supported());
}

TEST(HostPgmdev, MissingOrHeaderlessTablesAreEmpty) {
    DEVICE_DIR dir(nullptr, "supported,name,io_voltage\nSQD32,1,3.0V/3.3V\n");
    testing::internal::CaptureStderr();
    PGMDEV_DEV_INFO_MANAGER families(false, 0);
    PGMDEV_FLASH_MANAGER flashes(true, 1, false, false);
    PGMDEV_DEV_INFO_MANAGER again(false, 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    const std::string missing = "Error: " + dir / "device/families.csv";
    EXPECT_NE(errors.find(missing), std::string::npos) << errors;
    EXPECT_EQ(errors.find(missing), errors.rfind(missing)) << errors;  // reported once
    EXPECT_NE(errors.find(dir / "device/flash_list.csv:1: "), std::string::npos) << errors;
    EXPECT_EQ(families.get_db_by_family(DEV_FAMILY_QSPI_FLASH), nullptr);
    EXPECT_EQ(flashes.get_flash_count(), 0u);
}

}  // namespace
