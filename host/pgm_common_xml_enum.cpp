#include "host/pgm_common_xml_enum.h"

#include <unordered_map>

#include "host/host_detail.h"

namespace {
struct KIND_NAME {
    PGM_COMMON_XML_ENUM kind;
    const char* name;
};

const KIND_NAME kind_names[] = {
#define PGM_COMMON_XML_ENUM_ROW(name, number) {PGM_COMMON_XML_ENUM_##name, #name},
    PGM_COMMON_XML_ENUM_LIST(PGM_COMMON_XML_ENUM_ROW)
#undef PGM_COMMON_XML_ENUM_ROW
};

// Kinds by XML name, built once: the parser looks up every element of every file. Never
// destroyed, so that files can still be read while other modules unload.
const std::unordered_map<std::string_view, PGM_COMMON_XML_ENUM>& kinds_by_name() {
    static const auto* table = [] {
        auto* kinds = new std::unordered_map<std::string_view, PGM_COMMON_XML_ENUM>;
        for (const KIND_NAME& row : kind_names)
            kinds->emplace(row.name, row.kind);
        return kinds;
    }();
    return *table;
}
}  // namespace

const char* pgm_common_xml_enum_name(PGM_COMMON_XML_ENUM kind) {
    switch (kind) {
#define PGM_COMMON_XML_ENUM_CASE(name, number) \
    case PGM_COMMON_XML_ENUM_##name:           \
        return #name;
        PGM_COMMON_XML_ENUM_LIST(PGM_COMMON_XML_ENUM_CASE)
#undef PGM_COMMON_XML_ENUM_CASE
    }
    return "";
}

bool pgm_common_xml_enum_from_name(const std::string& name, PGM_COMMON_XML_ENUM* kind) {
    return HOST_DETAIL::kind_from_name(name, kind);
}

bool HOST_DETAIL::kind_from_name(std::string_view name, PGM_COMMON_XML_ENUM* kind) {
    auto it = kinds_by_name().find(name);
    if (it == kinds_by_name().end())
        return false;
    if (kind)
        *kind = it->second;
    return true;
}
