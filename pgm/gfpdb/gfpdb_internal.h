// What the library's sources share and hosts never see: internal errors, the debug log and
// the message factories.
#pragma once

#include <string>

#include "host/msg.h"
#include "host/pgm_common_xml_enum.h"
#include "pgm/gfpdb/gfpdb_mgr.h"

// A broken invariant stops the program with the failed condition's text, as the condition
// reads written on one line: a line break in the source leaves no space after "(" or before
// ")", "." or "->".
#define GFPDB_ASSERT(cond, source)                            \
    do {                                                      \
        if (!(cond))                                          \
            gfpdb_internal_error_on(#cond, source, __LINE__); \
    } while (0)

// The condition text that a stringified, possibly multi-line source condition stands for.
std::string gfpdb_condition_text(const char* stringified);
[[noreturn]] void gfpdb_internal_error_on(const char* stringified, const char* file, int line);

// An internal error with a fixed text instead of a condition.
#define GFPDB_FAIL(text, source) MSG_INTERNAL_ERROR::report(text, "GFPDB", source, __LINE__)

// Every debug line of the library: module "GFPDB", level 2.
void gfpdb_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Message factories, one per posted catalogue entry: a warning whose id the user filtered
// comes back as a message that shows nothing. The caller posts and deletes the message.
MSG_POST* gfpdb_new_message(GFPDB_MESSAGE_ID id, const std::string& arg);
MSG_POST* gfpdb_new_message(GFPDB_MESSAGE_ID id, int arg);
// The error 20482 is never filtered.
MSG_POST* gfpdb_new_duplicate_flash_error(const std::string& name, const std::string& dir);

// Builds, posts and destroys one message.
void gfpdb_post(GFPDB_MESSAGE_ID id, const std::string& arg);
void gfpdb_post(GFPDB_MESSAGE_ID id, int arg);

// Replaces a database file by a tree, which it takes over. The new content is written beside
// the old file and takes its place whole, so a refused or interrupted write leaves the old
// file as it was: a refusal posts GFPDB_FAILED_TO_UPDATE_DB with `db_dir` and answers false.
bool gfpdb_replace_xml_file(PGM_COMMON_XML_ELEMENT* tree, const std::string& file,
                            const std::string& db_dir);

// Posts GFPDB_FAILED_TO_UPDATE_DB for `db_dir`, with the reason when there is one.
void gfpdb_post_refusal(const std::string& db_dir, const std::string& reason);

// The folder part of a database file that was just read, as FIO_PATH(file).full_directory()
// gives it, without asking the file system when the path is already in normal form.
std::string gfpdb_folder_of_read_file(const std::string& file);

// Whether a record's name can be part of its file's name and be found again: not empty, no
// folder separator, text a file can hold. Loaders refuse a record whose name is not, and so
// does saving.
bool gfpdb_name_fits_file_name(const std::string& name);

// Whether a device so named would be saved in a template's file: it begins with "template_",
// in any case.
bool gfpdb_name_is_template_file_name(const std::string& name);

// The child element of a QSPI action that holds the property's value.
PGM_COMMON_XML_ENUM gfpdb_qspi_property_element(GFPDB_ACT_PROPERTY property);

// The golden templates' elements, in GFPDB_PROG_FLOW_TEMPLATE order.
inline constexpr PGM_COMMON_XML_ENUM gfpdb_golden_template_element[GFPDB_PROG_FLOW_TEMPLATE_COUNT] =
    {PGM_COMMON_XML_ENUM_MICRON, PGM_COMMON_XML_ENUM_MACRONIX, PGM_COMMON_XML_ENUM_CYPRESS,
     PGM_COMMON_XML_ENUM_WINBOND};
// A flow's operation elements, indexed by GFPDB_OP_TYPE, which is the order they run in.
inline constexpr PGM_COMMON_XML_ENUM gfpdb_operation_element[GFPDB_OP_TYPE_COUNT] = {
    PGM_COMMON_XML_ENUM_INITIALIZATION, PGM_COMMON_XML_ENUM_PROGRAM, PGM_COMMON_XML_ENUM_ERASE,
    PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE, PGM_COMMON_XML_ENUM_TERMINATION};

// The catalogue literal of an id ("text/W SYMBOL"); null for 20510, which has none.
const char* gfpdb_message_literal(GFPDB_MESSAGE_ID id);

// Deletes the records of an owning list, last first, each leaving the list before it goes.
template <typename RECORD>
void gfpdb_delete_last_first(std::vector<RECORD*>& list) {
    while (!list.empty()) {
        RECORD* record = list.back();
        list.pop_back();
        delete record;
    }
}

// The first four bytes of a data list as a little-endian word, with the list's byte count;
// false, leaving both untouched, when the text is empty or no data list.
bool gfpdb_data_list_to_dword(const std::string& data_list, uint32_t* value, uint32_t* byte_count);
