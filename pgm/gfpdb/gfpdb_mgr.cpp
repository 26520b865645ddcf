// The flash database's vocabulary and message catalogue, the technology-independent records,
// and the manager base: lookups, common validators, the data-list grammar, the two database
// directories and the persistence of user records.
#include "pgm/gfpdb/gfpdb_mgr.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string_view>

#include "host/cfg.h"
#include "host/fio.h"
#include "host/mem.h"
#include "host/msg.h"
#include "host/pgm_common.h"
#include "host/pgm_common_xml.h"
#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_record_pool.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_mgr";
MEM_INITIALIZER mem_initializer("GFPDB");
}  // namespace

// ---------------------------------------------------------------------------------------------
// Display tables

const std::string gfpdb_act_property_label[GFPDB_ACT_PROPERTY_COUNT] = {
    "Name:",
    "Command:",
    "Data:",
    "Delay(us):",
    "Command-Data(bus width):",  // Write Register
    "Name:",
    "Command:",
    "Data length(byte):",
    "Expected data:",
    "Expected data mask:",
    "Attempt count:",
    "Delay(us):",
    "Command-Data(bus width):",  // Read Register
    "Name:",
    "Command:",
    "Address:",
    "Data:",
    "Page size(byte):",
    "Addressing mode(byte):",
    "Delay(us):",
    "Command-Address-Data(bus width):",  // Write Data
    "Name:",
    "Command:",
    "Address:",
    "Data length(byte):",
    "Expected data:",
    "Expected data mask:",
    "Addressing mode(byte):",
    "Dummy clock cycle:",
    "Delay(us):",
    "Command-Address-Data(bus width):",  // Read Data
    "Name:",
    "Command:",
    "Address:",
    "Erase size(byte):",
    "Addressing mode(byte):",
    "Delay(us):",
    "Command-Address(bus width):",  // Erase
    "",
    ""  // Custom: description and direction carry no label
};

const std::string gfpdb_act_type_name[GFPDB_ACT_TYPE_COUNT] = {
    "Write Register", "Read Register", "Write Data", "Read Data", "Erase", "Custom"};

const std::string gfpdb_op_type_name[GFPDB_OP_TYPE_COUNT] = {
    "Initialization", "Program", "Erase", "Verify/Blank-Check/Examine", "Termination"};

const std::string gfpdb_op_type_description[GFPDB_OP_TYPE_COUNT] = {
    "The Programmer engine performs the Initialization operation at the beginning of the "
    "Program, Erase, Verify, Blank-Check, or Examine operation during .jic file programming.",
    "The Programmer engine performs the Program operation when the Program option is enabled in "
    "the Programmer tool for .jic file programming.",
    // The quotation marks are the typographic ones (U+201C, U+201D).
    "The Programmer engine performs the Erase operation when the Erase option is enabled in the "
    "Programmer tool for .jic file programming. The Programmer engine uses all erase actions "
    "specified between \u201c"
    "Erase data\u201d and \u201c"
    "End of data?\u201d to decide the optimal way of erasing the data.",
    "The Programmer engine performs the Verify/Blank-Check/Examine operation when the "
    "Verify/Blank-Check/Examine option is enabled in the Programmer tool for .jic file "
    "programming.",
    "The Programmer engine performs the Termination operation at the end of the Program, Erase, "
    "Verify, Blank-Check, or Examine operation during .jic file programming."};

const std::string gfpdb_prog_flow_template_name[GFPDB_PROG_FLOW_TEMPLATE_COUNT] = {
    "Micron", "Macronix", "Cypress", "Winbond"};

const std::string gfpdb_qspi_density[GFPDB_QSPI_DENSITY_COUNT] = {
    "1Mb",  "2Mb",   "4Mb",   "8Mb",   "16Mb",   "32Mb",
    "64Mb", "128Mb", "256Mb", "512Mb", "1024Mb", "2048Mb"};

const std::string gfpdb_qspi_io_voltage[GFPDB_QSPI_VOLTAGE_COUNT] = {"1.8V", "3.0V/3.3V"};

const std::string gfpdb_bus_width_1_1_1 = "1-1-1";
const std::string gfpdb_bus_width_1_1 = "1-1";

// ---------------------------------------------------------------------------------------------
// Message catalogue

namespace {
struct GFPDB_MESSAGE {
    GFPDB_MESSAGE_ID id;
    MSG_POST_TYPE type;
    const char* literal;  // text, "/", type letter, symbolic name; null: registered only
};

// In registration order.
const GFPDB_MESSAGE catalogue[GFPDB_MESSAGE_COUNT] = {
    {GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Device name '%1!s!' is invalid as it contains either an empty string or special "
     "characters./W GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE, MSG_POST_TYPE_WARNING,
     "Device name '%1!s!' is invalid as it conflicts with the reserved name for the programming "
     "flow template./W GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE"},
    {GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE, MSG_POST_TYPE_WARNING,
     "Device name '%1!s!' is invalid as it already exist in the device database./W "
     "GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE"},
    {GFPDB_INVALID_IO_VOLTAGE, MSG_POST_TYPE_WARNING,
     "Device I/O voltage '%1!s!' is invalid./W GFPDB_INVALID_IO_VOLTAGE"},
    {GFPDB_INCOMPATIBLE_IO_VOLTAGE, MSG_POST_TYPE_WARNING,
     "Flash device I/O voltage '%1!s!' is incompatible with the selected FPGA device family./W "
     "GFPDB_INCOMPATIBLE_IO_VOLTAGE"},
    {GFPDB_INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Device ID '%1!s!' is invalid. It either contains an empty string or special characters, "
     "or it is not in the list of byte formats./W "
     "GFPDB_INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_DEVICE_DENSITY, MSG_POST_TYPE_WARNING,
     "Device density '%1!s!' is invalid./W GFPDB_INVALID_DEVICE_DENSITY"},
    {GFPDB_INVALID_TOTAL_DEVICE_DIE, MSG_POST_TYPE_WARNING,
     "Total device die '%1!d!' is invalid./W GFPDB_INVALID_TOTAL_DEVICE_DIE"},
    {GFPDB_INVALID_DEVICE_DUMMY_CLOCK_CYCLE, MSG_POST_TYPE_WARNING,
     "Device dummy clock cycle '%1!d!' is invalid./W GFPDB_INVALID_DEVICE_DUMMY_CLOCK_CYCLE"},
    {GFPDB_INVALID_PROGRAMMING_FLOW_TEMPLATE, MSG_POST_TYPE_WARNING,
     "Programming flow template '%1!s!' is invalid./W GFPDB_INVALID_PROGRAMMING_FLOW_TEMPLATE"},
    {GFPDB_FOUND_DUPLICATED_FLASH_IN_DB, MSG_POST_TYPE_ERROR,
     "Found duplicate flash device names '%1!s!' in the %2!s! directory./E "
     "GFPDB_FOUND_DUPLICATED_FLASH_IN_DB"},
    {GFPDB_REGISTERED_ONLY_20510, MSG_POST_TYPE_ERROR, nullptr},
    {GFPDB_INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action name '%1!s!' is invalid as it contains an empty string or special characters./W "
     "GFPDB_INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action command '%1!s!' is invalid. It either contains an empty string or special "
     "characters, or it is not in the list of byte formats./W "
     "GFPDB_INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action data mask '%1!s!' is invalid. It either contains special characters or is not in "
     "the list of byte formats./W GFPDB_INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action expected data '%1!s!' is invalid. It either contains special characters or is not "
     "in the list of byte formats./W GFPDB_INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_DATA_WITH_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action data '%1!s!' is invalid. It either contains special characters or is not in the "
     "list of byte formats./W GFPDB_INVALID_ACTION_DATA_WITH_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action data length '%1!s!' is invalid. It either contains an empty string or special "
     "characters, or has a value of 0./W "
     "GFPDB_INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action attempt count '%1!s!' is invalid. It either contains an empty string or special "
     "characters, or has a value of 0./W "
     "GFPDB_INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action erase size '%1!s!' is invalid. It either contains an empty string or special "
     "characters, or has a value of 0./W "
     "GFPDB_INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action delay '%1!s!' is invalid. It contains either an empty string or special "
     "characters./W GFPDB_INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action page size '%1!s!' is invalid. It either contains an empty string or special "
     "characters, or has a value of 0./W "
     "GFPDB_INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action address '%1!s!' is invalid. It contains either an empty string or special "
     "characters./W GFPDB_INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Action addressing mode '%1!s!' is invalid. It either contains an empty string or special "
     "characters, or has a value of 0./W "
     "GFPDB_INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
     MSG_POST_TYPE_WARNING,
     "Action dummy clock cycle '%1!s!' is invalid. It contains either an empty string or "
     "special characters./W "
     "GFPDB_INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_ACTION_BUS_WIDTH, MSG_POST_TYPE_WARNING,
     "Action bus width '%1!s!' is invalid./W GFPDB_INVALID_ACTION_BUS_WIDTH"},
    {GFPDB_INVALID_ACTION_CUSTOM_DIRECTION, MSG_POST_TYPE_WARNING,
     "Action custom direction '%1!s!' is invalid./W GFPDB_INVALID_ACTION_CUSTOM_DIRECTION"},
    {GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION, MSG_POST_TYPE_WARNING,
     "Action custom description '%1!s!' is invalid due to an empty string./W "
     "GFPDB_INVALID_ACTION_CUSTOM_DESCRIPTION"},
    {GFPDB_FAILED_TO_UPDATE_DB, MSG_POST_TYPE_WARNING,
     "Failed to update the device database in the %1!s! directory./W GFPDB_FAILED_TO_UPDATE_DB"},
    {GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, MSG_POST_TYPE_WARNING,
     "Template name '%1!s!' is invalid as it contains either an empty string or special "
     "characters./W GFPDB_INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR"},
    {GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE, MSG_POST_TYPE_WARNING,
     "Template name '%1!s!' is invalid as it conflicts with the reserved name for the "
     "programming flow template./W GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE"},
    {GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE, MSG_POST_TYPE_WARNING,
     "Template name '%1!s!' is invalid as it conflicts with existing device name in the device "
     "database./W GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE"},
    {GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE, MSG_POST_TYPE_WARNING,
     "Template name '%1!s!' is invalid as it already exist in the template database./W "
     "GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE"},
};

// The ids and types in registration order, as the registrar takes them.
struct CATALOGUE_ARRAYS {
    CATALOGUE_ARRAYS() {
        for (int i = 0; i < GFPDB_MESSAGE_COUNT; ++i) {
            ids[i] = catalogue[i].id;
            types[i] = catalogue[i].type;
        }
    }
    unsigned ids[GFPDB_MESSAGE_COUNT];
    MSG_POST_TYPE types[GFPDB_MESSAGE_COUNT];
};
const CATALOGUE_ARRAYS catalogue_arrays;
MSG_ID_REGISTRAR registrar(catalogue_arrays.ids, catalogue_arrays.types, GFPDB_MESSAGE_COUNT);

const GFPDB_MESSAGE& find_message(GFPDB_MESSAGE_ID id) {
    for (const GFPDB_MESSAGE& m : catalogue) {
        if (m.id == id)
            return m;
    }
    MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown message id %u", id);
}

// A warning starts filtered or filled; the argument is handed on as fill_args takes it.
template <typename ARG>
MSG_POST* new_warning(GFPDB_MESSAGE_ID id, ARG arg) {
    const GFPDB_MESSAGE& message = find_message(id);
    GFPDB_ASSERT(message.literal && message.type == MSG_POST_TYPE_WARNING, source);
    if (MSG_INDEX::get_default_index()->is_filtered(id))
        return new MSG_W_NULL();
    MSG_POST* warning = new MSG_W(nullptr);
    warning->fill_args(message.literal, arg);
    warning->set_severity_level(1);
    warning->set_id(id);
    return warning;
}
}  // namespace

