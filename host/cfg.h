// Settings library of the host: boolean settings and the user settings file.
#pragma once

#include <string>

#include "host/host_export.h"

// The host's one-byte boolean.
class KORVEL_BOOL {
public:
    KORVEL_BOOL(bool value = false) : m_value(value ? 1 : 0) {}  // NOLINT: converts like bool
    operator bool() const { return m_value != 0; }               // NOLINT
private:
    unsigned char m_value;
};

// Entries of the user settings file. Only the custom database directory is used here.
enum CFG_USER_INI_ENUMS { CFG_USER_INI_GFPDB_CUSTOM_DB_DIR = 94 };

HOST_EXPORT KORVEL_BOOL cfg_is_on(const std::string& name, bool default_value);
HOST_EXPORT std::string cfg_get_user_ini_value(CFG_USER_INI_ENUMS entry);
HOST_EXPORT bool cfg_set_user_ini_value(CFG_USER_INI_ENUMS entry, const char* value);
HOST_EXPORT bool cfg_write_user_ini_file();

// Control points of the standalone host.
HOST_EXPORT void cfg_set_value(const std::string& name, bool on);
HOST_EXPORT void cfg_clear_values();
HOST_EXPORT void cfg_set_user_ini_file(const std::string& path);
// The user settings file in use.
HOST_EXPORT std::string cfg_get_user_ini_file();
