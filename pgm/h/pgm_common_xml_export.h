// The element base of the XML document library. Typed element classes derive from it, hold
// their value in a member whose address they hand over, and describe their attributes here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_export.h"
#include "host/msg.h"
#include "host/pgm_common_xml_enum.h"

// Value kinds of elements and attributes.
enum PGM_XML_TYPE : uint8_t {
    PGM_XML_TYPE_NONE = 0,
    PGM_XML_TYPE_BOOL = 1,
    PGM_XML_TYPE_INT32 = 2,
    PGM_XML_TYPE_INT64 = 3,
    PGM_XML_TYPE_UINT32 = 4,
    PGM_XML_TYPE_STRING = 5,
    PGM_XML_TYPE_UINT64 = 6,
    PGM_XML_TYPE_DOUBLE = 7,
    PGM_XML_TYPE_HEX = 8,
    PGM_XML_TYPE_ENUM = 9,
    PGM_XML_TYPE_LIST = 10,
    PGM_XML_TYPE_INVALID = 11
};

// Whether an element or attribute carries a value.
enum PGM_XML_EXIST : uint8_t {
    PGM_XML_EXIST_REQUIRED = 0,
    PGM_XML_EXIST_OPTIONAL = 1,
    PGM_XML_EXIST_NONE = 2,
    PGM_XML_EXIST_INVALID = 3
};

struct PGM_COMMON_XML_ATTRIBUTE {
    std::string name;
    std::string value;          // text as read or written; empty until then
    std::string default_value;  // written when no value was set
    std::string allowed;        // alternatives joined by "|"; empty: any
    uint8_t type;               // PGM_XML_TYPE
    uint8_t exist;              // PGM_XML_EXIST
    void* ptr;                  // the member that holds the typed value
};

// One count rule: a list of count lists, {{1}} exactly one, {{0},{1}} zero or one,
// {{0},{4294967295}} any number (a two-entry list is a range).
using PGM_XML_COUNT_LIST = std::vector<std::vector<uint32_t>>;

class HOST_EXPORT PGM_COMMON_XML_ELEMENT {
public:
    PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM type, PGM_COMMON_XML_ENUM sub_class_type,
                           PGM_XML_TYPE value_type, PGM_XML_EXIST exist,
                           const std::string& default_value, const std::string& allowed,
                           void* value_ptr);
    // Destroys the element and all its children.
    virtual ~PGM_COMMON_XML_ELEMENT();
    PGM_COMMON_XML_ELEMENT(const PGM_COMMON_XML_ELEMENT&) = delete;
    PGM_COMMON_XML_ELEMENT& operator=(const PGM_COMMON_XML_ELEMENT&) = delete;

    // Elements are made and destroyed by the thousand for every file read: the memory of
    // destroyed ones is kept by size, per thread, for the next ones.
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size);

    // Hooks of the typed classes, in this order.
    virtual bool check_child_count();
    virtual void clear_child_group();
    virtual void group_child(PGM_COMMON_XML_ELEMENT* child, bool remove, bool at_back);

    // Appends a child (or inserts it before `before`), which this element then owns.
    void add_child(PGM_COMMON_XML_ELEMENT* child, PGM_COMMON_XML_ELEMENT* before);
    // Detaches a child without destroying it; the caller owns it again.
    PGM_COMMON_XML_ELEMENT* remove_child(PGM_COMMON_XML_ELEMENT* child);
    // Direct children of one kind, in document order, not owned.
    size_t get_child_count(PGM_COMMON_XML_ENUM type, bool direct = true) const;
    std::vector<PGM_COMMON_XML_ELEMENT*> get_childs(PGM_COMMON_XML_ENUM type,
                                                    bool direct = true) const;
    const std::vector<PGM_COMMON_XML_ELEMENT*>& get_all_childs() const { return m_children; }
    PGM_COMMON_XML_ELEMENT* get_parent() const { return m_parent; }

    PGM_COMMON_XML_ENUM get_type() const { return m_type; }
    PGM_COMMON_XML_ENUM get_sub_class_type() const { return m_sub_class_type; }
    const char* get_name() const { return pgm_common_xml_enum_name(m_type); }
    PGM_XML_TYPE get_value_type() const { return m_value_type; }
    PGM_XML_EXIST get_exist() const { return m_exist; }
    const std::string& get_default_value() const { return m_default_value; }

    // The value, through the member the typed class handed over.
    void write_value(unsigned long value);
    void write_string(std::string value);
    // Reads the value from text as a file holds it; false when the text does not fit the kind.
    bool read_value_text(const std::string& text);
    // The value as a file holds it (numbers in decimal); "" for an element without a value.
    std::string get_value_text() const;
    bool has_value() const { return m_has_value; }

    void write_attribute_value(const std::string& name, unsigned long value);
    void write_attribute_string(const std::string& name, std::string value);
    // An enumerated attribute holds a kind and is written as that kind's XML name.
    void write_attribute_enum(const std::string& name, PGM_COMMON_XML_ENUM value);
    // Reads an attribute from text as a file holds it; false for an unknown attribute or a
    // text that does not fit its kind or allowed values.
    bool read_attribute_text(const std::string& name, const std::string& text);
    const std::vector<PGM_COMMON_XML_ATTRIBUTE>& get_attributes() const { return m_attributes; }
    // The text an attribute is written with: its value, else its default.
    std::string get_attribute_text(const std::string& name) const;

    // Count problems found by check_count, for the parser to report.
    const std::vector<std::string>& get_count_errors() const { return m_count_errors; }

