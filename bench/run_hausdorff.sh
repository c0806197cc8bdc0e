#!/usr/bin/env bash
# The certified Hausdorff interval on the real pairs beside CGAL's
# bounded_error_Hausdorff_distance, at an error bound of 1e-4 of the
# diagonal, in one run: rs1 <-> rs22, the parasaurolophus pair, and rs22
# against a copy jittered by 1e-3 of its diagonal. Each direction is timed
# alone, medians of RUNS runs; ours on 1 and 2 threads in turn run by run,
# CGAL's sequential.
#   bench/run_hausdorff.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
"$root/scripts/install-deps.sh" opencv-doc libcgal-dev
build=$root/build/bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHQEM_BUILD_BENCH=ON \
    -DMESHQEM_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j2 --target meshqem_hausdorff_bench meshqem_cgal_hausdorff > /dev/null
ours=$build/bench/meshqem_hausdorff_bench
cgal=$build/bench/meshqem_cgal_hausdorff
data=/usr/share/doc/opencv-doc/examples/surface_matching/data
work=$(mktemp -d /tmp/meshqem-hausdorff-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$ours" --jitter "$data/rs22_proc2.ply" 1e-3 "$work/rs22_jitter.ply"
pairs=("$data/rs1_normals.ply $data/rs22_proc2.ply"
       "$data/parasaurolophus_6700.ply $data/parasaurolophus_low_normals2.ply"
       "$data/rs22_proc2.ply $work/rs22_jitter.ply")
for pair in "${pairs[@]}"; do
    set -- $pair
    echo "== $(basename "$1") <-> $(basename "$2")"
    OMP_NUM_THREADS=2 "$ours" "$1" "$2" 1e-4 "$runs"
    "$cgal" "$1" "$2" 1e-4 "$runs"
done
