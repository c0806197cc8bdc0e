#!/usr/bin/env bash
# Runs the whole test suite twice: optimised, and under AddressSanitizer with
# UndefinedBehaviorSanitizer. Installs what it needs first: opencv-doc ships
# the real scans that the real-file tests read, and parallel (GNU parallel)
# runs the README's batch recipe (those tests skip without them).
# MESHQEM_WERROR=ON turns warnings into errors (CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh libbenchmark-dev opencv-doc parallel
werror=${MESHQEM_WERROR:-OFF}
jobs=$(nproc)
for preset in release asan-ubsan; do
    echo "=== $preset"
    # The optimised build also compiles (never runs) the benchmarks, so that
    # they keep building.
    bench=OFF
    [ "$preset" = release ] && bench=ON
    cmake --preset "$preset" -DMESHQEM_BUILD_TESTS=ON -DMESHQEM_BUILD_BENCH="$bench" \
        -DMESHQEM_WERROR="$werror"
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
