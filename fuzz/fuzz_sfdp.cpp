// The SFDP reader on any bytes, as a dump file in any form and as raw tables: it answers, never
// reads outside its input (the sanitizers watch), and what it answers holds together.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pgm/gfpdb/gfpdb_sfdp.h"

namespace fuzz_sfdp {

void check_decoded(const GFPDB_SFDP& sfdp) {
    FUZZ_CHECK(sfdp.bfpt_dwords >= 9 && sfdp.bfpt_dwords <= 20);
    FUZZ_CHECK(sfdp.density_bytes > 0);
    for (size_t i = 0; i < sfdp.erase_types.size(); ++i) {
        const GFPDB_SFDP_ERASE& erase = sfdp.erase_types[i];
        FUZZ_CHECK(erase.size != 0 && (erase.size & (erase.size - 1)) == 0);
        FUZZ_CHECK(erase.type >= 1 && erase.type <= 4);
        FUZZ_CHECK(i == 0 || sfdp.erase_types[i - 1].size <= erase.size);
        FUZZ_CHECK(erase.max_ms >= erase.typical_ms);
    }
    FUZZ_CHECK(sfdp.erase_types.size() <= 4 && sfdp.reads.size() <= 4);
    FUZZ_CHECK(sfdp.quad_enable >= -1 && sfdp.quad_enable <= 7);
    FUZZ_CHECK(sfdp.page_size == 0 || (sfdp.page_size & (sfdp.page_size - 1)) == 0);
}

}  // namespace fuzz_sfdp

GFPDB_FUZZ_TARGET(sfdp) {
    GFPDB_SFDP sfdp;
    std::string error;
    // The raw tables at an exact size, so that a read one byte too far is seen.
    const std::vector<uint8_t> exact(data, data + size);
    if (gfpdb_sfdp_read(exact.data(), exact.size(), &sfdp, &error))
        fuzz_sfdp::check_decoded(sfdp);
    else
        FUZZ_CHECK(!error.empty());
    error.clear();
    if (gfpdb_sfdp_read_dump(std::string(reinterpret_cast<const char*>(data), size), &sfdp, &error))
        fuzz_sfdp::check_decoded(sfdp);
    else
        FUZZ_CHECK(!error.empty());
    return 0;
}
