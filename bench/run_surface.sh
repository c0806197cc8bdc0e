#!/bin/sh
# The nearest-surface search on rs1 <-> rs22 and a near-coincident pair (rs22
# jittered by 1e-3 of its diagonal against rs22): our index, Embree 3's
# rtcPointQuery with the same exact routine, and the exhaustive loop on a
# sample, side by side in one run at 1 and 2 threads, with the bit-for-bit
# comparison of all three (meshqem_surface_bench).
#
#   bench/run_surface.sh [BUILD_DIR] [REPEATS] [SAMPLE]
#
# BUILD_DIR must have been configured with -DMESHQEM_BUILD_BENCH=ON; without
# Embree (apt-get install libembree-dev) its column reads nan. Numbers on a
# shared machine are noisy: compare within one run, and repeat the run.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
repeats=${2:-7}
sample=${3:-100}
data=/usr/share/doc/opencv-doc/examples/surface_matching/data

cmake --build "$build" -j2 --target meshqem_surface_bench >/dev/null
OMP_NUM_THREADS=2 "$build/bench/meshqem_surface_bench" "$data" "$repeats" "$sample"
