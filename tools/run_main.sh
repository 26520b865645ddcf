#!/usr/bin/env bash
# Builds the library and the command (the tests are the test command's) and runs the main job
# on the bundled data folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGFPDB_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"${GFPDB_JOBS:-2}"
if [ -x build/cli/gfpdb ]; then
    build/cli/gfpdb --host-dir data list
    build/cli/gfpdb --host-dir data show GF25M128L
fi
