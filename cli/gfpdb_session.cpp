// The run's folders, settings and message routing, and the device-family helpers.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/gfpdb_cli.h"

namespace gfpdb_cli {
namespace {

// An absolute, normal folder path ending in '/', as the managers compare folders.
std::string folder_path(const std::string& path) {
    std::error_code ignored;
    std::string folder = std::filesystem::absolute(path, ignored).lexically_normal().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The golden files a manager cannot start without: a missing one would stop the program.
struct GOLDEN_FILE {
    const char* path;     // under the host folder
    const char* setting;  // the manager exists only while this setting is on; nullptr: always
};
const GOLDEN_FILE golden_files[] = {
    {"xml/pgm_flash_db_qspi.xml", nullptr},
    {"xml/pgm_flash_db_sdmmc.xml", "pgm_enable_sdmmc"},
};

void print_line(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}
}  // namespace

std::string posted_line(const POSTED& posted) {
    return std::string(posted.type == MSG_POST_TYPE_ERROR ? "Error" : "Warning") + " (" +
           std::to_string(posted.id) + "): " + posted.text;
}

SESSION::~SESSION() {
    // The listeners point at this session; the registry outlives it.
    msg_set_post_listener(nullptr);
    msg_set_debug_listener(nullptr);
}

int SESSION::open() {
    msg_set_post_listener([this](unsigned id, MSG_POST_TYPE type, const std::string& text) {
        const POSTED posted{id, type, text};
        if (m_post)
            m_post(posted);
        else
            print_line(posted_line(posted));
    });
    msg_set_debug_listener([this](const std::string& module, int, const std::string& line) {
        if (options.verbose)
            print_line("Debug: [" + module + "] " + line);
        if (m_debug)
            m_debug(line);
    });

    for (const std::string& setting : options.settings) {
        const size_t equal = setting.find('=');
        cfg_set_value(setting.substr(0, equal), setting.substr(equal + 1) == "on");
    }

    host_dir = folder_path(options.host_dir.empty() ? PGM_COMMON::pgm_get_common_programmer()
                                                    : options.host_dir);
    PGM_COMMON::set_common_programmer(host_dir);
    for (const GOLDEN_FILE& golden : golden_files) {
        if (golden.setting && !cfg_is_on(golden.setting, false))
            continue;
        if (!std::filesystem::is_regular_file(host_dir + golden.path)) {
            print_error("'" + host_dir + "' is no host folder: " + golden.path +
                        " is missing (see --host-dir)");
            return EXIT_USAGE;
        }
    }
    db_host_dir = FIO_PATH(GFPDB_MGR::get_db_zorvane_dir()).full_directory();

    std::string custom = options.custom_dir;
    if (custom.empty() && !cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR).empty())
        custom = GFPDB_MGR::get_custom_dir_from_ini();
    // Without a custom folder the managers get the host's: loading then walks it only once,
    // and nothing lands in whatever folder the command runs from.
    GFPDB_MGR::set_db_custom_dir(custom.empty() ? db_host_dir : folder_path(custom));
    custom_dir =
        custom.empty() ? std::string() : FIO_PATH(GFPDB_MGR::get_db_custom_dir()).full_directory();
    return EXIT_OK;
}

void SESSION::capture(POST_SINK post, DEBUG_SINK debug) {
    m_post = std::move(post);
    m_debug = std::move(debug);
}

void SESSION::end_capture() {
    m_post = nullptr;
    m_debug = nullptr;
}

std::vector<GFPDB_MGR*> SESSION::managers() const {
    return GFPDB_HELPER::get_helper()->get_manager_list();
}

GFPDB_MGR* SESSION::qspi_manager() const {
    return GFPDB_HELPER::get_flash_manager(DEV_FAMILY_QSPI_FLASH, false);
}

std::string SESSION::folder_of(GFPDB_FLASH* flash) {
    return FIO_PATH(flash->get_db_dir()).full_directory();
}

std::string SESSION::source_of(GFPDB_FLASH* flash) const {
    // Golden records are the only ones loaded as not removable.
    if (!flash->get_flash_removable_permission())
        return "golden";
    const std::string folder = folder_of(flash);
    return !custom_dir.empty() && folder == custom_dir && folder != db_host_dir ? "custom" : "host";
}

std::string flash_kind_name(GFPDB_MGR* manager) {
    return manager->get_flash_family() == DEV_FAMILY_SDMMC_FLASH ? "SD/MMC" : "QSPI";
}

const PGMDEV_DEVICE_INFO* family_info(DEV_FAMILY_ENUM family) {
    // The host reads its tables when the object is made; once per run is enough.
    static const std::unique_ptr<PGMDEV_DEV_INFO_MANAGER> tables(
        new PGMDEV_DEV_INFO_MANAGER(false, 0));
    return tables->get_db_by_family(family);
}

DEV_FAMILY_ENUM parse_family(const std::string& text) {
    for (int number = 1; number <= DEV_FAMILY_LAST; ++number) {
        const auto family = static_cast<DEV_FAMILY_ENUM>(number);
        const PGMDEV_DEVICE_INFO* info = family_info(family);
        if (!info)
            continue;
        if (text == std::to_string(number) ||
            PGM_COMMON::compare_string(text, info->get_name(), true))
            return family;
    }
    return DEV_FAMILY_NONE;
}

std::string family_label(DEV_FAMILY_ENUM family) {
    const PGMDEV_DEVICE_INFO* info = family_info(family);
    const std::string number = std::to_string(static_cast<int>(family));
    return info ? info->get_name() + " (" + number + ")" : number;
}

}  // namespace gfpdb_cli
