// What the generated element classes of both file formats share: filing a child into its
// typed grouping list, and the internal error for a child an element does not group.
#pragma once

#include <vector>

#include "host/msg.h"
#include "pgm/h/pgm_common_xml_export.h"

namespace pgm_common_xml_gfpdb {

// The count rules of both formats that can be broken, built once: the parser checks the
// counts of every element of every file it reads.
inline const PGM_XML_COUNT_LIST& exactly_one() {
    static const PGM_XML_COUNT_LIST counts = {{1}};
    return counts;
}
inline const PGM_XML_COUNT_LIST& zero_or_one() {
    static const PGM_XML_COUNT_LIST counts = {{0}, {1}};
    return counts;
}

[[noreturn]] inline void unsupported_child(const char* source, int line,
                                           const PGM_COMMON_XML_ELEMENT* parent,
                                           const PGM_COMMON_XML_ELEMENT* child) {
    MSG_INTERNAL_ERROR::report_varg("GFPDB", source, line,
                                    "Element \"%s\" does not support child element \"%s\"",
                                    pgm_common_xml_enum_name(parent->get_sub_class_type()),
                                    pgm_common_xml_enum_name(child->get_sub_class_type()));
}

// Adds to the front or the back of a grouping list, or removes its first or last entry; a
// removal from an empty list stops the program with `size_check`, the list's name.
template <typename T>
void regroup(const char* source, int line, const char* size_check,
             PGM_COMMON_XML_CHILD_LIST<T>& list, PGM_COMMON_XML_ELEMENT* child, bool remove,
             bool at_back) {
    if (remove) {
        if (list.empty())
            MSG_INTERNAL_ERROR::report(size_check, "GFPDB", source, line);
        if (at_back)
            list.pop_back();
        else
            list.erase(list.begin());
    } else if (at_back) {
        list.push_back(static_cast<T*>(child));
    } else {
        list.insert(list.begin(), static_cast<T*>(child));
    }
}

}  // namespace pgm_common_xml_gfpdb
