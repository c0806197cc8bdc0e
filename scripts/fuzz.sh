#!/usr/bin/env bash
# Fuzzes the PLY reader and the mesh loader under ASan+UBSan.
#   scripts/fuzz.sh [SECONDS] [JOBS]     (default: 60 seconds, 1 job)
# The working corpus grows in fuzz/corpus-work/ (not committed); inputs that
# crash land in build/fuzz/artifacts/. Keep each one as a regression case in
# tests/data/fuzz-regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${2:-1}

scripts/install-deps.sh clang libclang-rt-14-dev libomp-14-dev
cmake --preset fuzz -DMESHQEM_WERROR="${MESHQEM_WERROR:-OFF}"
cmake --build --preset fuzz -j "$(nproc)"

seeds=build/fuzz/seeds
mkdir -p "$seeds" fuzz/corpus-work build/fuzz/artifacts
build/fuzz/fuzz/meshqem_fuzz_seeds "$seeds"
cp tests/data/fuzz-regressions/* "$seeds"/ 2>/dev/null || true

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Several jobs log to fuzz-N.log files; one job logs here.
parallel=()
if [ "$jobs" -gt 1 ]; then
    parallel=(-jobs="$jobs" -workers="$jobs")
fi
# The memory limits catch allocations driven by declared counts rather than
# by the bytes actually present.
build/fuzz/fuzz/meshqem_fuzz_ply fuzz/corpus-work "$seeds" \
    -dict=fuzz/ply.dict -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=1024 \
    -malloc_limit_mb=512 -timeout=10 "${parallel[@]}" \
    -artifact_prefix=build/fuzz/artifacts/ -print_final_stats=1