const char* gfpdb_message_literal(GFPDB_MESSAGE_ID id) {
    return find_message(id).literal;
}

MSG_POST* gfpdb_new_message(GFPDB_MESSAGE_ID id, const std::string& arg) {
    return new_warning(id, arg.c_str());
}

MSG_POST* gfpdb_new_message(GFPDB_MESSAGE_ID id, int arg) {
    return new_warning(id, arg);
}

MSG_POST* gfpdb_new_duplicate_flash_error(const std::string& name, const std::string& dir) {
    MSG_POST* error = new MSG_E(nullptr);
    error->fill_args(find_message(GFPDB_FOUND_DUPLICATED_FLASH_IN_DB).literal, name.c_str(),
                     dir.c_str());
    error->set_id(GFPDB_FOUND_DUPLICATED_FLASH_IN_DB);
    return error;
}

void gfpdb_post(GFPDB_MESSAGE_ID id, const std::string& arg) {
    std::unique_ptr<MSG_POST> message(gfpdb_new_message(id, arg));
    message->post();
}

void gfpdb_post(GFPDB_MESSAGE_ID id, int arg) {
    std::unique_ptr<MSG_POST> message(gfpdb_new_message(id, arg));
    message->post();
}

std::string gfpdb_condition_text(const char* stringified) {
    // Stringification turns the whitespace of a line break into one space; written on one
    // line, a condition has none next to brackets or member access.
    const std::string text = stringified;
    std::string folded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ' && !folded.empty()) {
            const char before = folded.back();
            const std::string after = text.substr(i + 1, 2);
            if (before == '(' || before == '[' || before == '.' ||
                (before == '>' && folded.size() > 1 && folded[folded.size() - 2] == '-') ||
                after.empty() || after[0] == ')' || after[0] == ']' || after[0] == '.' ||
                after == "->")
                continue;
        }
        folded += text[i];
    }
    return folded;
}

void gfpdb_internal_error_on(const char* stringified, const char* file, int line) {
    MSG_INTERNAL_ERROR::report(gfpdb_condition_text(stringified).c_str(), "GFPDB", file, line);
}

void gfpdb_debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    msg_local_vdebug("GFPDB", MSG_D_LEVEL_2, format, args);
    va_end(args);
}

// ---------------------------------------------------------------------------------------------
// Records

GFPDB_FLASH::GFPDB_FLASH(std::string name) : m_name(std::move(name)) {}
GFPDB_FLASH::~GFPDB_FLASH() = default;

void* GFPDB_FLASH::operator new(size_t size) {
    return GFPDB_RECORD_POOL::allocate(size);
}
void* GFPDB_FLASH::operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return GFPDB_RECORD_POOL::allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void GFPDB_FLASH::operator delete(void* block, size_t size) {
    GFPDB_RECORD_POOL::release(block, size);
}
const std::string GFPDB_FLASH::get_name() {
    return m_name;
}
void GFPDB_FLASH::set_name(std::string name) {
    m_name = std::move(name);
}
const std::string GFPDB_FLASH::get_density() {
    return m_density;
}
void GFPDB_FLASH::set_density(std::string density) {
    m_density = std::move(density);
}
uint32_t GFPDB_FLASH::get_density_in_bytes() {
    return static_cast<uint32_t>(get_density_in_bytes_qword());
}

uint64_t GFPDB_FLASH::get_density_in_bytes_qword() {
    const std::string& d = m_density;
    if (d.empty())
        return 0;
    size_t digits = 0;
    while (digits < d.size() && d[digits] >= '0' && d[digits] <= '9')
        ++digits;
    uint64_t multiplier = 0;
    if (digits < d.size()) {
        // Only "M" and "G" name a unit; a lower-case "b" after it counts bits.
        if (d[digits] == 'G')
            multiplier = 1073741824ULL;
        if (d[digits] == 'M')
            multiplier = 1048576ULL;
        if (digits + 1 < d.size() && d[digits + 1] == 'b')
            multiplier /= 8;
    }
    return PGM_COMMON::convert_string_to_qword(d.substr(0, digits), false) * multiplier;
}

const std::string GFPDB_FLASH::get_db_dir() {
    return m_db_dir;
}
void GFPDB_FLASH::set_db_dir(std::string dir) {
    m_db_dir = std::move(dir);
}
bool GFPDB_FLASH::get_flash_removable_permission() {
    return m_removable;
}
void GFPDB_FLASH::set_flash_removable_permission(bool removable) {
    m_removable = removable;
}

GFPDB_OPERATION::GFPDB_OPERATION() = default;
GFPDB_OPERATION::~GFPDB_OPERATION() = default;

