// What the tests share: throw-away folders, a host folder built from the bundled data, and
// recorders for posted messages and debug lines.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"

namespace gfpdb_test {

namespace fs = std::filesystem;

inline std::string source_dir() {
    return GFPDB_SOURCE_DIR;
}
inline std::string bundled_data_dir() {
    return source_dir() + "/data/";
}

inline void write_file(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file names of a folder, in byte order.
inline std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A folder that lives as long as the object; its path ends in "/".
class TEMP_DIR {
public:
    TEMP_DIR() {
        std::string pattern = (fs::temp_directory_path() / "gfpdb_test_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        char* made = mkdtemp(buffer.data());
        EXPECT_NE(made, nullptr);
        m_path = std::string(made) + "/";
    }
    ~TEMP_DIR() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

// Records every posted message and debug line while it lives; the defaults come back after.
class MESSAGE_RECORDER {
public:
    struct POSTED {
        unsigned id;
        MSG_POST_TYPE type;
        std::string text;
    };
    MESSAGE_RECORDER() {
        msg_set_post_listener([this](unsigned id, MSG_POST_TYPE type, const std::string& text) {
            posted.push_back({id, type, text});
        });
        msg_set_debug_listener(
            [this](const std::string&, int, const std::string& line) { debug.push_back(line); });
    }
    ~MESSAGE_RECORDER() {
        msg_set_post_listener(nullptr);
        msg_set_debug_listener(nullptr);
    }
    MESSAGE_RECORDER(const MESSAGE_RECORDER&) = delete;
    MESSAGE_RECORDER& operator=(const MESSAGE_RECORDER&) = delete;

    std::vector<unsigned> ids() const {
        std::vector<unsigned> result;
        for (const POSTED& p : posted)
            result.push_back(p.id);
        return result;
    }
    void clear() {
        posted.clear();
        debug.clear();
    }

    std::vector<POSTED> posted;
    std::vector<std::string> debug;
};

// A host folder for one test: the bundled schemas and device tables, and the bundled golden
// files unless the test writes its own. Points the host at it while it lives.
class HOST_DIR : public TEMP_DIR {
public:
    explicit HOST_DIR(bool with_golden_files = true) {
        fs::create_directories(path() + "xml");
        fs::copy(bundled_data_dir() + "xsd", path() + "xsd", fs::copy_options::recursive);
        fs::copy(bundled_data_dir() + "device", path() + "device", fs::copy_options::recursive);
        if (with_golden_files) {
            for (const char* name : {"pgm_flash_db_qspi.xml", "pgm_flash_db_sdmmc.xml"})
                fs::copy_file(bundled_data_dir() + "xml/" + name, xml_dir() + name);
        }
        PGM_COMMON::set_common_programmer(path());
    }
    ~HOST_DIR() { PGM_COMMON::set_common_programmer(bundled_data_dir()); }
    std::string xml_dir() const { return path() + "xml/"; }
};

// A regular expression that matches the text literally, for death tests on condition texts.
inline std::string literal(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            result += '\\';
        result += c;
    }
    return result;
}

}  // namespace gfpdb_test
