// Visibility of the flash database library: only the exported classes are seen by hosts.
#pragma once

#define GFPDB_EXPORT __attribute__((visibility("default")))
