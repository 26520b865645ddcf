// The element base of the XML document library (declared in pgm/h/pgm_common_xml_export.h).
#include <algorithm>
#include <limits>

#include "host/host_detail.h"
#include "host/sanitizer.h"
#include "pgm/h/pgm_common_xml_export.h"

#define ELEMENT_ASSERT(cond)                                                                     \
    do {                                                                                         \
        if (!(cond))                                                                             \
            MSG_INTERNAL_ERROR::report(#cond, "GFPDB", "pgm/h/pgm_common_xml_export", __LINE__); \
    } while (0)

namespace {
// Decimal digits only, with blanks around them, fitting 32 bits: how files hold numbers.
bool parse_uint32(const std::string& text, uint32_t* value) {
    const std::string digits = HOST_DETAIL::trim(text);
    uint64_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > std::numeric_limits<uint32_t>::max())
            return false;
    }
    *value = static_cast<uint32_t>(number);
    return !digits.empty();
}

// `allowed` lists the accepted texts joined by "|"; an empty list accepts any text.
bool is_allowed(std::string_view allowed, const std::string& text) {
    if (allowed.empty())
        return true;
    for (size_t start = 0;;) {
        const size_t bar = allowed.find('|', start);
        const size_t end = bar == std::string_view::npos ? allowed.size() : bar;
        if (allowed.substr(start, end - start) == text)
            return true;
        if (bar == std::string_view::npos)
            return false;
        start = bar + 1;
    }
}

std::string count_text(const PGM_XML_COUNT_LIST& counts) {
    const uint32_t low = counts[0][0];
    if (counts.size() == 1)
        return "exactly " + std::to_string(low);
    const uint32_t high = counts[1][0];
    if (high == std::numeric_limits<uint32_t>::max())
        return "at least " + std::to_string(low);
    return "from " + std::to_string(low) + " to " + std::to_string(high);
}
}  // namespace

namespace {
// Freed element memory by size in steps of 16 bytes, per thread, as lists threaded through the
// blocks themselves. Plain data, so that it is there for elements destroyed after the
// thread's other objects; the keeper below hands the blocks back when the thread ends.
struct ELEMENT_BLOCKS {
    static constexpr size_t step = 16;
    static constexpr size_t lists = 64;     // up to 1 KB; larger elements go to the allocator
    static constexpr unsigned most = 2048;  // blocks kept per size: a large file's tree
    void* first[lists];
    unsigned count[lists];
    bool keeper;  // the keeper below is set up on this thread
    bool closed;
};
thread_local ELEMENT_BLOCKS element_blocks;

struct ELEMENT_BLOCK_KEEPER {
    ~ELEMENT_BLOCK_KEEPER() {
        for (size_t i = 0; i < ELEMENT_BLOCKS::lists; ++i) {
            while (void* block = element_blocks.first[i]) {
                element_blocks.first[i] = *static_cast<void**>(block);
                ::operator delete(block);
            }
            element_blocks.count[i] = 0;
        }
        element_blocks.closed = true;
    }
};

// Sets up the thread's keeper, before the thread keeps its first block.
void keep_blocks_until_the_thread_ends() {
    static thread_local ELEMENT_BLOCK_KEEPER keeper;
    (void)keeper;
    element_blocks.keeper = true;
}

size_t block_list(size_t size) {
    return (size + ELEMENT_BLOCKS::step - 1) / ELEMENT_BLOCKS::step;
}

// Sanitizers see every element come and go through the allocator.
constexpr bool keep_blocks = !HOST_ADDRESS_SANITIZER;
}  // namespace

void* PGM_COMMON_XML_ELEMENT::operator new(size_t size) {
    const size_t list = block_list(size);
    if (!keep_blocks || list >= ELEMENT_BLOCKS::lists)
        return ::operator new(size);
    ELEMENT_BLOCKS& kept = element_blocks;
    if (void* block = kept.first[list]) {
        kept.first[list] = *static_cast<void**>(block);
        --kept.count[list];
        return block;
    }
    return ::operator new(list* ELEMENT_BLOCKS::step);
}

