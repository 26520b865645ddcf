#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them: loading 1,000 and 10,000 generated device files
# against the libxml2 floor, saving, deleting and querying one device, memory and reads. The
# summary after the benchmark table prints the ratios. Extra arguments go to the benchmark
# program, for example --benchmark_filter=construct.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh bench

jobs=${GFPDB_JOBS:-2}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DGFPDB_BUILD_BENCH=ON \
    -DGFPDB_BUILD_TESTS=OFF -DGFPDB_BUILD_TOOLS=OFF >/dev/null
cmake --build build-bench -j"$jobs" --target gfpdb_bench gfpdb_bench_gen
# Repetitions interleaved at random, so that a busy machine weighs on every benchmark alike.
exec build-bench/bench/gfpdb_bench --benchmark_repetitions="${GFPDB_BENCH_REPETITIONS:-5}" \
    --benchmark_enable_random_interleaving=true "$@"
