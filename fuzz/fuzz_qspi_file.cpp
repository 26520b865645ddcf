// One user QSPI file in the custom folder, loaded by a new manager: whatever it holds, loading
// ends, and what it keeps follows the loader's own rules.
#include <cstddef>
#include <cstdint>

#include "fuzz_qspi_oracle.h"

GFPDB_FUZZ_TARGET(qspi_file) {
    using namespace gfpdb_fuzz;
    SANDBOX& sandbox = SANDBOX::for_qspi();
    write_file(sandbox.custom_dir() + "pgm_flash_fuzz.xml", reinterpret_cast<const char*>(data),
               size);
    QSPI_PROBE mgr;
    check_loaded_qspi(mgr);
    return 0;
}
