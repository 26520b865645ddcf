// Memory library and general string functions of the host.
#pragma once

#include <string>

#include "host/host_export.h"

// One static object per source file; the host counts the modules that are loaded.
class HOST_EXPORT MEM_INITIALIZER {
public:
    explicit MEM_INITIALIZER(const char* module);
    ~MEM_INITIALIZER();
    MEM_INITIALIZER(const MEM_INITIALIZER&) = delete;
    MEM_INITIALIZER& operator=(const MEM_INITIALIZER&) = delete;

private:
    const char* m_module;
};

namespace MEM_DETAIL {
// printf into a std::string, replacing its contents.
HOST_EXPORT void stl_raw_sprintf(std::string* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
}  // namespace MEM_DETAIL

// The caller makes the buffer large enough.
HOST_EXPORT char* gen_strcpy(char* dest, const char* src);
// 0 when equal, exactly or ignoring ASCII case respectively.
HOST_EXPORT int gen_strcmp(const char* a, const char* b);
HOST_EXPORT int gen_stricmp(const char* a, const char* b);