void* GFPDB_OPERATION::operator new(size_t size) {
    return GFPDB_RECORD_POOL::allocate(size);
}
void GFPDB_OPERATION::operator delete(void* block, size_t size) {
    GFPDB_RECORD_POOL::release(block, size);
}
const std::string GFPDB_OPERATION::get_name() {
    return m_name;
}
void GFPDB_OPERATION::set_name(std::string name) {
    m_name = std::move(name);
}
const std::string GFPDB_OPERATION::get_operation_description() {
    return m_description;
}
GFPDB_OP_TYPE GFPDB_OPERATION::get_operation_type() {
    return m_operation_type;
}

// ---------------------------------------------------------------------------------------------
// Action values

namespace {
// The block's head: how many values, and the bytes of their texts.
struct VALUE_BLOCK_HEAD {
    uint32_t count;
    uint32_t text_bytes;
};

// A whole block's bytes, as its head tells them.
size_t value_block_bytes(const char* block, size_t slot_size) {
    const auto* head = reinterpret_cast<const VALUE_BLOCK_HEAD*>(block);
    return sizeof(VALUE_BLOCK_HEAD) + head->count * slot_size + head->text_bytes;
}

// Blocks come from the record pool, which takes a block back with its size.
char* new_value_block(size_t bytes) {
    return static_cast<char*>(GFPDB_RECORD_POOL::allocate(bytes));
}
void delete_value_block(char* block, size_t slot_size) {
    if (block)
        GFPDB_RECORD_POOL::release(block, value_block_bytes(block, slot_size));
}
}  // namespace

GFPDB_PROPERTY_VALUE_MAP::GFPDB_PROPERTY_VALUE_MAP(const GFPDB_PROPERTY_VALUE_MAP& other) {
    *this = other;
}

GFPDB_PROPERTY_VALUE_MAP& GFPDB_PROPERTY_VALUE_MAP::operator=(
    const GFPDB_PROPERTY_VALUE_MAP& other) {
    if (this == &other)
        return *this;
    clear();
    if (!other.m_block)
        return *this;
    const size_t bytes = value_block_bytes(other.m_block, sizeof(SLOT));
    m_block = new_value_block(bytes);
    std::memcpy(m_block, other.m_block, bytes);
    return *this;
}

const GFPDB_PROPERTY_VALUE_MAP::SLOT* GFPDB_PROPERTY_VALUE_MAP::slots() const {
    return reinterpret_cast<const SLOT*>(m_block + sizeof(VALUE_BLOCK_HEAD));
}

const char* GFPDB_PROPERTY_VALUE_MAP::texts() const {
    return m_block + sizeof(VALUE_BLOCK_HEAD) + size() * sizeof(SLOT);
}

size_t GFPDB_PROPERTY_VALUE_MAP::size() const {
    return m_block ? reinterpret_cast<const VALUE_BLOCK_HEAD*>(m_block)->count : 0;
}

GFPDB_PROPERTY_VALUE_MAP::ENTRY GFPDB_PROPERTY_VALUE_MAP::at(size_t i) const {
    const SLOT* slot = slots();
    const uint32_t begin = i ? slot[i - 1].end : 0;
    return {GFPDB_ACT_PROPERTY(slot[i].property),
            std::string_view(texts() + begin, slot[i].end - begin)};
}

bool GFPDB_PROPERTY_VALUE_MAP::find(GFPDB_ACT_PROPERTY property, std::string_view* value) const {
    const size_t count = size();
    const SLOT* slot = count ? slots() : nullptr;
    for (size_t i = 0; i < count && slot[i].property <= static_cast<uint32_t>(property); ++i) {
        if (slot[i].property == static_cast<uint32_t>(property)) {
            *value = at(i).second;
            return true;
        }
    }
    return false;
}

void GFPDB_PROPERTY_VALUE_MAP::set(GFPDB_ACT_PROPERTY property, std::string_view value) {
    const ENTRY entry{property, value};
    set(&entry, 1);
}

void GFPDB_PROPERTY_VALUE_MAP::set(const ENTRY* entries, size_t count) {
    // The old values and the new ones merged in property order, a new one replacing an old one
    // of its property: once to size the block, once to fill it. The texts may lie in the old
    // block, which goes only at the end.
    const size_t old_count = size();
    const SLOT* old_slots = old_count ? slots() : nullptr;
    const char* old_texts = old_count ? texts() : nullptr;
    auto old_entry = [&](size_t i) {
        const uint32_t begin = i ? old_slots[i - 1].end : 0;
        return ENTRY{GFPDB_ACT_PROPERTY(old_slots[i].property),
                     std::string_view(old_texts + begin, old_slots[i].end - begin)};
    };
    auto merge = [&](auto&& visit) {
        for (size_t i = 0, j = 0; i < old_count || j < count;) {
            const uint32_t old_property = i < old_count ? old_slots[i].property : UINT32_MAX;
            if (j == count || old_property < static_cast<uint32_t>(entries[j].first)) {
                visit(old_entry(i++));
                continue;
            }
            if (old_property == static_cast<uint32_t>(entries[j].first))
                ++i;
            visit(entries[j++]);
        }
    };
    size_t merged = 0;
    size_t text_bytes = 0;
    merge([&](const ENTRY& entry) {
        ++merged;
        text_bytes += entry.second.size();
    });
    char* block = new_value_block(sizeof(VALUE_BLOCK_HEAD) + merged * sizeof(SLOT) + text_bytes);
    *reinterpret_cast<VALUE_BLOCK_HEAD*>(block) = {static_cast<uint32_t>(merged),
                                                   static_cast<uint32_t>(text_bytes)};
    auto* slot = reinterpret_cast<SLOT*>(block + sizeof(VALUE_BLOCK_HEAD));
    char* text = block + sizeof(VALUE_BLOCK_HEAD) + merged * sizeof(SLOT);
    uint32_t end = 0;
    merge([&](const ENTRY& entry) {
        if (!entry.second.empty())
            std::memcpy(text + end, entry.second.data(), entry.second.size());
        end += static_cast<uint32_t>(entry.second.size());
        *slot++ = {static_cast<uint32_t>(entry.first), end};
    });
    delete_value_block(m_block, sizeof(SLOT));
    m_block = block;
}

void GFPDB_PROPERTY_VALUE_MAP::clear() {
    delete_value_block(m_block, sizeof(SLOT));
    m_block = nullptr;
}

GFPDB_ACTION::GFPDB_ACTION() = default;
GFPDB_ACTION::~GFPDB_ACTION() = default;

void* GFPDB_ACTION::operator new(size_t size) {
    return GFPDB_RECORD_POOL::allocate(size);
}
void GFPDB_ACTION::operator delete(void* block, size_t size) {
    GFPDB_RECORD_POOL::release(block, size);
}

GFPDB_ACTION& GFPDB_ACTION::operator=(const GFPDB_ACTION& other) {
    if (this == &other)
        return *this;
    m_name = other.m_name;
    m_action_type = other.m_action_type;
    m_property_list = other.m_property_list;
    m_property_value_map.clear();
    m_property_value_map = other.m_property_value_map;
    return *this;
}

const std::string GFPDB_ACTION::get_name() {
    return m_name;
}
void GFPDB_ACTION::set_name(std::string name) {
    m_name = std::move(name);
}
GFPDB_ACT_TYPE GFPDB_ACTION::get_action_type() {
    return m_action_type;
}
const std::vector<GFPDB_ACT_PROPERTY> GFPDB_ACTION::get_property_enum_list() {
    return m_property_list;
}

bool GFPDB_ACTION::property_value_is_jic_file(std::string value) {
    // The programming file is named in either case, never in mixed case.
    return value.find("jic") != std::string::npos || value.find("JIC") != std::string::npos;
}

GFPDB_USER_FLASH_TEMPLATE::~GFPDB_USER_FLASH_TEMPLATE() {
    gfpdb_delete_last_first(sdm_operation_list);
    gfpdb_delete_last_first(sfl_operation_list);
}

// ---------------------------------------------------------------------------------------------
// The manager base

