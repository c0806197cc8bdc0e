#!/bin/sh
# Times whole runs of meshqem on the real pairs from Debian's opencv-doc, at 1
# and 2 threads, against the exhaustive search (MESHQEM_SEARCH=exhaustive) in
# the same run, prints medians and ratios, and checks that both print the same
# bytes, for both pairs, both orders, 1 and 2 threads.
#
#   bench/run_real.sh [BUILD_DIR] [REPEATS]
#
# Without arguments it installs what it needs and builds the release preset
# with the benchmarks; a BUILD_DIR given must have been configured with
# -DMESHQEM_BUILD_BENCH=ON. The whole exhaustive run of the large pair takes
# minutes per order, so it runs once per order (at 2 threads: its output does
# not depend on the thread count); its timing comes from
# meshqem_search_sample, which runs the exhaustive loop on a fixed sample of
# the vertices in the same process as the search.
set -eu

build=${1:-build/release}
repeats=${2:-5}
data=/usr/share/doc/opencv-doc/examples/surface_matching/data
small1=$data/parasaurolophus_6700.ply
small2=$data/parasaurolophus_low_normals2.ply
large1=$data/rs1_normals.ply
large2=$data/rs22_proc2.ply

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" opencv-doc libbenchmark-dev libcgal-dev bc
if [ $# -eq 0 ]; then
    (cd "$root" && cmake --preset release -DMESHQEM_BUILD_BENCH=ON >/dev/null &&
        cmake --build --preset release -j "$(nproc)" >/dev/null)
    build=$root/build/release
fi
for f in "$small1" "$small2" "$large1" "$large2"; do
    [ -f "$f" ] || { gunzip -k "$f.gz" 2>/dev/null || { echo "missing $f" >&2; exit 1; }; }
done
meshqem=$build/meshqem
sample=$build/bench/meshqem_search_sample
[ -x "$meshqem" ] && [ -x "$sample" ] || { echo "build $build with -DMESHQEM_BUILD_BENCH=ON" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# time_runs OUT_PREFIX THREADS MODE FIRST SECOND: runs meshqem $repeats times,
# keeps the output of each run and prints the median wall time in seconds.
time_runs() {
    prefix=$1 threads=$2 mode=$3 first=$4 second=$5
    i=0
    : >"$prefix.times"
    while [ $i -lt "$repeats" ]; do
        start=$(date +%s.%N)
        OMP_NUM_THREADS=$threads MESHQEM_SEARCH=$mode "$meshqem" "$first" "$second" >"$prefix.out.$i"
        end=$(date +%s.%N)
        echo "$end - $start" | bc >>"$prefix.times"
        i=$((i + 1))
    done
    sort -n "$prefix.times" | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

failures=0
same() {
    if cmp -s "$1" "$2"; then echo "  identical output: $3"; else echo "  DIFFERENT output: $3"; failures=$((failures + 1)); fi
}

echo "== small pair, whole runs, median of $repeats"
for order in 12 21; do
    if [ $order = 12 ]; then a=$small1 b=$small2; else a=$small2 b=$small1; fi
    for threads in 1 2; do
        fast=$(time_runs "$work/s$order-$threads-fast" $threads auto "$a" "$b")
        slow=$(time_runs "$work/s$order-$threads-exh" $threads exhaustive "$a" "$b")
        echo "order $order, $threads threads: search $fast s, exhaustive $slow s, ratio $(echo "scale=1; $slow / $fast" | bc)"
        for i in $(seq 0 $((repeats - 1))); do
            same "$work/s$order-$threads-exh.out.0" "$work/s$order-$threads-fast.out.$i" "order $order, $threads threads, run $i"
        done
    done
done

# median_time OUT_PREFIX COMMAND...: median wall time of $repeats runs.
median_time() {
    prefix=$1
    shift
    : >"$prefix.times"
    for _ in $(seq "$repeats"); do
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        echo "$end - $start" | bc >>"$prefix.times"
    done
    sort -n "$prefix.times" | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

echo "== large pair, whole runs of the search, median of $repeats"
cgal=$build/bench/meshqem_cgal_closest
for order in 12 21; do
    if [ $order = 12 ]; then a=$large1 b=$large2; else a=$large2 b=$large1; fi
    for threads in 1 2; do
        fast=$(time_runs "$work/l$order-$threads-fast" $threads auto "$a" "$b")
        if [ -x "$cgal" ]; then
            # The closest-surface question of established tools, both
            # directions, whole process, measured right beside ours.
            closest=$(median_time "$work/l$order-$threads-cgal" "$cgal" "$a" "$b")
            echo "order $order, $threads threads: whole run $fast s; CGAL AABB-tree closest-surface run $closest s; meshqem / CGAL $(echo "scale=2; $fast / $closest" | bc)"
        else
            echo "order $order, $threads threads: whole run $fast s (CGAL baseline not built: install libcgal-dev)"
        fi
    done
done

echo "== large pair, search against the exhaustive loop on a sample, same process"
for threads in 1 2; do
    OMP_NUM_THREADS=$threads "$sample" "$large1" "$large2" 100 "$repeats" || failures=$((failures + 1))
done

echo "== large pair, whole exhaustive run once per order (minutes)"
for order in 12 21; do
    if [ $order = 12 ]; then a=$large1 b=$large2; else a=$large2 b=$large1; fi
    OMP_NUM_THREADS=2 MESHQEM_SEARCH=exhaustive "$meshqem" "$a" "$b" >"$work/l$order-exh.out"
    for threads in 1 2; do
        same "$work/l$order-exh.out" "$work/l$order-$threads-fast.out.0" "order $order, $threads threads"
    done
done

echo "failures: $failures"
[ $failures -eq 0 ]
