// The gfpdb command: what its subcommands share. It reaches the flash database only through
// the registry, the managers, the records and the host's control points, as any host does.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/host.h"
#include "pgm/gfpdb/gfpdb_helper.h"
#include "pgm/gfpdb/gfpdb_qspi_adapt.h"
#include "pgm/gfpdb/gfpdb_qspi_lint.h"
#include "pgm/gfpdb/gfpdb_sfdp.h"

namespace gfpdb_cli {

using JSON = nlohmann::ordered_json;

enum EXIT_STATUS {
    EXIT_OK = 0,
    EXIT_REJECTED = 1,  // a rejected value, a failed check, a refused save or deletion
    EXIT_USAGE = 2      // the command line itself is wrong
};

// Every option of the command line, global and per subcommand; a subcommand reads its own.
struct OPTIONS {
    std::string host_dir;
    std::string custom_dir;
    std::vector<std::string> settings;  // "name=on" or "name=off"
    bool json = false;
    bool verbose = false;

    std::string family;  // a family number or name
    std::string scheme;  // a configuration scheme number
    bool all = false;
    bool names = false;  // only the names, one a line, as shell completion reads them
    std::string name;
    std::string flow;  // "sfl", "sdm" or empty for both
    std::vector<std::string> paths;
    std::string id;
    std::string voltage;
    std::string density;
    uint32_t dies = 1;
    uint32_t dummy = 8;
    uint32_t dummy_x4 = 8;
    std::string template_name;
    std::string save_template;
    std::string to = "custom";
    std::string from;  // empty: wherever the device's active definition lies
    std::string dir;
    bool dies_given = false, dummy_given = false, dummy_x4_given = false;
    bool dry_run = false;
    std::string sfdp;  // an SFDP dump: the file of `sfdp`, or what `add --sfdp` drafts from
    std::vector<std::string> disable;  // lint rules turned off
    bool sarif = false;
    bool no_lint = false;
    bool force = false;  // save despite lint errors; replace a file whose records would be lost
    int port = 0;        // 0: any free port
    bool open = false;
};

// One posted message, as the message library hands it to a listener.
struct POSTED {
    unsigned id;
    MSG_POST_TYPE type;
    std::string text;
};

// "Warning (ID): TEXT" or "Error (ID): TEXT", the host's default form.
std::string posted_line(const POSTED& posted);

// The state of one run: the resolved folders and where messages go.
class SESSION {
public:
    explicit SESSION(const OPTIONS& chosen) : options(chosen) {}
    SESSION(const SESSION&) = delete;
    SESSION& operator=(const SESSION&) = delete;
    ~SESSION();

    // Applies the settings and folders before any manager is built; prints why and answers
    // EXIT_USAGE when a folder cannot serve.
    int open();

    // While a capture is set, posted messages go to it instead of standard error and debug
    // lines go to it as well as to the -v output.
    using POST_SINK = std::function<void(const POSTED&)>;
    using DEBUG_SINK = std::function<void(const std::string&)>;
    void capture(POST_SINK post, DEBUG_SINK debug);
    void end_capture();

    // Builds the registry once. While it loads, a posted message names the user file being
    // read and a skipped user file gets one line on standard error.
    void load() const;
    // Managers of the registry, QSPI first.
    std::vector<GFPDB_MGR*> managers() const;
    GFPDB_MGR* qspi_manager() const;

    // "golden", "host" or "custom": where a database record was loaded from.
    std::string source_of(GFPDB_FLASH* flash) const;
    // The folder a record was loaded from, as the managers name folders.
    static std::string folder_of(GFPDB_FLASH* flash);

    const OPTIONS& options;
    std::string host_dir;     // the common programmer folder, absolute, ending in '/'
    std::string db_host_dir;  // its database folder (xml/), as update_db wants it
    std::string custom_dir;   // the custom database folder as update_db wants it; "" for none

private:
    void note_loading(const std::string& line);