namespace {
// Shared by every manager; empty means "./".
std::string& custom_dir() {
    static std::string dir;
    return dir;
}

const char* const name_characters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

bool contains(const std::vector<std::string>& list, const std::string& value) {
    for (const std::string& entry : list) {
        if (entry == value)
            return true;
    }
    return false;
}

// Posts a rejected value's warning and explains it, but only for a caller that asked why.
bool reject(std::string* error, GFPDB_MESSAGE_ID id, const std::string& value,
            const std::string& text) {
    if (error) {
        gfpdb_post(id, value);
        *error = text;
    }
    return false;
}
}  // namespace

GFPDB_MGR::GFPDB_MGR()
    : m_skip_device_filtering(cfg_is_on("pgm_gfpdb_skip_device_filtering", false)) {}

GFPDB_MGR::~GFPDB_MGR() = default;

GFPDB_FAMILY_INFO& GFPDB_MGR::get_family_info(DEV_FAMILY_ENUM family) {
    return m_family_info_map[family];
}

bool GFPDB_MGR::get_use_sdm_mode() {
    return m_use_sdm_mode;
}
DEV_FAMILY_ENUM GFPDB_MGR::get_active_device_family() {
    return m_active_device_family;
}

void GFPDB_MGR::set_active_device_family(DEV_FAMILY_ENUM family) {
    m_active_device_family = family;
    m_use_sdm_mode = get_family_info(family).sdm;
}

PGMIO_CONFIG_SCHEME GFPDB_MGR::get_active_config_mode() {
    return m_active_config_mode;
}
void GFPDB_MGR::set_active_config_mode(PGMIO_CONFIG_SCHEME scheme) {
    m_active_config_mode = scheme;
}

void GFPDB_MGR::release_legacy_flash(bool show_all) {
    if (!m_flash || !device_is_legacy(m_flash->get_name(), show_all))
        return;
    // A user file may define a device under a built-in name; that record belongs to the map.
    auto owned = m_flash_map.find(m_flash->get_name());
    if (owned == m_flash_map.end() || owned->second != m_flash)
        delete m_flash;
    m_flash = nullptr;
}

void GFPDB_MGR::release_unsaved_flash() {
    if (!m_flash)
        return;
    auto owned = m_flash_map.find(m_flash->get_name());
    if (owned == m_flash_map.end() || owned->second != m_flash)
        delete m_flash;
    m_flash = nullptr;
}

namespace {
// A save killed between writing its new file and renaming it leaves that file beside the
// database files (".pgm_flash_NAME.xml." and six characters). The file it would have
// replaced is whole, so the leftover goes; not while another program is saving there.
void remove_unfinished_saves(FIO_PATH& path) {
    FIO_FIND find(path.filename(".pgm_flash_*.xml.??????"));
    std::string name = find.find_first();
    if (name.empty())
        return;
    FIO_FOLDER_LOCK lock(path.full_directory(), 0);
    if (!lock.held())
        return;
    for (; !name.empty(); name = find.find_next()) {
        const std::string file = path.filename(name);
        const bool removed = FIO_FILE_SYSTEM::remove(file.c_str());
        gfpdb_post(GFPDB_FAILED_TO_UPDATE_DB,
                   path.full_directory() + " (an interrupted save left " + name +
                       (removed ? ", now removed)" : ", which cannot be removed)"));
    }
}
}  // namespace

void GFPDB_MGR::for_each_user_file(
    const std::string& dir, bool is_zorvane, const char* golden_name,
    const std::function<bool(const std::string& name, const std::string& file)>& visit) {
    FIO_PATH path(dir);
    remove_unfinished_saves(path);
    const std::string folder = path.full_directory();
    for (auto seen = m_files_seen.lower_bound(folder);
         seen != m_files_seen.end() && seen->first.compare(0, folder.size(), folder) == 0;)
        seen = m_files_seen.erase(seen);
    FIO_FIND find(path.filename("pgm_flash_*.xml"));
    // The folder's files are checked against the schema as it was when the folder was opened.
    PGM_COMMON_XML::SCHEMA_HOLD hold;
    for (std::string name = find.find_first(); !name.empty(); name = find.find_next()) {
        // The golden file lies in the host directory; it is read on its own terms.
        if (is_zorvane && PGM_COMMON::compare_string(name, golden_name, false))
            continue;
        const std::string file = path.filename(name);
        gfpdb_debug(is_zorvane ? "Parsing XML file in Zorvane directory: %s"
                               : "Parsing XML file in custom directory: %s",
                    file.c_str());
        // The version that was read, as it was when opened: a change while reading shows as a
        // change since. A file that was not read is looked at on its own.
        const bool ok = visit(name, file);
        std::string signature = PGM_COMMON_XML::read_signature(file);
        if (signature.empty())
            signature = FIO_FILE_SYSTEM::signature(file);
        m_files_seen[file] = {std::move(signature), ok};
    }
}

bool GFPDB_MGR::register_loaded_flash(GFPDB_FLASH* flash, const std::string& xml_file,
                                      std::map<std::string, std::string>& dir_map) {
    const std::string name = flash->get_name();
    if (dir_map.count(name)) {
        std::unique_ptr<MSG_POST> error(gfpdb_new_duplicate_flash_error(name, flash->get_db_dir()));
        delete flash;
        error->post();
        return false;
    }
    set_dir_entry(dir_map, name, xml_file);
    m_flash_db_active_dir_map[name] = xml_file;
    GFPDB_FLASH*& stored = m_flash_map[name];
    if (stored) {
        if (m_flash == stored)
            m_flash = nullptr;
        delete stored;
    }
    stored = flash;
    return true;
}

GFPDB_FLASH* GFPDB_MGR::get_flash(std::string name, bool show_all) {
    // Whether the current object was made for a legacy device does not depend on this call's
    // filter: one made under show_all, or for another family, is still ours to release.
    release_legacy_flash(true);
    if (device_is_legacy(name, show_all)) {
        m_flash = create_flash(name);
        return m_flash;
    }
    if (device_exist_in_db(name, show_all)) {
        auto iter = m_flash_map.find(name);
        GFPDB_ASSERT(iter != m_flash_map.end(), source);
        m_flash = iter->second;
        GFPDB_ASSERT(m_flash, source);
        return m_flash;
    }
    m_flash = nullptr;
    return nullptr;
}

GFPDB_FLASH* GFPDB_MGR::get_flash_with_id(uint32_t id, uint32_t mask) {
    release_legacy_flash(true);
    m_flash = nullptr;
    for (auto& [name, flash] : m_flash_map) {
        if ((flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_ID, nullptr) & mask) ==
            (id & mask)) {
            m_flash = flash;
            break;
        }
    }
    return m_flash;
}

GFPDB_FLASH* GFPDB_MGR::get_flash_with_density(uint64_t bytes) {
    release_legacy_flash(true);
    m_flash = nullptr;
    for (auto& [name, flash] : m_flash_map) {
        if (flash->get_density_in_bytes_qword() == bytes) {
            m_flash = flash;
            break;
        }
    }
    return m_flash;
}

bool GFPDB_MGR::device_exist_in_db(std::string name, bool show_all) {
    if (name.empty())
        return false;
    if (device_is_legacy(name, show_all))
        return true;
    auto iter = m_flash_map.find(name);
    if (iter == m_flash_map.end())
        return false;
    if (show_all || m_skip_device_filtering)
        return true;
    return iter->second->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE) ==
           get_family_info(m_active_device_family).io_voltage;
}

bool GFPDB_MGR::device_is_legacy(std::string name, bool show_all) {
    if (name.empty())
        return false;
    return contains(
        get_legacy_config_device_list(m_active_device_family, m_active_config_mode, show_all),
        name);
}

bool GFPDB_MGR::is_new_device_supported() {
    return true;
}
bool GFPDB_MGR::is_flash_action_supported() {
    return true;
}
bool GFPDB_MGR::is_flash_operation_supported() {
    return true;
}

bool GFPDB_MGR::is_parameter_valid(GFPDB_FLASH_PARAM param, uint32_t, std::string*) {
    MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown flash parameter: %d",
                                    param);
}

bool GFPDB_MGR::is_parameter_valid(GFPDB_FLASH_PARAM param, std::string value, std::string* error) {
    switch (param) {
        case GFPDB_FLASH_PARAM_NAME:
            return device_name_is_valid(value, error);
        case GFPDB_FLASH_PARAM_DENSITY:
            return device_density_is_valid(value, error);
        case GFPDB_FLASH_PARAM_IO_VOLTAGE:
            return device_io_voltage_is_valid(value, error);
        default:
            MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__,
                                            "Unknown flash parameter: %d", param);
    }
}

