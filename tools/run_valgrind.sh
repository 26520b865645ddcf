#!/usr/bin/env bash
# Runs the loading and saving tests under valgrind's leak check: a definitely lost byte, or any
# memory error, fails the run. Takes a build folder made without sanitizers (default: build).
#
#   tools/run_valgrind.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

tests=(test_host_xml test_qspi_mgr test_sdmmc test_persistence test_hostile_files
       test_hostile_saves)
for name in "${tests[@]}"; do
    executable="$build/tests/$name"
    if [ ! -x "$executable" ]; then
        echo "run_valgrind: $executable is missing; build $build first" >&2
        exit 1
    fi
    echo "valgrind: $name"
    # Death tests fork a child that stops the program on purpose; only the parent is judged.
    GFPDB_USER_INI="$PWD/$build/tests/user.ini" \
        valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=1 \
        --child-silent-after-fork=yes "$executable" --gtest_brief=1
done
