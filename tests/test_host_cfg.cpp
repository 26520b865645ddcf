// The host's settings library: in-process values, the user settings file and its entry 94.
#include "support/test_support.h"

namespace {

using gfpdb_test::read_file;
using gfpdb_test::TEMP_DIR;
using gfpdb_test::write_file;

class HostCfg : public testing::Test {
protected:
    void TearDown() override {
        cfg_clear_values();
        cfg_set_user_ini_file("");  // back to the default file
    }
    TEMP_DIR m_dir;
};

TEST_F(HostCfg, InProcessValueWinsOverFileWinsOverDefault) {
    const std::string ini = m_dir / "user.ini";
    write_file(ini, "# settings\n\npgm_enable_sdmmc=on\npgm_gfpdb_skip_device_filtering=off\n");
    cfg_set_user_ini_file(ini);
    EXPECT_EQ(cfg_get_user_ini_file(), ini);

    EXPECT_TRUE(cfg_is_on("pgm_enable_sdmmc", false));
    EXPECT_FALSE(cfg_is_on("pgm_gfpdb_skip_device_filtering", true));
    EXPECT_TRUE(cfg_is_on("pgm_not_in_file", true));
    EXPECT_FALSE(cfg_is_on("pgm_not_in_file", false));

    cfg_set_value("pgm_enable_sdmmc", false);
    cfg_set_value("pgm_not_in_file", true);
    EXPECT_FALSE(cfg_is_on("pgm_enable_sdmmc", true));
    EXPECT_TRUE(cfg_is_on("pgm_not_in_file", false));

    cfg_clear_values();
    EXPECT_TRUE(cfg_is_on("pgm_enable_sdmmc", false));
    EXPECT_FALSE(cfg_is_on("pgm_not_in_file", false));
}

TEST_F(HostCfg, BadLinesAreReportedOnceAndIgnored) {
    const std::string ini = m_dir / "user.ini";
    write_file(ini, "pgm_a=on\nnot a setting\npgm_b=maybe\n");
    testing::internal::CaptureStderr();
    cfg_set_user_ini_file(ini);
    EXPECT_TRUE(cfg_is_on("pgm_a", false));
    EXPECT_TRUE(cfg_is_on("pgm_b", true));  // neither on nor off: the default
    EXPECT_FALSE(cfg_is_on("pgm_b", false));
    cfg_set_user_ini_file(ini);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find(ini + ":2:"), std::string::npos) << errors;
    EXPECT_NE(errors.find(ini + ":3:"), std::string::npos) << errors;
    EXPECT_EQ(errors.find(ini + ":2:"), errors.rfind(ini + ":2:")) << errors;
    EXPECT_EQ(errors.find(ini + ":3:"), errors.rfind(ini + ":3:")) << errors;
}

TEST_F(HostCfg, WritingKeepsTheOtherLines) {
    const std::string ini = m_dir / "user.ini";
    write_file(ini, "# mine\npgm_enable_sdmmc=on\npgm_gfpdb_custom_db_dir=/old\n");
    cfg_set_user_ini_file(ini);
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR), "/old");
    EXPECT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR, "/new"));
    EXPECT_TRUE(cfg_write_user_ini_file());
    EXPECT_EQ(read_file(ini), "# mine\npgm_enable_sdmmc=on\npgm_gfpdb_custom_db_dir=/new\n");
}

TEST_F(HostCfg, UnwritableFileFailsWithoutStopping) {
    write_file(m_dir / "plain", "a file, not a folder");
    cfg_set_user_ini_file(m_dir / "plain/user.ini");
    EXPECT_EQ(cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR), "");
    EXPECT_TRUE(cfg_set_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR, "/x"));
    EXPECT_FALSE(cfg_write_user_ini_file());
    EXPECT_FALSE(cfg_set_user_ini_value(static_cast<CFG_USER_INI_ENUMS>(7), "/x"));
}

TEST_F(HostCfg, DefaultFileComesFromTheEnvironment) {
    const std::string ini = m_dir / "env.ini";
    write_file(ini, "pgm_from_env=on\n");
    const char* old = getenv("GFPDB_USER_INI");
    const std::string saved = old ? old : "";
    setenv("GFPDB_USER_INI", ini.c_str(), 1);
    cfg_set_user_ini_file("");
    EXPECT_EQ(cfg_get_user_ini_file(), ini);
    EXPECT_TRUE(cfg_is_on("pgm_from_env", false));
    if (old)
        setenv("GFPDB_USER_INI", saved.c_str(), 1);
    else
        unsetenv("GFPDB_USER_INI");
}

}  // namespace
