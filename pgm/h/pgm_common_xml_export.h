// The element base of the XML document library. Typed element classes derive from it, hold
// their value in a member whose address they hand over, and describe their attributes here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
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

// The name, default and allowed texts are the element class's own (literals or statics that
// outlive every element): a file's thousands of elements do not copy them.
struct PGM_COMMON_XML_ATTRIBUTE {
    const char* name;
    std::string value;          // text as read or written; empty until then
    const char* default_value;  // written when no value was set
    const char* allowed;        // alternatives joined by "|"; empty: any
    uint8_t type;               // PGM_XML_TYPE
    uint8_t exist;              // PGM_XML_EXIST
    void* ptr;                  // the member that holds the typed value
};

// One count rule: a list of count lists, {{1}} exactly one, {{0},{1}} zero or one,
// {{0},{4294967295}} any number (a two-entry list is a range).
using PGM_XML_COUNT_LIST = std::vector<std::vector<uint32_t>>;

// A typed element's list of its children of one kind, in document order, not owning them.
// Most lists of a file hold one child or none (an action's name, its command), so the first
// child is kept in the list itself and only a second one takes memory of its own: reading a
// file then builds its lists without an allocation each. Read like a std::vector, and turned
// into one where a copy is wanted.
template <typename T>
class PGM_COMMON_XML_CHILD_LIST {
public:
    PGM_COMMON_XML_CHILD_LIST() = default;
    PGM_COMMON_XML_CHILD_LIST(const PGM_COMMON_XML_CHILD_LIST& other) { *this = other; }
    PGM_COMMON_XML_CHILD_LIST& operator=(const PGM_COMMON_XML_CHILD_LIST& other) {
        if (this != &other) {
            clear();
            for (T* child : other)
                push_back(child);
        }
        return *this;
    }
    ~PGM_COMMON_XML_CHILD_LIST() { release(); }

    T** begin() { return data(); }
    T** end() { return data() + m_size; }
    T* const* begin() const { return data(); }
    T* const* end() const { return data() + m_size; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    T* operator[](size_t i) const { return data()[i]; }
    // As std::vector::at: a position past the end throws std::out_of_range.
    T* at(size_t i) const {
        if (i >= m_size)
            throw std::out_of_range("PGM_COMMON_XML_CHILD_LIST::at");
        return data()[i];
    }
    T* front() const { return data()[0]; }
    T* back() const { return data()[m_size - 1]; }

    void push_back(T* child) { insert(end(), child); }
    void insert(T* const* at, T* child) {
        const size_t i = static_cast<size_t>(at - begin());
        if (m_size == m_capacity)
            grow();
        T** d = data();
        std::copy_backward(d + i, d + m_size, d + m_size + 1);
        d[i] = child;
        ++m_size;
    }
    void erase(T* const* at) {
        T** d = data();
        const size_t i = static_cast<size_t>(at - d);
        std::copy(d + i + 1, d + m_size, d + i);
        --m_size;
    }
    void pop_back() { --m_size; }
    void clear() { m_size = 0; }

    template <typename U>
    operator std::vector<U*>() const {  // NOLINT: copied like the vector it stands for
        return std::vector<U*>(begin(), end());
    }

private:
    T** data() { return m_capacity == 1 ? &m_one : m_many; }
    T* const* data() const { return m_capacity == 1 ? &m_one : m_many; }
    void grow() {
        const size_t capacity = m_capacity * 4;
        T** many = new T*[capacity];
        std::copy(begin(), end(), many);
        release();
        m_many = many;
        m_capacity = capacity;
    }
    void release() {
        if (m_capacity > 1)
            delete[] m_many;
        m_capacity = 1;
    }

    union {
        T* m_one = nullptr;
        T** m_many;
    };
    size_t m_size = 0;
    size_t m_capacity = 1;
};

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
    // Room for `count` children, for a reader that knows how many will come.
    void reserve_children(size_t count) { m_children.reserve(count); }
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
    // The same, taking the text over when it is kept; a text that is refused is left as it was.
    bool read_value_text(std::string&& text);
    // The value as a file holds it (numbers in decimal); "" for an element without a value.
    std::string get_value_text() const;
    // The same text, held by a text element, without a copy; null for another kind of value.
    const std::string* get_value_string() const;
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
    inline void add_attribute(const char* name, PGM_XML_TYPE type, PGM_XML_EXIST exist,
                              const char* default_value, const char* allowed, void* ptr);
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

inline void PGM_COMMON_XML_ELEMENT::add_attribute(const char* name_text, PGM_XML_TYPE type,
                                                  PGM_XML_EXIST exist, const char* default_value,
                                                  const char* allowed, void* ptr) {
    const std::string_view name(name_text ? name_text : "");
    PGM_COMMON_XML_EXPORT_ASSERT(name.size());
    PGM_COMMON_XML_EXPORT_ASSERT(default_value && allowed);
    PGM_COMMON_XML_EXPORT_ASSERT(type < PGM_XML_TYPE_INVALID);
    PGM_COMMON_XML_EXPORT_ASSERT(exist < PGM_XML_EXIST_INVALID);
    // The parser's control attributes carry no value of their own.
    if (name == "__if_continue__" || name == "__if_skip__" || name == "__hidden__") {
        PGM_COMMON_XML_EXPORT_ASSERT(ptr == NULL);
    } else {
        PGM_COMMON_XML_EXPORT_ASSERT(ptr != NULL);
    }
    m_attributes.push_back({name_text, std::string(), default_value, allowed, type, exist, ptr});
}

#undef PGM_COMMON_XML_EXPORT_ASSERT