void PGM_COMMON_XML_ELEMENT::operator delete(void* block, size_t size) {
    const size_t list = block_list(size);
    if (!keep_blocks || list >= ELEMENT_BLOCKS::lists) {
        ::operator delete(block);
        return;
    }
    // Once the thread's keeper is gone, blocks go straight back.
    ELEMENT_BLOCKS& kept = element_blocks;
    if (kept.closed || kept.count[list] >= ELEMENT_BLOCKS::most) {
        ::operator delete(block);
        return;
    }
    if (!kept.keeper)
        keep_blocks_until_the_thread_ends();
    *static_cast<void**>(block) = kept.first[list];
    kept.first[list] = block;
    ++kept.count[list];
}

PGM_COMMON_XML_ELEMENT::PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM type,
                                               PGM_COMMON_XML_ENUM sub_class_type,
                                               PGM_XML_TYPE value_type, PGM_XML_EXIST exist,
                                               const std::string& default_value,
                                               const std::string& allowed, void* value_ptr)
    : m_type(type),
      m_sub_class_type(sub_class_type),
      m_value_type(value_type),
      m_exist(exist),
      m_default_value(default_value),
      m_allowed(allowed),
      m_value_ptr(value_ptr) {}

PGM_COMMON_XML_ELEMENT::~PGM_COMMON_XML_ELEMENT() {
    for (PGM_COMMON_XML_ELEMENT* child : m_children)
        delete child;
}

bool PGM_COMMON_XML_ELEMENT::check_child_count() {
    bool ok = true;
    for (PGM_COMMON_XML_ELEMENT* child : m_children)
        ok = child->check_child_count() && ok;
    return ok;
}

void PGM_COMMON_XML_ELEMENT::clear_child_group() {}

void PGM_COMMON_XML_ELEMENT::group_child(PGM_COMMON_XML_ELEMENT*, bool, bool) {}

