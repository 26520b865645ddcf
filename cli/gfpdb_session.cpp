// The run's folders, settings and message routing, and the device-family helpers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/gfpdb_cli.h"
#include "pgm/gfpdb/gfpdb_host_check.h"

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

// The loader's debug lines that say which user file it reads, and why it skips one.
const char* const parsing_lines[] = {"Parsing XML file in Zorvane directory: ",
                                     "Parsing XML file in custom directory: "};
const char* const skip_line = "Skip ";
const char* const skip_reason = " due to parsing error: ";
const char* const foreign_root = "No matching global declaration available for the validation root";

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
        else if (m_loading && !m_loading_file.empty()) {
            print_line(shown_path(m_loading_file) + ": " + posted_line(posted));
            m_troubled = true;
        } else
            print_line(posted_line(posted));
    });
    msg_set_debug_listener([this](const std::string& module, int, const std::string& line) {
        if (options.verbose)
            print_line("Debug: [" + module + "] " + line);
        if (m_debug)
            m_debug(line);
        else if (m_loading)
            note_loading(line);
    });

    for (const std::string& setting : options.settings) {
        const size_t equal = setting.find('=');
        cfg_set_value(setting.substr(0, equal), setting.substr(equal + 1) == "on");
    }

    host_dir = folder_path(options.host_dir.empty() ? PGM_COMMON::pgm_get_common_programmer()
                                                    : options.host_dir);
    PGM_COMMON::set_common_programmer(host_dir);
    // A manager stops the program on a broken golden file: refuse the folder first.
    const std::string problem =
        GFPDB_HOST_CHECK::problem(host_dir, cfg_is_on("pgm_enable_sdmmc", false));
    if (!problem.empty()) {
        print_error("'" + host_dir + "' is no usable host folder: " + problem +
                    " (see --host-dir)");
        return EXIT_USAGE;
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

void SESSION::note_loading(const std::string& line) {
    for (const char* prefix : parsing_lines)
        if (line.compare(0, std::strlen(prefix), prefix) == 0)
            m_loading_file = line.substr(std::strlen(prefix));
    if (line.compare(0, std::strlen(skip_line), skip_line) != 0 || m_loading_file.empty())
        return;
    const size_t because = line.find(skip_reason);
    const std::string reason =
        because == std::string::npos ? line : line.substr(because + std::strlen(skip_reason));
    // Every user file is offered to both managers: the other format's schema refuses its root.
    if (reason.find(foreign_root) != std::string::npos)
        return;
    print_line("gfpdb: skipped " + shown_path(m_loading_file) + ": " + reason);
    m_troubled = true;
}

void SESSION::load() const {
    if (m_loaded)
        return;
    m_loading = true;
    GFPDB_HELPER::get_helper()->get_manager_list();
    m_loading = false;
    m_loaded = true;
    m_loading_file.clear();
    if (m_troubled)
        print_line(
            "gfpdb: 'gfpdb check FOLDER' shows each problem with its line and what is "
            "allowed");
}

std::vector<GFPDB_MGR*> SESSION::managers() const {
    load();
    return GFPDB_HELPER::get_helper()->get_manager_list();
}

GFPDB_MGR* SESSION::qspi_manager() const {
    load();
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

std::string flash_kind_name(DEV_FAMILY_ENUM flash_family) {
    return flash_family == DEV_FAMILY_SDMMC_FLASH ? "SD/MMC" : "QSPI";
}

std::string flash_kind_name(GFPDB_MGR* manager) {
    return flash_kind_name(manager->get_flash_family());
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

SCRATCH_FOLDER::SCRATCH_FOLDER(const std::string& prefix) {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()))
        m_path = FIO_PATH(pattern + "/").full_directory();
}

SCRATCH_FOLDER::~SCRATCH_FOLDER() {
    std::error_code error;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, error);
}

}  // namespace gfpdb_cli
