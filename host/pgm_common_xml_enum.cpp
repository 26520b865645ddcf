#include "host/pgm_common_xml_enum.h"

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
}  // namespace

const char* pgm_common_xml_enum_name(PGM_COMMON_XML_ENUM kind) {
    for (const KIND_NAME& row : kind_names) {
        if (row.kind == kind)
            return row.name;
    }
    return "";
}

bool pgm_common_xml_enum_from_name(const std::string& name, PGM_COMMON_XML_ENUM* kind) {
    for (const KIND_NAME& row : kind_names) {
        if (name == row.name) {
            if (kind)
                *kind = row.kind;
            return true;
        }
    }
    return false;
}
