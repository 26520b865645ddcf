#include "pgm/gfpdb/gfpdb_version.h"

const char* GFPDB_VERSION::get_library_version() {
    return GFPDB_LIBRARY_VERSION;
}
