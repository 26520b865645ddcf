// A QSPI device drafted from a chip's SFDP tables and a programming-flow template: the values
// and flow steps the chip describes come from its tables, the rest from the template and from
// what the user gives, and every value says where it came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"
#include "pgm/gfpdb/gfpdb_sfdp.h"

// What the user gives besides the dump; an empty text or a negative number is not given.
struct GFPDB_SFDP_DRAFT_INPUT {
    std::string id;       // required: SFDP holds no ID
    std::string voltage;  // required: SFDP cannot tell the I/O voltage
    std::string density;  // wins over SFDP's density
    int dies = -1;
    int dummy = -1;
    int dummy_x4 = -1;          // wins over SFDP's x4 read
    std::string template_name;  // wins over the one the ID or the tables suggest
};

// One line of the report: a value of the device and where it came from.
struct GFPDB_SFDP_DRAFT_VALUE {
    std::string what;    // "Density", "Erase", ...
    std::string value;   // as the device holds it
    std::string source;  // "SFDP", "template", "option", "ID" or "default"
    std::string note;    // why, when the source is not the obvious one
};

struct GFPDB_SFDP_DRAFT {
    std::string template_name;
    std::vector<GFPDB_SFDP_DRAFT_VALUE> report;
};

// The golden template a JEDEC manufacturer byte belongs to; empty when none does.
GFPDB_EXPORT std::string gfpdb_sfdp_template_of_manufacturer(uint8_t manufacturer);

// The golden template whose command set is closest to what the tables say (busy-poll method,
// quad-enable requirement, 4-byte entry method).
GFPDB_EXPORT std::string gfpdb_sfdp_closest_template(const GFPDB_SFDP& sfdp);

// Fills `flash` (a new QSPI record named by the caller) from the tables, the input and the
// chosen template of `manager`. False, with a one-line reason, when no template of that name
// exists or the tables lack what a device needs (an erase type it can use). Values are not
// validated here: the caller validates and saves as for any new device.
GFPDB_EXPORT bool gfpdb_sfdp_draft_device(GFPDB_MGR* manager, const GFPDB_SFDP& sfdp,
                                          const GFPDB_SFDP_DRAFT_INPUT& input, GFPDB_FLASH* flash,
                                          GFPDB_SFDP_DRAFT* draft, std::string* error);