protected:
    // Registering an attribute checks its descriptor; a broken one stops the program.
    inline void add_attribute(const std::string& name, PGM_XML_TYPE type, PGM_XML_EXIST exist,
                              const std::string& default_value, const std::string& allowed,
                              void* ptr);
    // Called by every typed constructor after its attributes are registered.
    void init_check();
    // Checks the number of direct children of one kind against a count rule; a miss is
    // recorded and answered false.
    bool check_count(PGM_COMMON_XML_ENUM child_type, const PGM_XML_COUNT_LIST& counts);

private:
    PGM_COMMON_XML_ATTRIBUTE* find_attribute(const std::string& name);

    PGM_COMMON_XML_ENUM m_type;
    PGM_COMMON_XML_ENUM m_sub_class_type;
    PGM_XML_TYPE m_value_type;
    PGM_XML_EXIST m_exist;
    std::string m_default_value;
    std::string m_allowed;
    void* m_value_ptr;
    bool m_has_value = false;
    PGM_COMMON_XML_ELEMENT* m_parent = nullptr;
    std::vector<PGM_COMMON_XML_ELEMENT*> m_children;
    std::vector<PGM_COMMON_XML_ATTRIBUTE> m_attributes;
    std::vector<std::string> m_count_errors;
};

#define PGM_COMMON_XML_EXPORT_ASSERT(cond)                                                       \
    do {                                                                                         \
        if (!(cond))                                                                             \
            MSG_INTERNAL_ERROR::report(#cond, "GFPDB", "pgm/h/pgm_common_xml_export", __LINE__); \
    } while (0)

inline void PGM_COMMON_XML_ELEMENT::add_attribute(const std::string& name, PGM_XML_TYPE type,
                                                  PGM_XML_EXIST exist,
                                                  const std::string& default_value,
                                                  const std::string& allowed, void* ptr) {
    PGM_COMMON_XML_EXPORT_ASSERT(name.size());
    PGM_COMMON_XML_EXPORT_ASSERT(type < PGM_XML_TYPE_INVALID);
    PGM_COMMON_XML_EXPORT_ASSERT(exist < PGM_XML_EXIST_INVALID);
    // The parser's control attributes carry no value of their own.
    if (name == "__if_continue__" || name == "__if_skip__" || name == "__hidden__") {
        PGM_COMMON_XML_EXPORT_ASSERT(ptr == NULL);
    } else {
        PGM_COMMON_XML_EXPORT_ASSERT(ptr != NULL);
    }
    m_attributes.push_back({name, std::string(), default_value, allowed, type, exist, ptr});
}

#undef PGM_COMMON_XML_EXPORT_ASSERT
