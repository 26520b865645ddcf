// The version of the flash database library that a program runs with.
#pragma once

#include "pgm/gfpdb/gfpdb_export.h"

class GFPDB_EXPORT GFPDB_VERSION {
public:
    // "MAJOR.MINOR.PATCH" of the library as it was built, which a shared library may not share
    // with the program that loaded it.
    static const char* get_library_version();
};
