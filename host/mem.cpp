#include "host/mem.h"

#include <cstring>
#include <map>

#include "host/host_detail.h"

namespace {
// How many sources of each module are loaded. Never destroyed: modules unload in any order.
std::map<std::string, int>& loaded_modules() {
    static auto* modules = new std::map<std::string, int>;
    return *modules;
}

int lower(char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : static_cast<unsigned char>(c);
}
}  // namespace

MEM_INITIALIZER::MEM_INITIALIZER(const char* module) : m_module(module ? module : "") {
    ++loaded_modules()[m_module];
}

MEM_INITIALIZER::~MEM_INITIALIZER() {
    auto it = loaded_modules().find(m_module);
    if (it != loaded_modules().end() && --it->second == 0)
        loaded_modules().erase(it);
}

namespace MEM_DETAIL {
void stl_raw_sprintf(std::string* out, const char* format, ...) {
    if (!out)
        return;
    va_list args;
    va_start(args, format);
    *out = HOST_DETAIL::vformat(format, args);
    va_end(args);
}
}  // namespace MEM_DETAIL

char* gen_strcpy(char* dest, const char* src) {
    return std::strcpy(dest, src ? src : "");
}

int gen_strcmp(const char* a, const char* b) {
    return std::strcmp(a ? a : "", b ? b : "");
}

int gen_stricmp(const char* a, const char* b) {
    a = a ? a : "";
    b = b ? b : "";
    for (; *a && lower(*a) == lower(*b); ++a, ++b) {
    }
    return lower(*a) - lower(*b);
}
