// The rounding-critical steps of the plane index build: each turns double
// computations into float bounds that the search's error analysis
// (kernels.h) takes as exact enclosures of real quantities. build.cpp keeps
// the partition and the layout; everything here is a pure function of its
// arguments, so that enclosure_test can check each contract against exact
// arithmetic.
//
// Every input is a finite float inside the index's domain (plane_index.h):
// coordinates and reference points up to kMaxIndexedCoordinate, normal
// components up to kMaxIndexedNormalComponent, and offsets and radii as the
// helpers below produce them from such inputs. Nothing then overflows, and
// every product of two floats is exact in double (24 + 24 significant bits,
// and no result below 2^-298).
#pragma once

#include "geometry/vector3.h"
#include "qem/index/plane_index.h"

// Exact directed rounding to float, for any non-NaN x: floatDown(x) is the
// largest float <= x (-inf below -FLT_MAX), floatUp(x) the smallest float
// >= x (+inf above FLT_MAX). Exact rather than merely outward, so that each
// margin below is the only cover for the double rounding it is sized for.
float floatDown(double x);
float floatUp(double x);

// Offsets and radius of a set of faces about a reference point p.
struct OffsetRange {
    float lo, hi, rad;
};

// One face with corners c_0, c_1, c_2 and normal n, about p. With, exactly in
// real arithmetic,
//     o_k = sum_i n_i (c_k,i - p_i),    s_k = sum_i |c_k,i - p_i| |n_i|,
// returns lo <= o_k <= hi and s_k <= rad for k = 0, 1, 2.
OffsetRange offsetRange(const Vector3 (&corner)[3], const Vector3& normal, const float p[3]);

// The lanes 0 .. node.count-1 of `node` moved to the new reference point P.
// For every lane j, with d = p_j - P exactly, every real o in
// [olo_j, ohi_j] and every n in lane j's normal box [nlo_j, nhi_j]:
//     lo <= o + n . d <= hi,
//     rad_j + sum_i max(|nlo_j,i|, |nhi_j,i|) |d_i| <= rad.
// So a face beneath lane j, whose corner offsets about p_j lie in
// [olo_j, ohi_j] and whose sums about p_j are at most rad_j, has its corner
// offsets n . (c - P) = n . (c - p_j) + n . d in [lo, hi] and, by the triangle
// inequality, sum_i |c_i - P_i| |n_i| <= rad: the subtree's enclosure about P
// from its node's lanes alone, without reading a face.
OffsetRange deriveOffsets(const PlaneNode& node, const float P[3]);

// How a leaf stores one face's offsets: the interval [mid - hw, mid + hw].
struct LeafOffsets {
    float mid, hw;
};

// For floats lo <= hi: [lo, hi] lies inside [mid - hw, mid + hw] exactly, with
// mid = (lo + hi) / 2 rounded to float (so lo <= mid <= hi) and hw >= 0.
LeafOffsets leafOffsets(float lo, float hi);

struct OffsetInterval {
    float lo, hi;
};

// The interval of the lane that refers to `leaf`: for every m < kLanes, with
// hw_m >= 0, lo <= omid_m - hw_m and omid_m + hw_m <= hi exactly. It holds
// each face's [omid - hw, omid + hw], not only its corner offsets, as the leaf
// bound needs (kernels.h, analysis 3): |omid_m| + hw_m <= max(|lo|, |hi|).
OffsetInterval leafLaneOffsets(const PlaneLeaf& leaf);
