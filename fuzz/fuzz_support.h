// What the fuzz targets share: a throw-away host folder (the bundled schemas and device
// tables, the golden files cut down so that one load stays fast) and a custom folder, silent
// messages, and a check that stops the run with the broken property.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/host.h"
#include "pgm/gfpdb/gfpdb_mgr.h"

// A property the library must keep whatever the input: a failure is a finding. The test suite
// replays kept inputs through the same targets (GFPDB_FUZZ_REPLAY), where a failure is
// thrown to the test instead of stopping the run.
#ifdef GFPDB_FUZZ_REPLAY
#include <stdexcept>
#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond))                                                                     \
            throw std::runtime_error(std::string("fuzz check failed: ") + #cond + " (" + \
                                     __FILE__ + ":" + std::to_string(__LINE__) + ")");   \
    } while (0)
// Each target becomes a function of its own name.
#define GFPDB_FUZZ_TARGET(name) int gfpdb_fuzz_target_##name(const uint8_t* data, size_t size)
#else
#define FUZZ_CHECK(cond)                                                                        \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)
#define GFPDB_FUZZ_TARGET(name) \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#endif

#ifndef GFPDB_FUZZ_REPLAY
// The default quarantine of freed memory (256 MB) makes every run fault in fresh pages; a
// smaller one still catches a use after free within one input and its manager.
extern "C" __attribute__((used)) inline const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif

namespace gfpdb_fuzz {

namespace fs = std::filesystem;

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::string& path, const char* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
}

// The exact value of digits in a base; false when a character is no digit or the value does
// not fit 64 bits. No digit at all reads as 0.
inline bool exact_value(const std::string& digits, int base, uint64_t* value) {
    const char* end = digits.data() + digits.size();
    uint64_t v = 0;
    if (!digits.empty()) {
        const std::from_chars_result read = std::from_chars(digits.data(), end, v, base);
        if (read.ptr != end || read.ec != std::errc())
            return false;
    }
    *value = v;
    return true;
}

// Decimal digits, or "0x" and hexadecimal digits (a bare "0x" is 0).
inline bool number_value(const std::string& text, uint64_t* value) {
    if (text.compare(0, 2, "0x") == 0)
        return exact_value(text.substr(2), 16, value);
    return !text.empty() && exact_value(text, 10, value);
}

// The golden QSPI file cut down to what loading a user file needs of it: the four vendor
// templates with empty operations, and the first built-in device, so that a user file can
// still collide with a built-in name. Reading the whole file would cost most of each run.
inline std::string trimmed_golden_qspi(const std::string& full) {
    const size_t golden = full.find("<GOLDEN_TEMPLATE>");
    const size_t flash = full.find("<FLASH>");
    const size_t flash_end = full.find("</FLASH>", flash);
    if (golden == std::string::npos || flash == std::string::npos || flash_end == std::string::npos)
        return full;
    std::string flow;
    for (const char* op :
         {"INITIALIZATION", "PROGRAM", "ERASE", "VERIFY_BLANKCHECK_EXAMINE", "TERMINATION"})
        flow += std::string("<") + op + "/>";
    std::string text = full.substr(0, golden) + "<GOLDEN_TEMPLATE>";
    for (const char* vendor : {"MICRON", "MACRONIX", "CYPRESS", "WINBOND"}) {
        text += std::string("<") + vendor + "><PROGRAMMING_FLOW><SFL>" + flow + "</SFL><SDM>" +
                flow + "</SDM></PROGRAMMING_FLOW></" + vendor + ">";
    }
    return text + "</GOLDEN_TEMPLATE>\n" + full.substr(flash, flash_end + 8 - flash) +
           "\n</QSPI_FLASH>\n";
}

// The folders of one fuzzing process. Made once, on the first input; removed at exit.
class SANDBOX {
public:
    static SANDBOX& get() {
        static SANDBOX* sandbox = new SANDBOX;
        return *sandbox;
    }
    const std::string& host_dir() const { return m_host; }
    const std::string& custom_dir() const { return m_custom; }
    // How many messages have been posted so far.
    size_t posted() const { return m_posted; }

    // Each manager also offers the other format's golden file to its schema, as it does every
    // pgm_flash_*.xml of the host folder: a target that loads one kind only drops the other,
    // which would cost most of each run.
    static SANDBOX& for_qspi() {
        static SANDBOX& sandbox = get().without("pgm_flash_db_sdmmc.xml");
        return sandbox;
    }
    static SANDBOX& for_sdmmc() {
        static SANDBOX& sandbox = get().without("pgm_flash_db_qspi.xml");
        return sandbox;
    }

    // Empties a folder of the sandbox, so that every input starts from the same state.
    static void empty(const std::string& dir) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(dir, ignored))
            fs::remove_all(entry.path(), ignored);
    }

private:
    SANDBOX& without(const char* golden_file) {
#ifndef GFPDB_FUZZ_REPLAY  // the suite replays every target in one process
        std::error_code ignored;
        fs::remove(m_host + "xml/" + golden_file, ignored);
#else
        (void)golden_file;
#endif
        return *this;
    }

    SANDBOX() {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp && *tmp ? tmp : "/tmp";
        // Memory-backed when the machine has it: every input writes and reads files.
        if (!(tmp && *tmp) && access("/dev/shm", W_OK) == 0)
            base = "/dev/shm";
        std::string pattern = base + "/gfpdb_fuzz_XXXXXX";
        FUZZ_CHECK(mkdtemp(&pattern[0]) != nullptr);
        m_root = pattern + "/";
        m_host = m_root + "host/";
        m_custom = m_root + "custom/";
        const std::string bundled = std::string(GFPDB_SOURCE_DIR) + "/data/";
        fs::create_directories(m_host + "xml");
        fs::create_directories(m_custom);
        fs::copy(bundled + "xsd", m_host + "xsd", fs::copy_options::recursive);
        fs::copy(bundled + "device", m_host + "device", fs::copy_options::recursive);
        const std::string golden =
            trimmed_golden_qspi(read_file(bundled + "xml/pgm_flash_db_qspi.xml"));
        write_file(m_host + "xml/pgm_flash_db_qspi.xml", golden.data(), golden.size());
        fs::copy_file(bundled + "xml/pgm_flash_db_sdmmc.xml",
                      m_host + "xml/pgm_flash_db_sdmmc.xml");

        PGM_COMMON::set_common_programmer(m_host);
        GFPDB_MGR::set_db_custom_dir(m_custom);
        cfg_set_user_ini_file(m_root + "user.ini");
        cfg_set_value("pgm_enable_custom_sdmmc", true);
        // Every warning and debug line is formatted but goes nowhere: the text paths run too.
        // GFPDB_FUZZ_VERBOSE shows them, to read what one input did.
        static const bool verbose = std::getenv("GFPDB_FUZZ_VERBOSE") != nullptr;
        msg_set_post_listener([](unsigned id, MSG_POST_TYPE, const std::string& text) {
            ++get().m_posted;
            if (verbose)
                std::fprintf(stderr, "posted %u: %s\n", id, text.c_str());
        });
        msg_set_debug_listener([](const std::string&, int, const std::string& line) {
            if (verbose)
                std::fprintf(stderr, "debug: %s\n", line.c_str());
        });
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(get().m_root, ignored);
        });
    }

    std::string m_root, m_host, m_custom;
    size_t m_posted = 0;
};

}  // namespace gfpdb_fuzz