bool GFPDB_MGR::is_parameter_valid(GFPDB_FLASH_PARAM param) {
    return param == GFPDB_FLASH_PARAM_NAME || param == GFPDB_FLASH_PARAM_IO_VOLTAGE ||
           param == GFPDB_FLASH_PARAM_DENSITY;
}

bool GFPDB_MGR::is_parameter_compatible(GFPDB_FLASH_PARAM param, std::string value,
                                        std::string* error) {
    if (param != GFPDB_FLASH_PARAM_IO_VOLTAGE) {
        MSG_INTERNAL_ERROR::report_varg("GFPDB", source, __LINE__, "Unknown flash parameter: %d",
                                        param);
    }
    return device_io_voltage_is_compatible(value, error);
}

bool GFPDB_MGR::is_valid_name(std::string& name) {
    if (name.empty() || name == "db")
        return false;
    return name.find_first_not_of(name_characters) == std::string::npos;
}

bool GFPDB_MGR::is_golden_template_name(std::string& name) {
    for (const std::string& vendor : gfpdb_prog_flow_template_name) {
        if (name == vendor)
            return true;
    }
    return false;
}

bool GFPDB_MGR::device_name_is_valid(std::string name, std::string* error) {
    if (!is_valid_name(name)) {
        return reject(error, GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR, name,
                      "Device name '" + name +
                          "' is invalid as it contains either an empty string or special "
                          "characters.");
    }
    if (is_golden_template_name(name)) {
        return reject(error, GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE, name,
                      "Device name '" + name +
                          "' is invalid as it conflicts with the reserved name for the "
                          "programming flow template.");
    }
    if (device_exist_in_db(name, true)) {
        return reject(error, GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE, name,
                      "Device name '" + name +
                          "' is invalid as it already exist in the device "
                          "database.");
    }
    // The file of a device so named would be a template's file.
    if (gfpdb_name_is_template_file_name(name)) {
        return reject(error, GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE, name,
                      "Device name '" + name + "' is invalid as its file would be the file of " +
                          "template '" + name.substr(9) + "' (pgm_flash_" + name + ".xml).");
    }
    const std::string other = record_sharing_file("pgm_flash_" + name + ".xml");
    if (!other.empty()) {
        return reject(error, GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE, name,
                      "Device name '" + name + "' is invalid as its file would be the file of '" +
                          other +
                          "' on this file system, which does not tell upper from lower "
                          "case.");
    }
    return true;
}

bool gfpdb_name_is_template_file_name(const std::string& name) {
    return name.size() >= 9 && PGM_COMMON::compare_string(name.substr(0, 9), "template_", true);
}

bool GFPDB_MGR::device_density_is_valid(std::string density, std::string* error) {
    if (!density.empty() && contains(get_device_density_list(), density))
        return true;
    return reject(error, GFPDB_INVALID_DEVICE_DENSITY, density,
                  "Device density '" + density + "' is invalid.");
}

bool GFPDB_MGR::device_io_voltage_is_valid(std::string voltage, std::string* error) {
    if (!voltage.empty() && contains(get_device_io_voltage_list(), voltage))
        return true;
    return reject(error, GFPDB_INVALID_IO_VOLTAGE, voltage,
                  "Device I/O voltage '" + voltage + "' is invalid.");
}

bool GFPDB_MGR::device_io_voltage_is_compatible(std::string voltage, std::string* error) {
    if (device_io_voltage_is_valid(voltage, nullptr) &&
        voltage == get_family_info(m_active_device_family).io_voltage) {
        return true;
    }
    return reject(error, GFPDB_INCOMPATIBLE_IO_VOLTAGE, voltage,
                  "Flash device I/O voltage '" + voltage +
                      "' is incompatible with the selected FPGA device family.");
}

bool gfpdb_name_fits_file_name(const std::string& name) {
    // A separator would save, and later remove, a file outside the database folder.
    return !name.empty() && name.find_first_of("/\\") == std::string::npos &&
           PGM_COMMON_XML::is_storable_text(name);
}

bool GFPDB_MGR::flash_fits_file_format(GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash, source);
    const std::string name = flash->get_name();
    if (gfpdb_name_is_template_file_name(name)) {
        gfpdb_post(GFPDB_INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE,
                   name + " (the file of template " + name.substr(9) + ")");
        return false;
    }
    if (gfpdb_name_fits_file_name(name))
        return true;
    gfpdb_post(GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR,
               name + " (not a name a database file can carry)");
    return false;
}

namespace {
// Walks a data list's blank-separated bytes in place, into `bytes` when given: every data value
// of every action loaded comes through here. The number of bytes, or -1 for a list with a bad
// byte or none.
long walk_data_list(const std::string& text, unsigned char* bytes) {
    long count = 0;
    for (size_t end = 0;;) {
        const size_t start = text.find_first_not_of(' ', end);
        if (start == std::string::npos)
            break;
        end = std::min(text.find(' ', start), text.size());
        // "0x" takes one or two hexadecimal digits; a decimal byte is at most 255.
        const std::string token = text.substr(start, end - start);
        if (token.compare(0, 2, "0x") == 0 && token.size() != 3 && token.size() != 4)
            return -1;
        bool ok = false;
        const uint64_t value = PGM_COMMON::convert_string_to_qword(token, true, &ok);
        if (!ok || value > 255)
            return -1;
        if (bytes)
            bytes[count] = static_cast<unsigned char>(value);
        ++count;
    }
    return count ? count : -1;
}
}  // namespace

bool GFPDB_MGR::data_list_is_valid(const std::string& data_string, uint32_t* size_out) {
    const long count = walk_data_list(data_string, nullptr);
    if (size_out)
        *size_out = count < 0 ? 0 : static_cast<uint32_t>(count);
    return count > 0;
}

unsigned char* GFPDB_MGR::convert_data_list_string_to_byte_array(std::string data_string,
                                                                 uint32_t* size_out, bool* ok_out) {
    GFPDB_ASSERT(!data_string.empty(), source);
    const long count = walk_data_list(data_string, nullptr);
    if (ok_out)
        *ok_out = count > 0;
    if (size_out)
        *size_out = count > 0 ? static_cast<uint32_t>(count) : 0;
    if (count <= 0)
        return nullptr;
    auto* bytes = new unsigned char[static_cast<size_t>(count)];
    walk_data_list(data_string, bytes);
    return bytes;
}

std::string GFPDB_MGR::get_db_zorvane_dir() {
    return PGM_COMMON::change_folder_slash(PGM_COMMON::pgm_get_common_programmer() + "xml/");
}

std::string GFPDB_MGR::get_db_custom_dir() {
    if (custom_dir().empty())
        custom_dir() = PGM_COMMON::change_folder_slash("./");
    return custom_dir();
}

void GFPDB_MGR::set_db_custom_dir(std::string dir) {
    custom_dir() = dir.empty() ? std::string() : PGM_COMMON::change_folder_slash(dir + "/");
}

std::string GFPDB_MGR::get_custom_dir_from_ini() {
    std::string value = cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR);
    if (!value.empty())
        return PGM_COMMON::change_folder_slash(value + "/");
    std::string dir = PGM_COMMON::change_folder_slash("./");
    return save_custom_dir_to_ini(dir, false) ? dir : std::string();
}

bool GFPDB_MGR::save_custom_dir_to_ini(std::string dir, bool force) {
    if (!force && (dir.empty() || !FIO_FILE_SYSTEM::exists(dir)))
        return false;
    std::string value = PGM_COMMON::change_folder_slash(dir + "/");
    std::string current = cfg_get_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR);
    if (gen_stricmp(value.c_str(), current.c_str()) == 0)
        return true;
    return cfg_set_user_ini_value(CFG_USER_INI_GFPDB_CUSTOM_DB_DIR, value.c_str()) &&
           cfg_write_user_ini_file();
}

// ---------------------------------------------------------------------------------------------
// Persistence of user records

