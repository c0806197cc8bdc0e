#!/usr/bin/env bash
# Builds and runs the PLY reader benchmarks: load speed beside plain reading
# (Google Benchmark, medians of repetitions) and peak memory per load.
#   bench/reader/run.sh [REPETITIONS]        (default 5)
# Generated meshes (about 1 GB) are written once to $MESHQEM_READER_DATA
# (default: a temporary directory, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh libbenchmark-dev opencv-doc
build=${MESHQEM_READER_BUILD:-build/bench-reader}
export MESHQEM_BENCH_REPETITIONS=${1:-5}

cmake -S bench/reader -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target meshqem_reader_bench meshqem_reader_rss

if [[ -z "${MESHQEM_READER_DATA:-}" ]]; then
    MESHQEM_READER_DATA=$(mktemp -d "${TMPDIR:-/tmp}/meshqem-reader-XXXXXX")
    trap 'rm -rf "$MESHQEM_READER_DATA"' EXIT
fi
export MESHQEM_READER_DATA

echo "== load speed (file MB / wall time of loadPlyMesh; read = read(2) into a new buffer)"
"$build"/meshqem_reader_bench
echo
echo "== peak memory per load"
"$build"/meshqem_reader_rss
