// The flow lint: whether the command sequences of a QSPI device or template would work on the
// chip they program. Rules come from datasheet conventions and JEDEC practice; a rule that
// cannot decide stays silent. No rule touches a file.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

enum GFPDB_LINT_SEVERITY {
    GFPDB_LINT_SEVERITY_ERROR = 0,    // the flow cannot work
    GFPDB_LINT_SEVERITY_WARNING = 1,  // probably wrong; known exceptions exist
    GFPDB_LINT_SEVERITY_NOTE = 2      // worth a look
};
constexpr int GFPDB_LINT_SEVERITY_COUNT = 3;
// "error", "warning", "note".
GFPDB_EXPORT extern const char* const gfpdb_lint_severity_name[GFPDB_LINT_SEVERITY_COUNT];

// One row of the rule table, as hosts list it.
struct GFPDB_LINT_RULE_INFO {
    const char* id;                // "write-enable": what findings carry and --disable takes
    GFPDB_LINT_SEVERITY severity;  // the worst the rule reports
    const char* summary;           // one line: what it checks
};
// Every rule, in the order they run.
GFPDB_EXPORT const std::vector<GFPDB_LINT_RULE_INFO>& gfpdb_lint_rules();
GFPDB_EXPORT bool gfpdb_lint_rule_exists(const std::string& id);

// Where a finding points, from the widest to the narrowest place.
constexpr int GFPDB_LINT_NONE = -1;

struct GFPDB_LINT_FINDING {
    std::string rule;
    GFPDB_LINT_SEVERITY severity = GFPDB_LINT_SEVERITY_ERROR;
    std::string device;               // the device's name; empty for a template
    std::string template_name;        // the template's name; empty for a device
    int flow = GFPDB_LINT_NONE;       // GFPDB_PROG_FLOW_TYPE; NONE: the record as a whole
    int operation = GFPDB_LINT_NONE;  // GFPDB_OP_TYPE; NONE: the whole flow or record
    int action = GFPDB_LINT_NONE;     // index in the operation, from 0; NONE: the operation
    std::string message;
};

// Lints records with some rules turned off. The findings of each call come rule by rule, in
// flow order within a rule.
class GFPDB_EXPORT GFPDB_QSPI_LINT {
public:
    // Unknown ids in `disabled` are ignored; ask gfpdb_lint_rule_exists first.
    explicit GFPDB_QSPI_LINT(std::set<std::string> disabled = {});

    // A QSPI device record. `others` are the devices it may shadow (golden or user, itself
    // included or not); the shadow rule looks at user devices only (removable records).
    std::vector<GFPDB_LINT_FINDING> lint_flash(GFPDB_FLASH* flash,
                                               const std::vector<GFPDB_FLASH*>& others = {}) const;
    // A template's two flows; `vendor` is a golden template name ("Micron", ...) or empty
    // when the chip's maker is unknown. Rules that need the chip's density or ID stay silent.
    std::vector<GFPDB_LINT_FINDING> lint_template(const std::string& name,
                                                  const std::vector<GFPDB_OPERATION*>* sfl,
                                                  const std::vector<GFPDB_OPERATION*>* sdm,
                                                  const std::string& vendor = "") const;
    // Every device, golden template and user template of a QSPI manager.
    std::vector<GFPDB_LINT_FINDING> lint_database(GFPDB_MGR* manager) const;

    // The number of findings of a severity.
    static size_t count(const std::vector<GFPDB_LINT_FINDING>& findings,
                        GFPDB_LINT_SEVERITY severity);

private:
    std::set<std::string> m_disabled;
};
