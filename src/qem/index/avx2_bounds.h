// The AVX2 bounds of the plane index, included by the AVX2 kernel set and
// by the AVX-512 one (which widens only leafAny), each inside its own target
// region, after traversal.h; the headers below must have been included
// before that region. Everything here has internal linkage, as in
// traversal.h, so that no copy compiled for one instruction set is shared
// with another.
//
// Each line mirrors one statement of the portable kernels in
// kernels_portable.cpp, with the same operand order for min/max
// (_mm256_max_ps(a, b) is a > b ? a : b, as maxf there), so both return the
// same bits. No fused multiply-add: no fma target is enabled, the build has
// -ffp-contract=off, and no fmadd intrinsic is used.
#pragma once

#include <immintrin.h>

#include "qem/index/kernels.h"

namespace {

inline __m256 absps(__m256 a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }

unsigned nodeBoundsAvx2(const PlaneNode& node, const QueryBox& box, float limit, float* lb,
                        float* allow)
{
    const float* p[3] = {node.px, node.py, node.pz};
    const float* nlo[3] = {node.nlox, node.nloy, node.nloz};
    const float* nhi[3] = {node.nhix, node.nhiy, node.nhiz};
    __m256 mn[3], mx[3], mag[3];
    for (int i = 0; i < 3; ++i) {
        __m256 pi = _mm256_load_ps(p[i]);
        __m256 vl = _mm256_sub_ps(_mm256_set1_ps(box.lo[i]), pi);
        __m256 vh = _mm256_sub_ps(_mm256_set1_ps(box.hi[i]), pi);
        __m256 nl = _mm256_load_ps(nlo[i]);
        __m256 nh = _mm256_load_ps(nhi[i]);
        __m256 a = _mm256_mul_ps(nl, vl);
        __m256 b = _mm256_mul_ps(nl, vh);
        __m256 c = _mm256_mul_ps(nh, vl);
        __m256 d = _mm256_mul_ps(nh, vh);
        mn[i] = _mm256_min_ps(_mm256_min_ps(a, b), _mm256_min_ps(c, d));
        mx[i] = _mm256_max_ps(_mm256_max_ps(a, b), _mm256_max_ps(c, d));
        __m256 nm = _mm256_max_ps(absps(nl), absps(nh));
        __m256 vm = _mm256_max_ps(absps(vl), absps(vh));
        mag[i] = _mm256_mul_ps(nm, vm);
    }
    __m256 olo = _mm256_load_ps(node.olo);
    __m256 ohi = _mm256_load_ps(node.ohi);
    __m256 lo = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(mn[0], mn[1]), mn[2]), ohi);
    __m256 hi = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(mx[0], mx[1]), mx[2]), olo);
    __m256 neghi = _mm256_xor_ps(hi, _mm256_set1_ps(-0.0f));
    __m256 t = _mm256_max_ps(lo, neghi);
    __m256 m = _mm256_add_ps(_mm256_add_ps(mag[0], mag[1]), mag[2]);
    m = _mm256_add_ps(m, _mm256_max_ps(absps(olo), absps(ohi)));
    __m256 a = _mm256_add_ps(m, _mm256_load_ps(node.rad));
    a = _mm256_mul_ps(a, _mm256_set1_ps(kAllowanceFactor));
    a = _mm256_add_ps(a, _mm256_set1_ps(kAllowanceFloor));
    __m256 bound = _mm256_sub_ps(t, a);
    _mm256_storeu_ps(lb, bound);
    _mm256_storeu_ps(allow, a);
    unsigned mask = unsigned(
        _mm256_movemask_ps(_mm256_cmp_ps(bound, _mm256_set1_ps(limit), _CMP_LE_OQ)));
    return mask & ((1u << node.count) - 1u);
}

inline __m256 leafLaneGaps(const PlaneLeaf& leaf, float vx, float vy, float vz)
{
    __m256 x = _mm256_mul_ps(_mm256_load_ps(leaf.nx), _mm256_set1_ps(vx));
    __m256 y = _mm256_mul_ps(_mm256_load_ps(leaf.ny), _mm256_set1_ps(vy));
    __m256 z = _mm256_mul_ps(_mm256_load_ps(leaf.nz), _mm256_set1_ps(vz));
    __m256 s = _mm256_add_ps(_mm256_add_ps(x, y), z);
    s = _mm256_sub_ps(s, _mm256_load_ps(leaf.omid));
    return _mm256_sub_ps(absps(s), _mm256_load_ps(leaf.hw));
}

