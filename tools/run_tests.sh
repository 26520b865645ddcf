#!/usr/bin/env bash
# Builds and runs the whole test suite: a normal build (whose loading and saving tests also run
# under valgrind's leak check), then one under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the fuzz targets for about a minute each. Also checks that generated and formatted files
# are up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh tests

python3 tools/gen_element_classes.py --check
if [ -f tools/gen_golden_qspi.py ]; then python3 tools/gen_golden_qspi.py --check; fi
if [ -f tools/check_data.sh ]; then bash tools/check_data.sh; fi

jobs=${GFPDB_JOBS:-2}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGFPDB_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure
bash tools/run_valgrind.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DGFPDB_SANITIZE=ON -DGFPDB_BUILD_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j"$jobs" --output-on-failure

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DGFPDB_BUILD_FUZZ=ON -DGFPDB_BUILD_TESTS=OFF -DGFPDB_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
bash fuzz/run_short.sh build-fuzz "${GFPDB_FUZZ_SECONDS:-60}"
