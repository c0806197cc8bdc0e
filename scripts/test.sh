#!/usr/bin/env bash
# Runs the whole test suite twice: optimised, and under AddressSanitizer with
# UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh libbenchmark-dev
jobs=$(nproc)
for preset in release asan-ubsan; do
    echo "=== $preset"
    # The optimised build also compiles (never runs) the benchmarks, so that
    # they keep building.
    bench=OFF
    [ "$preset" = release ] && bench=ON
    cmake --preset "$preset" -DMESHQEM_BUILD_TESTS=ON -DMESHQEM_BUILD_BENCH="$bench"
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