// The packet gaps of analysis 4, the same operations as nodeBoundsAvx2 with
// a normal box of one point.
inline __m256 leafBoxLaneGaps(const PlaneLeaf& leaf, const QueryBox& box)
{
    const float* n[3] = {leaf.nx, leaf.ny, leaf.nz};
    const float p[3] = {leaf.px, leaf.py, leaf.pz};
    __m256 mn[3], mx[3];
    for (int i = 0; i < 3; ++i) {
        __m256 ni = _mm256_load_ps(n[i]);
        __m256 a = _mm256_mul_ps(ni, _mm256_set1_ps(box.lo[i] - p[i]));
        __m256 b = _mm256_mul_ps(ni, _mm256_set1_ps(box.hi[i] - p[i]));
        mn[i] = _mm256_min_ps(a, b);
        mx[i] = _mm256_max_ps(a, b);
    }
    __m256 omid = _mm256_load_ps(leaf.omid);
    __m256 lo = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(mn[0], mn[1]), mn[2]), omid);
    __m256 hi = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(mx[0], mx[1]), mx[2]), omid);
    __m256 t = _mm256_max_ps(lo, _mm256_xor_ps(hi, _mm256_set1_ps(-0.0f)));
    return _mm256_sub_ps(t, _mm256_load_ps(leaf.hw));
}

void leafBoxGapsAvx2(const PlaneLeaf& leaf, const QueryBox& box, float* gap)
{
    _mm256_storeu_ps(gap, leafBoxLaneGaps(leaf, box));
}

void leafGapsAvx2(const PlaneLeaf& leaf, const float* v, float* gap)
{
    float vx = v[0] - leaf.px;
    float vy = v[1] - leaf.py;
    float vz = v[2] - leaf.pz;
    _mm256_storeu_ps(gap, leafLaneGaps(leaf, vx, vy, vz));
}

struct Avx2 {
    static unsigned nodeBounds(const PlaneNode& node, const QueryBox& box, float limit, float* lb,
                               float* allow)
    {
        return nodeBoundsAvx2(node, box, limit, lb, allow);
    }
    static unsigned leafBoxMask(const PlaneLeaf& leaf, const QueryBox& box, float best, float allow)
    {
        const __m256 gap = leafBoxLaneGaps(leaf, box);
        const __m256 threshold = _mm256_set1_ps(leafThreshold(best, allow));
        return unsigned(_mm256_movemask_ps(_mm256_cmp_ps(gap, threshold, _CMP_LE_OQ)));
    }
    static unsigned leafMask(const PlaneLeaf& leaf, float vx, float vy, float vz,
                             float threshold)
    {
        __m256 gap = leafLaneGaps(leaf, vx, vy, vz);
        return unsigned(
            _mm256_movemask_ps(_mm256_cmp_ps(gap, _mm256_set1_ps(threshold), _CMP_LE_OQ)));
    }
    // Queries in lanes, vectors of 8, the faces of `faces` one after the
    // other (those of leafBoxMask: the rest hold no candidate): the same
    // operations per (face, query) as leafLaneGaps, so the same bits. Lanes
    // past packet.count have best = -inf and never pass; a packet holds at
    // most kPacketSize queries. Eight vectors: on an AVX2-only CPU (an AMD
    // EPYC) 64 queries took 0.90-0.97 of the time of 32 on whole runs of the
    // real scans, and 48 were slower than 64.
    static constexpr int kPacketSize = 64;
    static bool leafAny(const PlaneLeaf& leaf, const PlanePacket& packet, float allow,
                        unsigned faces)
    {
        constexpr int kVectors = kPacketSize / 8;
        static_assert(kPacketSize % 8 == 0 && kPacketSize <= kMaxPacket, "whole vectors");
        const __m256 a = _mm256_set1_ps(allow);
        __m256 v[kVectors][3];
        __m256 threshold[kVectors];
        for (int h = 0; h < kVectors; ++h) {
            v[h][0] = _mm256_sub_ps(_mm256_loadu_ps(packet.x + 8 * h), _mm256_set1_ps(leaf.px));
            v[h][1] = _mm256_sub_ps(_mm256_loadu_ps(packet.y + 8 * h), _mm256_set1_ps(leaf.py));
            v[h][2] = _mm256_sub_ps(_mm256_loadu_ps(packet.z + 8 * h), _mm256_set1_ps(leaf.pz));
            // leafThreshold, 8 at a time.
            threshold[h] = _mm256_add_ps(_mm256_loadu_ps(packet.best + 8 * h), a);
        }
        __m256 any = _mm256_setzero_ps();
        for (; faces; faces &= faces - 1) {
            const int j = __builtin_ctz(faces);
            __m256 nx = _mm256_broadcast_ss(leaf.nx + j);
            __m256 ny = _mm256_broadcast_ss(leaf.ny + j);
            __m256 nz = _mm256_broadcast_ss(leaf.nz + j);
            __m256 omid = _mm256_broadcast_ss(leaf.omid + j);
            __m256 hw = _mm256_broadcast_ss(leaf.hw + j);
            for (int h = 0; h < kVectors; ++h) {
                __m256 x = _mm256_mul_ps(nx, v[h][0]);
                __m256 y = _mm256_mul_ps(ny, v[h][1]);
                __m256 z = _mm256_mul_ps(nz, v[h][2]);
                __m256 s = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(x, y), z), omid);
                __m256 gap = _mm256_sub_ps(absps(s), hw);
                any = _mm256_or_ps(any, _mm256_cmp_ps(gap, threshold[h], _CMP_LE_OQ));
            }
        }
        return _mm256_movemask_ps(any) != 0;
    }
};

} // namespace
