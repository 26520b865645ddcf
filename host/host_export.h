// Visibility of the standalone host layer: everything declared through host/host.h is part of
// the host's public face, the rest of the shared library stays hidden.
#pragma once

#define HOST_EXPORT __attribute__((visibility("default")))
