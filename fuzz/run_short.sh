#!/usr/bin/env bash
# Replays every kept finding through its fuzz target, then fuzzes each target for a short
# while on a copy of its committed seed corpus. A crash, a broken property or a hang fails
# the run and leaves the input in the work folder it names.
#
#   fuzz/run_short.sh <fuzz build folder> [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/gfpdb_fuzz_run_XXXXXX")

for target in qspi_file sdmmc_file values round_trip sfdp; do
    executable="$build/fuzz/fuzz_$target"
    options=(-timeout=60 -rss_limit_mb=2048 -artifact_prefix="$work/$target-")
    if [ -f "fuzz/$target.dict" ]; then options+=(-dict="fuzz/$target.dict"); fi
    kept=(tests/fuzz_regressions/"$target"/*)
    if [ -f "${kept[0]}" ]; then
        echo "fuzz: $target, ${#kept[@]} kept findings"
        "$executable" "${options[@]}" "${kept[@]}" 2>"$work/$target.replay.log" ||
            { tail -n 40 "$work/$target.replay.log"; exit 1; }
    fi
    echo "fuzz: $target, ${seconds}s"
    mkdir -p "$work/$target"
    "$executable" "${options[@]}" -max_total_time="$seconds" "$work/$target" "fuzz/corpus/$target" \
        2>"$work/$target.log" || { tail -n 40 "$work/$target.log"; echo "inputs in $work" >&2; exit 1; }
    grep -h "^#.*DONE" "$work/$target.log" || true
done
rm -rf "$work"