void GFPDB_MGR::get_dir_roles(const std::string& db_dir, bool* is_zorvane, bool* is_custom) {
    FIO_PATH zorvane_dir(get_db_zorvane_dir());
    FIO_PATH custom(get_db_custom_dir());
    gfpdb_debug("db_dir.c_str() = %s", db_dir.c_str());
    gfpdb_debug("zorvane_dir.full_directory().c_str() = %s", zorvane_dir.full_directory().c_str());
    gfpdb_debug("custom_dir.full_directory().c_str() = %s", custom.full_directory().c_str());
    bool db_is_zorvane_dir = gen_strcmp(db_dir.c_str(), zorvane_dir.full_directory().c_str()) == 0;
    bool db_is_custom_dir = gen_strcmp(db_dir.c_str(), custom.full_directory().c_str()) == 0;
    GFPDB_ASSERT(db_is_zorvane_dir || db_is_custom_dir, source);
    *is_zorvane = db_is_zorvane_dir;
    *is_custom = db_is_custom_dir;
}

namespace {
// How long a save waits for another program saving into the same folder.
constexpr int folder_wait_ms = 3000;

// Whether a path is already written as FIO_PATH writes one that names a file: absolute, no
// empty, "." or ".." part, no closing "/". Such a path is its own normal form, or that and a
// closing "/" if it names a folder; it needs the file system only to tell which.
bool is_normal_file_path(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.back() == '/' ||
        path.find("//") != std::string::npos)
        return false;
    for (size_t dot = path.find("/."); dot != std::string::npos; dot = path.find("/.", dot + 1)) {
        const size_t next = dot + 2;
        if (next == path.size() || path[next] == '/')
            return false;  // a "." part
        if (path[next] == '.' && (next + 1 == path.size() || path[next + 1] == '/'))
            return false;  // a ".." part
    }
    return true;
}

// The last part of a path, after its last "/"; and whether it is a name rather than nothing,
// "." or "..".
std::string_view last_part(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
}

bool is_plain_name(std::string_view part) {
    return !part.empty() && part != "." && part != "..";
}

bool ends_with(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end.data(), end.size()) == 0;
}

// Whether the last part of `path` may be `name`: it is, or it is no name at all (nothing, "."
// or ".."), which normalising could turn into anything. Looks at the end of the path only.
bool may_end_in(const std::string& path, std::string_view name) {
    if (ends_with(path, name) &&
        (path.size() == name.size() || path[path.size() - name.size() - 1] == '/'))
        return true;
    return path.empty() || path.back() == '/' || path == "." || path == ".." ||
           ends_with(path, "/.") || ends_with(path, "/..");
}

// Whether a map's path names `file` (whose last part is `file_name`) once normalised, so that
// a folder of many devices is walked without a file-system call for each. Normalising keeps a
// path's last part, or ends it in "/" for a folder, so a path ending in another file name
// cannot name the file; and a path in normal form that differs from the file, also by a
// closing "/", cannot name it either.
bool names_file(const std::string& path, const std::string& file, std::string_view file_name) {
    if (is_plain_name(file_name) && !may_end_in(path, file_name))
        return false;
    const bool same_text = path == file || (file.size() == path.size() + 1 && file.back() == '/' &&
                                            file.compare(0, path.size(), path) == 0);
    if (!same_text && is_normal_file_path(path))
        return false;
    return gen_strcmp(FIO_PATH(path).fullpath().c_str(), file.c_str()) == 0;
}

void log_map_sizes(const char* when, size_t dir_map, size_t active_map, size_t flash_map) {
    gfpdb_debug("%s: db_dir_map->size() = %d", when, static_cast<int>(dir_map));
    gfpdb_debug("%s: m_flash_db_active_dir_map.size() = %d", when, static_cast<int>(active_map));
    gfpdb_debug("%s: m_flash_map.size() = %d", when, static_cast<int>(flash_map));
}
}  // namespace

std::string gfpdb_folder_of_read_file(const std::string& file) {
    // A file just read is no folder, so a path in normal form ends in its name.
    if (is_normal_file_path(file))
        return file.substr(0, file.rfind('/') + 1);
    return FIO_PATH(file).full_directory();
}

void gfpdb_post_refusal(const std::string& db_dir, const std::string& reason) {
    gfpdb_post(GFPDB_FAILED_TO_UPDATE_DB, reason.empty() ? db_dir : db_dir + " (" + reason + ")");
}

bool gfpdb_replace_xml_file(PGM_COMMON_XML_ELEMENT* tree, const std::string& file,
                            const std::string& db_dir) {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned(tree);
    // The old file stays until the new one is whole on the disk and takes its place, so the
    // steps of the log happen in that one replacement.
    if (!FIO_FILE_SYSTEM::exists(file))
        gfpdb_debug("Touch new XML file, %s", file.c_str());
    gfpdb_debug("Deleting old XML file %s", file.c_str());
    gfpdb_debug("Writing new XML file, %s", file.c_str());
    if (!PGM_COMMON_XML::write_xml(tree, file)) {
        gfpdb_post(GFPDB_FAILED_TO_UPDATE_DB, db_dir);
        return false;
    }
    GFPDB_ASSERT(FIO_FILE_SYSTEM::exists(file.c_str()), source);
    return true;
}

namespace {
// The record names a database file's text holds, in file order.
std::vector<std::string> names_in_text(const std::string& text) {
    std::vector<std::string> names;
    for (const char* tag : {"DEVICE_NAME>", "TEMPLATE_NAME>"}) {
        const std::string open = std::string("<") + tag;
        const std::string close = std::string("</") + tag;
        for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
            at += open.size();
            const size_t end = text.find(close, at);
            if (end == std::string::npos)
                break;
            const size_t first = text.find_first_not_of(" \t\r\n", at);
            const size_t last = text.find_last_not_of(" \t\r\n", end - 1);
            if (first < end && last != std::string::npos && last >= first)
                names.push_back(text.substr(first, last - first + 1));
        }
    }
    return names;
}

std::string file_name_of(const std::string& file) {
    return std::string(last_part(file));
}

// The key a file name is indexed under: folded to lower case the way names are compared.
std::string index_key(std::string_view file_name) {
    std::string key(file_name);
    for (char& c : key)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return key;
}

