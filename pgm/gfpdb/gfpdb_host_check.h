// Whether a host folder can serve the flash managers. A manager trusts its golden file and
// stops the program when that file is missing or broken, so a host that lets its user choose
// the folder asks here first and refuses the folder with the problem named.
#pragma once

#include <string>

#include "pgm/gfpdb/gfpdb_export.h"

class GFPDB_EXPORT GFPDB_HOST_CHECK {
public:
    // The first problem of the host folder `host_dir` (the common programmer folder, holding
    // xml/ and xsd/), "" when it can serve: the folder, a golden file or a schema missing, a
    // golden file that cannot be read or lacks an element the loader requires, or a value of a
    // golden file that loading's validators refuse ("FILE:LINE: device NAME: MESSAGE", the
    // validator's message). The SD/MMC golden file counts only when `with_sdmmc` is true
    // (setting "pgm_enable_sdmmc"). Nothing is loaded and no message is posted.
    static std::string problem(const std::string& host_dir, bool with_sdmmc);
};
