#!/bin/sh
# Whole runs of two meshqem binaries side by side, interleaved run by run so
# that both see the same machine load: the real pair rs1/rs22, the
# near-coincident pair (rs22 against its jittered copy, made by
# meshqem_make_jittered), rs1 against a simplified copy (meshqem_make_thinned,
# vertex clustering at 2e-3 of the diagonal: 63 % of the vertices, 62 % of
# the faces), a lopsided pair (rs22 against a tetrahedron) and the
# small parasaurolophus pair, at 1 and 2 threads; then, when the bench
# programs are built beside NEW, two large generated spheres against the
# tetrahedron (10^7 faces binary, 2 * 10^6 faces ASCII), with the file bytes
# over the median wall time. Prints the median wall time of each and the
# ratio NEW / BASE, and checks that both print the same bytes.
#
#   bench/run_plane.sh NEW_MESHQEM BASE_MESHQEM [REPEATS] [WORKDIR]
set -eu
new=$1 base=$2 repeats=${3:-5}
work=${4:-$(mktemp -d)}
data=/usr/share/doc/opencv-doc/examples/surface_matching/data
jitter=$(dirname "$new")/meshqem_make_jittered
mkdir -p "$work"
[ -f "$work/rs22_jittered.ply" ] || "$jitter" "$data/rs22_proc2.ply" "$work/rs22_jittered.ply"
[ -f "$work/rs1_thinned.ply" ] ||
    "$(dirname "$new")/meshqem_make_thinned" "$data/rs1_normals.ply" "$work/rs1_thinned.ply" 2e-3
printf 'ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\nelement face 4\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n' >"$work/tetra.ply"

median() { sort -n | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }
now() { date +%s.%N; }

failures=0
run_pair() {
    name=$1 a=$2 b=$3
    for threads in 1 2; do
        : >"$work/new.t"; : >"$work/base.t"
        for _ in $(seq "$repeats"); do
            for which in new base; do
                bin=$new; [ $which = base ] && bin=$base
                s=$(now)
                OMP_NUM_THREADS=$threads "$bin" "$a" "$b" >"$work/$which.out" 2>/dev/null
                e=$(now)
                echo "$e - $s" | bc >>"$work/$which.t"
            done
            cmp -s "$work/new.out" "$work/base.out" || failures=$((failures + 1))
        done
        tn=$(median <"$work/new.t") tb=$(median <"$work/base.t")
        printf '%-28s %d thread(s): new %6.3f s, base %6.3f s, new/base %.2f' "$name" "$threads" \
            "$tn" "$tb" "$(echo "$tn / $tb" | bc -l)"
        bytes=$(stat -c %s "$a")
        [ "$bytes" -gt 50000000 ] && printf ', new %.0f MB/s' "$(echo "$bytes / $tn / 1000000" | bc -l)"
        echo
    done
}

run_pair "rs1 -> rs22" "$data/rs1_normals.ply" "$data/rs22_proc2.ply"
run_pair "rs22 -> rs22 jittered" "$data/rs22_proc2.ply" "$work/rs22_jittered.ply"
run_pair "rs1 -> rs1 thinned" "$data/rs1_normals.ply" "$work/rs1_thinned.ply"
run_pair "rs22 -> tetrahedron" "$data/rs22_proc2.ply" "$work/tetra.ply"
run_pair "parasaurolophus pair" "$data/parasaurolophus_6700.ply" "$data/parasaurolophus_low_normals2.ply"
sphere=$(dirname "$new")/bench/reader/meshqem_make_sphere
if [ -x "$sphere" ]; then
    [ -f "$work/sphere_1e7.ply" ] || "$sphere" 10000000 binary "$work/sphere_1e7.ply"
    [ -f "$work/sphere_2e6_ascii.ply" ] || "$sphere" 2000000 ascii "$work/sphere_2e6_ascii.ply"
    run_pair "10^7-face binary -> tetra" "$work/sphere_1e7.ply" "$work/tetra.ply"
    run_pair "2*10^6-face ASCII -> tetra" "$work/sphere_2e6_ascii.ply" "$work/tetra.ply"
fi
echo "runs whose outputs differ: $failures"
[ $failures -eq 0 ]