// The names indexed under `file_name` in name order and, with `unnamed`, those whose path
// ends in no name ("", "." or ".."), which normalising could turn into any file.
std::vector<std::string> indexed_names(
    const std::unordered_map<std::string, std::set<std::string>>& index, std::string_view file_name,
    bool unnamed) {
    std::vector<std::string> names;
    std::vector<std::string> keys = {index_key(file_name)};
    if (unnamed)
        keys.insert(keys.end(), {"", ".", ".."});
    for (const std::string& key : keys) {
        auto bucket = index.find(key);
        if (bucket != index.end())
            names.insert(names.end(), bucket->second.begin(), bucket->second.end());
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

// Takes `name` out of the bucket of the file `path` names.
void unindex(std::unordered_map<std::string, std::set<std::string>>& index, const std::string& name,
             const std::string& path) {
    auto bucket = index.find(index_key(last_part(path)));
    if (bucket != index.end() && bucket->second.erase(name) && bucket->second.empty())
        index.erase(bucket);
}
}  // namespace

GFPDB_MGR::FILE_INDEX& GFPDB_MGR::file_index(const std::map<std::string, std::string>& map) {
    FILE_INDEX* index = &map == &m_flash_db_zorvane_dir_map  ? &m_zorvane_file_index
                        : &map == &m_flash_db_custom_dir_map ? &m_custom_file_index
                                                             : &m_template_file_index;
    GFPDB_ASSERT(index != &m_template_file_index || &map == &m_template_db_dir_map, source);
    if (index->count != map.size()) {
        index->names.clear();
        for (const auto& [name, path] : map)
            index->names[index_key(last_part(path))].insert(name);
        index->count = map.size();
    }
    return *index;
}

void GFPDB_MGR::set_dir_entry(std::map<std::string, std::string>& map, const std::string& name,
                              const std::string& path) {
    FILE_INDEX& index = file_index(map);
    auto entry = map.find(name);
    if (entry == map.end()) {
        map.emplace(name, path);
        ++index.count;
    } else {
        unindex(index.names, name, entry->second);
        entry->second = path;
    }
    index.names[index_key(last_part(path))].insert(name);
}

void GFPDB_MGR::erase_dir_entry(std::map<std::string, std::string>& map, const std::string& name) {
    FILE_INDEX& index = file_index(map);
    auto entry = map.find(name);
    if (entry == map.end())
        return;
    unindex(index.names, name, entry->second);
    map.erase(entry);
    --index.count;
}

void GFPDB_MGR::clear_dir_map(std::map<std::string, std::string>& map) {
    FILE_INDEX& index = file_index(map);
    map.clear();
    index.names.clear();
    index.count = 0;
}

std::vector<std::string> GFPDB_MGR::names_in_file(const std::map<std::string, std::string>& map,
                                                  const std::string& file) {
    const std::string_view file_name = last_part(file);
    std::vector<std::string> names;
    if (!is_plain_name(file_name)) {
        for (const auto& [name, path] : map) {
            if (names_file(path, file, file_name))
                names.push_back(name);
        }
        return names;
    }
    for (const std::string& name : indexed_names(file_index(map).names, file_name, true)) {
        if (names_file(map.at(name), file, file_name))
            names.push_back(name);
    }
    return names;
}

std::string GFPDB_MGR::record_sharing_file(const std::string& file_name) {
    for (const auto* map :
         {&m_flash_db_zorvane_dir_map, &m_flash_db_custom_dir_map, &m_template_db_dir_map}) {
        // Only a name equal but for case can match, and the index holds exactly those.
        for (const std::string& name : indexed_names(file_index(*map).names, file_name, false)) {
            const std::string& path = map->at(name);
            const std::string_view last = last_part(path);
            if (last == file_name)
                return name;
            if (last.size() != file_name.size() ||
                !PGM_COMMON::compare_string(std::string(last), file_name, true))
                continue;
            // The two names are one file where the file system ignores case.
            const std::string signature = FIO_FILE_SYSTEM::signature(path);
            if (!signature.empty() &&
                FIO_FILE_SYSTEM::signature(path.substr(0, path.size() - last.size()) + file_name) ==
                    signature)
                return name;
        }
    }
    return std::string();
}

void GFPDB_MGR::remember_file(const std::string& file) {
    m_files_seen[file] = {FIO_FILE_SYSTEM::signature(file), true};
}

bool GFPDB_MGR::file_may_be_replaced(const std::string& file, const std::string& db_dir,
                                     bool alone) {
    const std::string signature = FIO_FILE_SYSTEM::signature(file);
    auto seen = m_files_seen.find(file);
    const std::string_view file_name = last_part(file);
    std::string reason;
    for (const auto* map :
         {&m_flash_db_zorvane_dir_map, &m_flash_db_custom_dir_map, &m_template_db_dir_map}) {
        if (!alone || !reason.empty())
            break;
        const std::vector<std::string> held = names_in_file(*map, file);
        if (!held.empty())
            reason = file_name_of(file) + " holds " + held.front() + ", which this save would drop";
    }
    if (reason.empty() && signature.empty() && seen == m_files_seen.end())
        return true;  // a new file
    if (cfg_is_on("pgm_gfpdb_overwrite_unloaded", false))
        return true;
    if (!reason.empty()) {
    } else if (signature.empty()) {
        reason = file_name_of(file) + " is gone since it was loaded";
    } else if (seen == m_files_seen.end() || seen->second.signature != signature ||
               !seen->second.whole) {
        // Name a record the maps lack, or say what changed.
        std::string text;
        FIO_FILE_SYSTEM::read(file, &text);
        std::string lost;
        for (const std::string& name : names_in_text(text)) {
            bool held = false;
            for (const auto* map : {&m_flash_db_zorvane_dir_map, &m_flash_db_custom_dir_map,
                                    &m_template_db_dir_map}) {
                auto entry = map->find(name);
                held = held || (entry != map->end() && names_file(entry->second, file, file_name));
            }
            if (!held) {
                lost = name;
                break;
            }
        }
        if (!lost.empty())
            reason = file_name_of(file) + " holds " + lost + ", which was not loaded";
        else if (seen != m_files_seen.end() && seen->second.signature != signature)
            reason = file_name_of(file) + " changed on disk since it was loaded";
        else if (seen == m_files_seen.end())
            reason = file_name_of(file) + " exists but was not loaded";
        else
            reason = file_name_of(file) + " holds records that did not load";
    } else {
        return true;
    }
    gfpdb_debug("Refusing to replace %s: %s", file.c_str(), reason.c_str());
    gfpdb_post_refusal(db_dir, reason);
    return false;
}

bool GFPDB_MGR::update_db(GFPDB_FLASH* flash, std::string db_dir) {
    GFPDB_ASSERT(flash, source);
    GFPDB_ASSERT(!db_dir.empty(), source);
    gfpdb_debug("Entering GFPDB_MGR::update_db with flash device_name = %s",
                flash->get_name().c_str());
    bool db_is_zorvane_dir = false;
    bool db_is_custom_dir = false;
    get_dir_roles(db_dir, &db_is_zorvane_dir, &db_is_custom_dir);
    std::map<std::string, std::string>& db_dir_map =
        db_is_zorvane_dir ? m_flash_db_zorvane_dir_map : m_flash_db_custom_dir_map;
    // Refuse before anything is deleted, so the previous file of the device stays.
    if (!flash_fits_file_format(flash))
        return false;
    FIO_FOLDER_LOCK lock(db_dir, folder_wait_ms);
    if (!lock.held()) {
        gfpdb_post_refusal(db_dir, "another program is saving in this folder");
        return false;
    }
    const std::string name = flash->get_name();
    const std::string template_name = flash->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME);
    const std::string file = db_dir + "pgm_flash_" + name + ".xml";
    if (!file_may_be_replaced(file, db_dir, false) ||
        (!template_name.empty() &&
         !file_may_be_replaced(db_dir + "pgm_flash_template_" + template_name + ".xml", db_dir,
                               true)))
        return false;

    // The record replaced leaves the maps but not the disk: the new file takes the old one's
    // place, and a refused write puts the record back.
    TAKEN_RECORD replaced;
    if (db_dir_map.count(name)) {
        m_delete_for_save = true;
        const bool deleted = delete_db(name, db_dir);
        m_delete_for_save = false;
        replaced = m_taken_for_save;
        m_taken_for_save = TAKEN_RECORD();
        if (!deleted)
            return false;
    }
    if (!write_flash_xml_and_update_dir_map(flash, db_dir, &db_dir_map)) {
        put_back(replaced);
        return false;
    }
    discard(replaced);
    // A record kept in another file of the folder leaves that file now that its new one is
    // on the disk: a refusal here leaves it in both, which the next load reports.
    if (!replaced.file.empty() && replaced.file != file) {
        if (!replaced.remaining_devices.empty() || !replaced.remaining_templates.empty()) {
            rewrite_file(replaced.file, replaced.remaining_devices, replaced.remaining_templates,
                         db_dir);
        } else if (FIO_FILE_SYSTEM::remove(replaced.file.c_str())) {
            m_files_seen.erase(replaced.file);
        } else {
            gfpdb_post(GFPDB_FAILED_TO_UPDATE_DB, db_dir);
        }
    }
    if (!template_name.empty())
        return update_template_db(flash, db_dir);
    return true;
}

bool GFPDB_MGR::write_flash_xml_and_update_dir_map(GFPDB_FLASH* flash, std::string db_dir,
                                                   std::map<std::string, std::string>* db_dir_map) {
    GFPDB_ASSERT(flash, source);
    GFPDB_ASSERT(db_dir_map, source);
    const std::string name = flash->get_name();
    const std::string file = db_dir + "pgm_flash_" + name + ".xml";
    // Other records the file holds stay in it.
    std::vector<GFPDB_FLASH*> flash_list = {flash};
    std::vector<std::string> templates;
    for (const std::string& other : names_in_file(*db_dir_map, file)) {
        if (other != name)
            flash_list.push_back(m_flash_map.at(other));
    }
    templates = names_in_file(m_template_db_dir_map, file);
    PGM_COMMON_XML_ELEMENT* tree = create_xml_object_with_flash_list(flash_list);
    if (!templates.empty())
        create_user_template_with_template_list(tree, templates);
    if (!gfpdb_replace_xml_file(tree, file, db_dir))
        return false;
    remember_file(file);
    log_map_sizes("Before", db_dir_map->size(), m_flash_db_active_dir_map.size(),
                  m_flash_map.size());
    set_dir_entry(*db_dir_map, name, file);
    m_flash_db_active_dir_map[name] = file;
    // A record saved into the other directory displaces the one loaded from there; the map
    // owns records, so the displaced one goes now rather than leak.
    GFPDB_FLASH*& stored = m_flash_map[name];
    if (stored && stored != flash) {
        if (m_flash == stored)
            m_flash = nullptr;
        delete stored;
    }
    stored = flash;
    // A saved record is a user record of that folder, as the next load will read it.
    flash->set_db_dir(FIO_PATH(file).full_directory());
    flash->set_flash_removable_permission(true);
    log_map_sizes("After", db_dir_map->size(), m_flash_db_active_dir_map.size(),
                  m_flash_map.size());
    return true;
}

