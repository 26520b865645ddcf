// Fitting a template's flows to one device: templates carry 4-byte flows and their own dummy
// cycles, a device may be smaller or read with another count.
#pragma once

#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

// Rewrites the two flows that `flash` owns for its density and DUMMY_CLOCK_CYCLE:
// - at or below 128 Mbit, 3-byte addresses reach the whole chip: the steps that enter or
//   leave 4-byte mode and their read-backs go, addressing mode 4 becomes 3, and 4-byte
//   opcodes become their 3-byte forms;
// - where a flow sets the dummy cycles itself (a configuration-register write), that write,
//   its read-back and the fast reads follow the device's count.
// Answers one line per change made, for the user ("SFL Initialization: removed 'Enter 4 byte
// address mode'"); empty when the flows already fit.
GFPDB_EXPORT std::vector<std::string> gfpdb_qspi_adapt_flash(GFPDB_FLASH* flash);

// One flow of a golden or user template, by the template's name; null for an unknown name.
GFPDB_EXPORT const std::vector<GFPDB_OPERATION*>* gfpdb_template_flow(GFPDB_MGR* manager,
                                                                      std::string name,
                                                                      GFPDB_PROG_FLOW_TYPE flow);