void PGM_COMMON_XML_ELEMENT::add_child(PGM_COMMON_XML_ELEMENT* child,
                                       PGM_COMMON_XML_ELEMENT* before) {
    ELEMENT_ASSERT(child != NULL);
    ELEMENT_ASSERT(child->m_parent == NULL);
    if (!before) {
        // Room for a typical element's children at once, rather than growing one by one,
        // unless the reader has made room for exactly the children it holds.
        if (m_children.capacity() == 0)
            m_children.reserve(8);
        m_children.push_back(child);
        child->m_parent = this;
        group_child(child, false, true);
        return;
    }
    auto at = std::find(m_children.begin(), m_children.end(), before);
    ELEMENT_ASSERT(at != m_children.end());
    m_children.insert(at, child);
    child->m_parent = this;
    // The typed lists follow document order, so an insertion regroups every child.
    clear_child_group();
    for (PGM_COMMON_XML_ELEMENT* c : m_children)
        group_child(c, false, true);
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML_ELEMENT::remove_child(PGM_COMMON_XML_ELEMENT* child) {
    auto at = std::find(m_children.begin(), m_children.end(), child);
    if (!child || at == m_children.end())
        return nullptr;
    m_children.erase(at);
    child->m_parent = nullptr;
    clear_child_group();
    for (PGM_COMMON_XML_ELEMENT* c : m_children)
        group_child(c, false, true);
    return child;
}

// Counted in place: the parser checks every element's counts, so this runs for each child kind
// of each element of every file.
size_t PGM_COMMON_XML_ELEMENT::get_child_count(PGM_COMMON_XML_ENUM type, bool direct) const {
    size_t count = 0;
    for (const PGM_COMMON_XML_ELEMENT* child : m_children) {
        count += child->m_type == type;
        if (!direct)
            count += child->get_child_count(type, false);
    }
    return count;
}

std::vector<PGM_COMMON_XML_ELEMENT*> PGM_COMMON_XML_ELEMENT::get_childs(PGM_COMMON_XML_ENUM type,
                                                                        bool direct) const {
    std::vector<PGM_COMMON_XML_ELEMENT*> found;
    for (PGM_COMMON_XML_ELEMENT* child : m_children) {
        if (child->m_type == type)
            found.push_back(child);
        if (!direct) {
            std::vector<PGM_COMMON_XML_ELEMENT*> below = child->get_childs(type, false);
            found.insert(found.end(), below.begin(), below.end());
        }
    }
    return found;
}

void PGM_COMMON_XML_ELEMENT::write_value(unsigned long value) {
    ELEMENT_ASSERT(m_value_type == PGM_XML_TYPE_UINT32);
    ELEMENT_ASSERT(value <= std::numeric_limits<uint32_t>::max());
    *static_cast<uint32_t*>(m_value_ptr) = static_cast<uint32_t>(value);
    m_has_value = true;
}

void PGM_COMMON_XML_ELEMENT::write_string(std::string value) {
    ELEMENT_ASSERT(m_value_type == PGM_XML_TYPE_STRING);
    *static_cast<std::string*>(m_value_ptr) = std::move(value);
    m_has_value = true;
}

bool PGM_COMMON_XML_ELEMENT::read_value_text(const std::string& text) {
    return read_value_text(std::string(text));
}

bool PGM_COMMON_XML_ELEMENT::read_value_text(std::string&& text) {
    if (!is_allowed(m_allowed, text))
        return false;
    uint32_t number = 0;
    if (m_value_type == PGM_XML_TYPE_UINT32 && parse_uint32(text, &number)) {
        write_value(number);
        return true;
    }
    if (m_value_type == PGM_XML_TYPE_STRING) {
        write_string(std::move(text));
        return true;
    }
    return false;
}

std::string PGM_COMMON_XML_ELEMENT::get_value_text() const {
    if (!m_has_value && !m_default_value.empty())
        return m_default_value;
    // A typed class may also have set its member directly.
    if (m_value_type == PGM_XML_TYPE_UINT32)
        return std::to_string(*static_cast<const uint32_t*>(m_value_ptr));
    if (m_value_type == PGM_XML_TYPE_STRING)
        return *static_cast<const std::string*>(m_value_ptr);
    return std::string();
}

const std::string* PGM_COMMON_XML_ELEMENT::get_value_string() const {
    if (m_value_type != PGM_XML_TYPE_STRING)
        return nullptr;
    if (!m_has_value && !m_default_value.empty())
        return &m_default_value;
    return static_cast<const std::string*>(m_value_ptr);
}

void PGM_COMMON_XML_ELEMENT::write_attribute_value(const std::string& name, unsigned long value) {
    PGM_COMMON_XML_ATTRIBUTE* attribute = find_attribute(name);
    ELEMENT_ASSERT(attribute != NULL);
    ELEMENT_ASSERT(attribute->type == PGM_XML_TYPE_UINT32);
    ELEMENT_ASSERT(value <= std::numeric_limits<uint32_t>::max());
    *static_cast<uint32_t*>(attribute->ptr) = static_cast<uint32_t>(value);
    attribute->value = std::to_string(value);
}

void PGM_COMMON_XML_ELEMENT::write_attribute_string(const std::string& name, std::string value) {
    PGM_COMMON_XML_ATTRIBUTE* attribute = find_attribute(name);
    ELEMENT_ASSERT(attribute != NULL);
    ELEMENT_ASSERT(attribute->type == PGM_XML_TYPE_STRING);
    if (attribute->ptr)
        *static_cast<std::string*>(attribute->ptr) = value;
    attribute->value = std::move(value);
}

void PGM_COMMON_XML_ELEMENT::write_attribute_enum(const std::string& name,
                                                  PGM_COMMON_XML_ENUM value) {
    PGM_COMMON_XML_ATTRIBUTE* attribute = find_attribute(name);
    ELEMENT_ASSERT(attribute != NULL);
    ELEMENT_ASSERT(attribute->type == PGM_XML_TYPE_ENUM);
    *static_cast<PGM_COMMON_XML_ENUM*>(attribute->ptr) = value;
    attribute->value = pgm_common_xml_enum_name(value);
}

bool PGM_COMMON_XML_ELEMENT::read_attribute_text(const std::string& name, const std::string& text) {
    PGM_COMMON_XML_ATTRIBUTE* attribute = find_attribute(name);
    if (!attribute || !is_allowed(attribute->allowed, text))
        return false;
    if (!attribute->ptr) {
        // A control attribute of the parser: only its text matters.
        attribute->value = text;
        return true;
    }
    uint32_t number = 0;
    PGM_COMMON_XML_ENUM kind = PGM_COMMON_XML_ENUM__INVALID__;
    switch (attribute->type) {
        case PGM_XML_TYPE_UINT32:
            if (!parse_uint32(text, &number))
                return false;
            write_attribute_value(name, number);
            return true;
        case PGM_XML_TYPE_STRING:
            write_attribute_string(name, text);
            return true;
        case PGM_XML_TYPE_ENUM:
            if (!pgm_common_xml_enum_from_name(text, &kind))
                return false;
            write_attribute_enum(name, kind);
            return true;
        default:
            return false;
    }
}

std::string PGM_COMMON_XML_ELEMENT::get_attribute_text(const std::string& name) const {
    for (const PGM_COMMON_XML_ATTRIBUTE& attribute : m_attributes) {
        if (attribute.name == name)
            return attribute.value.empty() ? std::string(attribute.default_value) : attribute.value;
    }
    return std::string();
}

void PGM_COMMON_XML_ELEMENT::init_check() {
    ELEMENT_ASSERT(m_exist < PGM_XML_EXIST_INVALID);
    // The value goes through the member the typed class handed over, so kind and member agree.
    ELEMENT_ASSERT(m_value_type == PGM_XML_TYPE_NONE || m_value_type == PGM_XML_TYPE_UINT32 ||
                   m_value_type == PGM_XML_TYPE_STRING);
    ELEMENT_ASSERT(m_value_type == PGM_XML_TYPE_NONE || m_value_ptr != NULL);
    ELEMENT_ASSERT(m_value_type != PGM_XML_TYPE_NONE || m_value_ptr == NULL);
    for (const PGM_COMMON_XML_ATTRIBUTE& attribute : m_attributes) {
        ELEMENT_ASSERT(!attribute.ptr || attribute.type == PGM_XML_TYPE_UINT32 ||
                       attribute.type == PGM_XML_TYPE_STRING ||
                       attribute.type == PGM_XML_TYPE_ENUM);
    }
}

bool PGM_COMMON_XML_ELEMENT::check_count(PGM_COMMON_XML_ENUM child_type,
                                         const PGM_XML_COUNT_LIST& counts) {
    ELEMENT_ASSERT(counts.size() == 1 || counts.size() == 2);
    ELEMENT_ASSERT(!counts[0].empty() && !counts.back().empty());
    const size_t found = get_child_count(child_type, true);
    const bool ok =
        counts.size() == 1 ? found == counts[0][0] : found >= counts[0][0] && found <= counts[1][0];
    if (!ok) {
        m_count_errors.push_back("Element '" + std::string(get_name()) + "' has " +
                                 std::to_string(found) + " '" +
                                 pgm_common_xml_enum_name(child_type) + "' child elements, " +
                                 count_text(counts) + " expected");
    }
    return ok;
}

PGM_COMMON_XML_ATTRIBUTE* PGM_COMMON_XML_ELEMENT::find_attribute(const std::string& name) {
    for (PGM_COMMON_XML_ATTRIBUTE& attribute : m_attributes) {
        if (attribute.name == name)
            return &attribute;
    }
    return nullptr;
}