void GFPDB_MGR::put_back(TAKEN_RECORD& taken) {
    if (taken.flash) {
        set_dir_entry(*taken.dir_map, taken.name, taken.dir_path);
        m_flash_db_active_dir_map[taken.name] = taken.active_path;
        m_flash_map[taken.name] = taken.flash;
        if (taken.was_current)
            m_flash = taken.flash;
    }
    if (taken.user_template) {
        m_user_flash_template_map[taken.name] = taken.user_template;
        set_dir_entry(m_template_db_dir_map, taken.name, taken.template_path);
    }
    taken = TAKEN_RECORD();
}

void GFPDB_MGR::discard(TAKEN_RECORD& taken) {
    delete taken.flash;
    // The record goes with its entry: operation lists handed out for it end here.
    delete taken.user_template;
    taken.flash = nullptr;
    taken.user_template = nullptr;
}

bool GFPDB_MGR::rewrite_file(const std::string& file, const std::vector<std::string>& devices,
                             const std::vector<std::string>& templates, const std::string& db_dir) {
    PGM_COMMON_XML_ELEMENT* tree = nullptr;
    if (!devices.empty()) {
        std::vector<GFPDB_FLASH*> flash_list;
        for (const std::string& name : devices) {
            auto iter = m_flash_map.find(name);
            GFPDB_ASSERT(iter != m_flash_map.end(), source);
            flash_list.push_back(iter->second);
        }
        tree = create_xml_object_with_flash_list(flash_list);
    }
    if (!templates.empty())
        create_user_template_with_template_list(tree, templates);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned(tree);
    gfpdb_debug("Writing XML file, %s", file.c_str());
    if (!PGM_COMMON_XML::write_xml(tree, file)) {
        gfpdb_post(GFPDB_FAILED_TO_UPDATE_DB, db_dir);
        return false;
    }
    GFPDB_ASSERT(FIO_FILE_SYSTEM::exists(file.c_str()), source);
    remember_file(file);
    return true;
}

bool GFPDB_MGR::delete_db(std::string device_name, std::string db_dir) {
    GFPDB_ASSERT(!device_name.empty(), source);
    GFPDB_ASSERT(!db_dir.empty(), source);
    gfpdb_debug("Entering GFPDB_MGR::delete_db with device_name = %s", device_name.c_str());
    bool db_is_zorvane_dir = false;
    bool db_is_custom_dir = false;
    get_dir_roles(db_dir, &db_is_zorvane_dir, &db_is_custom_dir);
    std::map<std::string, std::string>& db_dir_map =
        db_is_zorvane_dir ? m_flash_db_zorvane_dir_map : m_flash_db_custom_dir_map;

    auto active = m_flash_db_active_dir_map.find(device_name);
    if (active != m_flash_db_active_dir_map.end()) {
        FIO_PATH active_dir_file(active->second);
        gfpdb_debug("active_dir_file.fullpath().c_str() = %s", active_dir_file.fullpath().c_str());
        gfpdb_debug("active_dir_file.full_directory().c_str() = %s",
                    active_dir_file.full_directory().c_str());
        if (gen_strcmp(db_dir.c_str(), active_dir_file.full_directory().c_str()) != 0) {
            // The device's current definition lies in the other directory.
            if (db_is_zorvane_dir) {
                GFPDB_FAIL(
                    "Found same flash exist in the current directory but attempting to delete "
                    "the flash in zorvane directory.",
                    source);
            }
            return true;
        }
    } else if (!m_user_flash_template_map.count(device_name)) {
        return true;
    }

    TAKEN_RECORD taken;
    taken.name = device_name;
    auto own = db_dir_map.find(device_name);
    if (own != db_dir_map.end())
        taken.file = own->second;
    if (taken.file.empty()) {
        auto in_template_map = m_template_db_dir_map.find(device_name);
        if (in_template_map != m_template_db_dir_map.end())
            taken.file = in_template_map->second;
    }
    if (taken.file.empty())
        return true;
    const std::string& file_to_delete = taken.file;

    // Other records of the same file survive: the file is written again without this one.
    for (const std::string& name : names_in_file(db_dir_map, file_to_delete)) {
        if (name != device_name) {
            gfpdb_debug("Found flash name = %s", name.c_str());
            taken.remaining_devices.push_back(name);
        }
    }
    for (const std::string& name : names_in_file(m_template_db_dir_map, file_to_delete)) {
        if (name != device_name) {
            gfpdb_debug("Found template name = %s", name.c_str());
            taken.remaining_templates.push_back(name);
        }
    }

    FIO_FOLDER_LOCK lock(db_dir, folder_wait_ms);
    if (!lock.held()) {
        gfpdb_post_refusal(db_dir, "another program is saving in this folder");
        return false;
    }
    if (!file_may_be_replaced(file_to_delete, db_dir, false))
        return false;
    gfpdb_debug("Deleting XML file %s", file_to_delete.c_str());
    const bool rewrite = !taken.remaining_devices.empty() || !taken.remaining_templates.empty();
    // A save that replaces the record writes the file itself.
    if (!m_delete_for_save && !rewrite) {
        // A file already gone (when the caller chose to go on) has nothing left to remove.
        if (FIO_FILE_SYSTEM::exists(file_to_delete) &&
            !FIO_FILE_SYSTEM::remove(file_to_delete.c_str())) {
            gfpdb_post(GFPDB_FAILED_TO_UPDATE_DB, db_dir);
            return false;
        }
        m_files_seen.erase(file_to_delete);
    }

    if (db_dir_map.count(device_name)) {
        log_map_sizes("Before", db_dir_map.size(), m_flash_db_active_dir_map.size(),
                      m_flash_map.size());
        auto iter4 = m_flash_map.find(device_name);
        GFPDB_ASSERT(iter4 != m_flash_map.end(), source);
        taken.dir_map = &db_dir_map;
        taken.dir_path = db_dir_map[device_name];
        taken.active_path = m_flash_db_active_dir_map[device_name];
        taken.flash = iter4->second;
        taken.was_current = m_flash == iter4->second;
        if (taken.was_current)
            m_flash = nullptr;
        erase_dir_entry(db_dir_map, device_name);
        m_flash_db_active_dir_map.erase(device_name);
        m_flash_map.erase(iter4);
        log_map_sizes("After", db_dir_map.size(), m_flash_db_active_dir_map.size(),
                      m_flash_map.size());
    } else if (m_user_flash_template_map.count(device_name)) {
        gfpdb_debug("Before: m_user_flash_template_map->size() = %d",
                    static_cast<int>(m_user_flash_template_map.size()));
        gfpdb_debug("Before: m_template_db_dir_map.size() = %d",
                    static_cast<int>(m_template_db_dir_map.size()));
        taken.user_template = m_user_flash_template_map[device_name];
        taken.template_path = m_template_db_dir_map[device_name];
        m_user_flash_template_map.erase(device_name);
        erase_dir_entry(m_template_db_dir_map, device_name);
        gfpdb_debug("After: m_user_flash_template_map->size() = %d",
                    static_cast<int>(m_user_flash_template_map.size()));
        gfpdb_debug("After: m_template_db_dir_map.size() = %d",
                    static_cast<int>(m_template_db_dir_map.size()));
    }

    if (m_delete_for_save) {
        m_taken_for_save = taken;
        return true;
    }
    if (rewrite &&
        !rewrite_file(file_to_delete, taken.remaining_devices, taken.remaining_templates, db_dir)) {
        put_back(taken);
        return false;
    }
    discard(taken);
    return true;
}
