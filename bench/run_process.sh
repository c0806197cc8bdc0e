#!/bin/sh
# Whole processes side by side: `meshqem --surface --samples 0 A B` against
# meshqem_embree_process (the same reader, Embree 3's scenes and point
# queries with the same exact routine, both directions), interleaved run by
# run so that both see the same load, at 1 and 2 threads, medians of REPEATS
# wall times; then the per-sample query cost of the default area samples in
# both engines. Pairs: rs1 <-> rs22 and rs22 against a copy jittered by 1e-3
# of its diagonal.
#
#   bench/run_process.sh [BUILD_DIR] [REPEATS]
#
# BUILD_DIR must have been configured with -DMESHQEM_BUILD_BENCH=ON and
# Embree installed (apt-get install libembree-dev).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
repeats=${2:-5}
data=/usr/share/doc/opencv-doc/examples/surface_matching/data
cmake --build "$build" -j2 --target meshqem meshqem_embree_process meshqem_make_jittered >/dev/null
work=$(mktemp -d /tmp/meshqem-process-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/meshqem_make_jittered" "$data/rs22_proc2.ply" "$work/rs22_jittered.ply"

median() { sort -n | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }
now() { date +%s.%N; }

run_pair() {
    name=$1 a=$2 b=$3
    for threads in 1 2; do
        : >"$work/ours.t"; : >"$work/embree.t"
        for _ in $(seq "$repeats"); do
            s=$(now); OMP_NUM_THREADS=$threads "$build/meshqem" --surface --samples 0 "$a" "$b" >/dev/null; e=$(now)
            echo "$e - $s" | bc >>"$work/ours.t"
            s=$(now); OMP_NUM_THREADS=$threads "$build/bench/meshqem_embree_process" "$a" "$b" >/dev/null; e=$(now)
            echo "$e - $s" | bc >>"$work/embree.t"
        done
        to=$(median <"$work/ours.t") te=$(median <"$work/embree.t")
        printf '%-22s %d thread(s): meshqem %6.3f s, embree program %6.3f s, meshqem/embree %.2f\n' \
            "$name" "$threads" "$to" "$te" "$(echo "$to / $te" | bc -l)"
    done
    OMP_NUM_THREADS=1 "$build/bench/meshqem_embree_process" --area "$a" "$b" "$repeats"
}

run_pair "rs1 <-> rs22" "$data/rs1_normals.ply" "$data/rs22_proc2.ply"
run_pair "rs22 <-> rs22 jittered" "$data/rs22_proc2.ply" "$work/rs22_jittered.ply"
