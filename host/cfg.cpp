#include "host/cfg.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "host/host_detail.h"

namespace {
namespace fs = std::filesystem;

// Keys of the user settings file entries, one row per entry.
struct INI_ENTRY {
    CFG_USER_INI_ENUMS entry;
    const char* key;
};
const INI_ENTRY ini_entries[] = {
    {CFG_USER_INI_GFPDB_CUSTOM_DB_DIR, "pgm_gfpdb_custom_db_dir"},
};

const char* entry_key(CFG_USER_INI_ENUMS entry) {
    for (const INI_ENTRY& row : ini_entries) {
        if (row.entry == entry)
            return row.key;
    }
    return nullptr;
}

// The user settings file as read: its lines are kept as they are, so that writing it back
// changes only the entries that were set.
struct SETTINGS {
    std::map<std::string, bool> in_process;
    std::string ini_file;  // empty until chosen or first used
    bool loaded = false;
    std::vector<std::string> lines;
    std::map<std::string, size_t> line_of_key;
};

SETTINGS& settings() {
    static SETTINGS state;
    return state;
}

std::string default_ini_file() {
    const char* env = std::getenv("GFPDB_USER_INI");
    if (env && *env)
        return env;
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.gfpdb/user.ini" : std::string();
}

void report_bad_line(const std::string& file, size_t index, const std::string& why) {
    const std::string where = file + ":" + std::to_string(index + 1);
    HOST_DETAIL::report_once(where, "Error: " + where + ": " + why + "; the line is ignored");
}

// Splits "name=value"; false for a line that is no entry.
bool split_entry(const std::string& line, std::string* name, std::string* value) {
    size_t equal = line.find('=');
    if (equal == std::string::npos)
        return false;
    *name = HOST_DETAIL::trim(line.substr(0, equal));
    *value = HOST_DETAIL::trim(line.substr(equal + 1));
    return !name->empty();
}

void read_ini(SETTINGS& state) {
    state.loaded = true;
    state.lines.clear();
    state.line_of_key.clear();
    if (state.ini_file.empty())
        state.ini_file = default_ini_file();
    // A missing or unreadable file is an empty one.
    std::ifstream in(state.ini_file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        state.lines.push_back(line);
        const std::string text = HOST_DETAIL::trim(line);
        std::string name, value;
        if (text.empty() || text[0] == '#')
            continue;
        if (split_entry(text, &name, &value))
            state.line_of_key[name] = state.lines.size() - 1;
        else
            report_bad_line(state.ini_file, state.lines.size() - 1, "expected name=value");
    }
}

SETTINGS& loaded_settings() {
    SETTINGS& state = settings();
    if (!state.loaded)
        read_ini(state);
    return state;
}

// The value of a key in the file; false when the file has none.
bool file_value(const std::string& key, std::string* value) {
    SETTINGS& state = loaded_settings();
    auto it = state.line_of_key.find(key);
    std::string name;
    return it != state.line_of_key.end() && split_entry(state.lines[it->second], &name, value);
}
}  // namespace

KORVEL_BOOL cfg_is_on(const std::string& name, bool default_value) {
    auto set = settings().in_process.find(name);
    if (set != settings().in_process.end())
        return set->second;
    std::string value;
    if (!file_value(name, &value))
        return default_value;
    if (value == "on" || value == "off")
        return value == "on";
    report_bad_line(settings().ini_file, loaded_settings().line_of_key[name],
                    "the setting '" + name + "' is neither on nor off");
    return default_value;
}

std::string cfg_get_user_ini_value(CFG_USER_INI_ENUMS entry) {
    const char* key = entry_key(entry);
    std::string value;
    return key && file_value(key, &value) ? value : std::string();
}

bool cfg_set_user_ini_value(CFG_USER_INI_ENUMS entry, const char* value) {
    const char* key = entry_key(entry);
    if (!key || !value)
        return false;
    SETTINGS& state = loaded_settings();
    const std::string line = std::string(key) + "=" + value;
    auto it = state.line_of_key.find(key);
    if (it != state.line_of_key.end()) {
        state.lines[it->second] = line;
    } else {
        state.lines.push_back(line);
        state.line_of_key[key] = state.lines.size() - 1;
    }
    return true;
}

bool cfg_write_user_ini_file() {
    SETTINGS& state = loaded_settings();
    if (state.ini_file.empty())
        return false;
    std::error_code ignored;
    const fs::path parent = fs::path(state.ini_file).parent_path();
    if (!parent.empty())
        fs::create_directories(parent, ignored);
    std::ofstream out(state.ini_file, std::ios::trunc);
    for (const std::string& line : state.lines)
        out << line << '\n';
    out.close();
    return !out.fail();
}

void cfg_set_value(const std::string& name, bool on) {
    settings().in_process[name] = on;
}

void cfg_clear_values() {
    settings().in_process.clear();
}

void cfg_set_user_ini_file(const std::string& path) {
    settings().ini_file = path;
    read_ini(settings());
}

std::string cfg_get_user_ini_file() {
    return loaded_settings().ini_file;
}
