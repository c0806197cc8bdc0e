#!/usr/bin/env bash
# Runs the whole test suite twice: optimised, and under AddressSanitizer with
# UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
for preset in release asan-ubsan; do
    echo "=== $preset"
    cmake --preset "$preset" -DMESHQEM_BUILD_TESTS=ON
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