    POST_SINK m_post;
    DEBUG_SINK m_debug;
    mutable bool m_loaded = false;
    mutable bool m_loading = false;
    mutable bool m_troubled = false;
    mutable std::string m_loading_file;
};

// "QSPI" or "SD/MMC".
std::string flash_kind_name(GFPDB_MGR* manager);
std::string flash_kind_name(DEV_FAMILY_ENUM flash_family);

// A device family's record from the host's device tables; null when the host has none.
const PGMDEV_DEVICE_INFO* family_info(DEV_FAMILY_ENUM family);
// A family given by number or by name (any case); DEV_FAMILY_NONE when there is none.
DEV_FAMILY_ENUM parse_family(const std::string& text);
// "Jorra (72)".
std::string family_label(DEV_FAMILY_ENUM family);

// Output for people: lines stay within an 80-column terminal.
constexpr size_t LINE_WIDTH = 79;

struct COLUMN {
    const char* header;
    const char* key;  // member of each row object
};
// A value as a cell: null or empty shows "-", booleans "yes" or "no".
std::string cell_text(const JSON& cell);
// Aligned columns, one row per object of `rows`.
void print_table(std::ostream& out, const std::vector<COLUMN>& columns, const JSON& rows);
// Items joined by two spaces, wrapped to the line width under `indent`.
void print_wrapped(std::ostream& out, const std::string& indent,
                   const std::vector<std::string>& items);
// A text wrapped at spaces to the line width: `indent` before the first line, `continuation`
// before the others.
void print_text(std::ostream& out, const std::string& indent, const std::string& continuation,
                const std::string& text);
// "Label  value" lines with the values aligned.
void print_fields(std::ostream& out, const std::string& indent,
                  const std::vector<std::pair<std::string, std::string>>& fields);
void print_json(std::ostream& out, const JSON& document);
// The command's document on standard output: as JSON with --json, else through `people`.
void emit(const SESSION& session, const JSON& document,
          const std::function<void(std::ostream&, const JSON&)>& people);
// The "name" of each row, one a line.
void print_names(const JSON& rows);
// A path as people read it: relative to the working folder when it lies inside it.
std::string shown_path(const std::string& path);
// "gfpdb: TEXT" on standard error. With --json, the first such text of a failed run also
// becomes the document on standard output, {"error": {"message": TEXT, "id": ID}}, where ID is
// the number of the library message behind it, if any.
void print_error(const std::string& text, unsigned id = 0);
// The error document of a run that failed before it printed a document of its own.
void emit_error_document(const OPTIONS& options);

// What a rejected value's message (by its id) leaves the user to guess: the values or the
// range that are allowed; "" when the message says it all. The manager gives its own lists.
std::string allowed_values(GFPDB_MGR* manager, unsigned id);
// A device or template name that the editor accepts, made from one it refuses:
// "AT25DF641(A)" gives "AT25DF641_A".
std::string suggested_name(const std::string& name);
// The file format's element name of an action property ("COMMAND", "ACT_DUMMY_CLOCK_CYCLE").
std::string property_element_name(GFPDB_ACT_PROPERTY property);

// A row of a device list for a database record, and for a device built into the programmer.
JSON device_row(const SESSION& session, GFPDB_FLASH* flash);
JSON legacy_row(const std::string& name);
// The file format's element name of an action property, lower case ("bus_width").
const char* property_key(GFPDB_ACT_PROPERTY property);

// A programming flow as operations, actions and labelled property values, in run order.
JSON flow_json(const std::vector<GFPDB_OPERATION*>* operations);
void print_flow(std::ostream& out, const std::string& title, const JSON& flow);
// The flows a --flow value names: {"sfl", SFL} and/or {"sdm", SDM}; "" names both.
std::vector<std::pair<std::string, GFPDB_PROG_FLOW_TYPE>> chosen_flows(const std::string& flow);

// A user record as `show` gives it (parameters, flows), and its people form.
JSON device_json(const SESSION& session, GFPDB_MGR* manager, GFPDB_FLASH* flash);
void print_shown_device(std::ostream& out, const JSON& device);

// Saves a new record where --to says, and describes what was saved in `document` ("added",
// "file", "template", "message"); prints why and answers EXIT_REJECTED when it cannot.
int save_new_device(SESSION& session, GFPDB_MGR* manager, GFPDB_FLASH* flash, JSON& document);

// Lint findings as JSON objects ({"rule", "severity", "file", "line", "device" or "template",
// "flow", "operation", "action" from 1, "message"}); `file` empty and `line` 0 when unknown.
JSON lint_finding_json(const GFPDB_LINT_FINDING& finding, const std::string& file, unsigned line);
// "FILE:LINE: severity: MESSAGE [rule]", or the record and its place where there is no file.
void print_lint_findings(std::ostream& out, const JSON& findings);
size_t lint_error_count(const JSON& findings);
// The findings of the QSPI records of one file, loaded as check loads it; none for a file
// that does not pass the QSPI schema.
JSON lint_file(SESSION& session, const std::string& file);
// Every device record of a manager. Looking records up moves the manager's current record:
// a host that holds an unsaved record from create_flash lists the devices before making it.
std::vector<GFPDB_FLASH*> database_devices(GFPDB_MGR* manager);
// The findings of one device among `devices`, located in its file when `located`.
JSON lint_flash_json(SESSION& session, GFPDB_FLASH* flash, const std::vector<GFPDB_FLASH*>& devices,
                     bool located);

// The subcommands; each answers an EXIT_STATUS.
int run_families(SESSION& session);
int run_list(SESSION& session);
int run_show(SESSION& session);
int run_templates(SESSION& session);
int run_show_template(SESSION& session);
int run_check(SESSION& session);
int run_lint(SESSION& session);
int run_add(SESSION& session);
int run_delete(SESSION& session);
int run_delete_template(SESSION& session);
int run_config_custom_dir(SESSION& session);
int run_sfdp(SESSION& session);
int run_serve(SESSION& session);
// add --sfdp: a device drafted from the dump's tables and a template.
int run_add_sfdp(SESSION& session);

// An SFDP dump file in any form it comes in, decoded; prints why and answers false when not.
bool read_sfdp_file(const std::string& path, GFPDB_SFDP* sfdp);

// A folder of its own under the system's temporary folder ("PREFIX-XXXXXX"), removed with this
// object; path() is "" when it could not be made.
class SCRATCH_FOLDER {
public:
    explicit SCRATCH_FOLDER(const std::string& prefix);
    ~SCRATCH_FOLDER();
    SCRATCH_FOLDER(const SCRATCH_FOLDER&) = delete;
    SCRATCH_FOLDER& operator=(const SCRATCH_FOLDER&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace gfpdb_cli
