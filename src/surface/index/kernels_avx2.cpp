// AVX2 kernels and the traversal compiled over them. Everything after the
// target pragma is compiled for AVX2 and runs only after
// __builtin_cpu_supports("avx2"); headers are included before it so that no
// inline function they define is compiled for AVX2 and shared with baseline
// code (traversal.h, after it, has internal linkage for the same reason).
//
// Each line mirrors one statement of kernels_portable.cpp, with the same
// operand order for max (_mm256_max_ps(a, b) is a > b ? a : b, as maxf
// there), so both return the same bits. No fused multiply-add: the fma target
// is not enabled and no fmadd intrinsic is used.
#include "surface/index/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <immintrin.h>
#include <vector>

#include "surface/point_triangle.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "surface/index/traversal.h"

namespace surface_index {

namespace {

inline __m256 gap8(__m256 lo, __m256 hi, __m256 qlo, __m256 qhi)
{
    __m256 below = _mm256_sub_ps(lo, qhi);
    __m256 above = _mm256_sub_ps(qlo, hi);
    return _mm256_max_ps(_mm256_max_ps(below, above), _mm256_setzero_ps());
}

inline __m256 squaredSum8(__m256 gx, __m256 gy, __m256 gz)
{
    __m256 xx = _mm256_mul_ps(gx, gx);
    __m256 yy = _mm256_mul_ps(gy, gy);
    __m256 zz = _mm256_mul_ps(gz, gz);
    return _mm256_add_ps(_mm256_add_ps(xx, yy), zz);
}

unsigned nodeBoundsAvx2(const SurfaceNode& node, const QueryBox& box, float limit, float* lb2)
{
    __m256 gx = gap8(_mm256_load_ps(node.lox), _mm256_load_ps(node.hix),
                     _mm256_set1_ps(box.lo[0]), _mm256_set1_ps(box.hi[0]));
    __m256 gy = gap8(_mm256_load_ps(node.loy), _mm256_load_ps(node.hiy),
                     _mm256_set1_ps(box.lo[1]), _mm256_set1_ps(box.hi[1]));
    __m256 gz = gap8(_mm256_load_ps(node.loz), _mm256_load_ps(node.hiz),
                     _mm256_set1_ps(box.lo[2]), _mm256_set1_ps(box.hi[2]));
    __m256 s = squaredSum8(gx, gy, gz);
    _mm256_storeu_ps(lb2, s);
    unsigned mask =
        unsigned(_mm256_movemask_ps(_mm256_cmp_ps(s, _mm256_set1_ps(limit), _CMP_LE_OQ)));
    return mask & ((1u << node.count) - 1u);
}

inline __m256 dot8(const float* ax, const float* ay, const float* az, __m256 vx, __m256 vy,
                   __m256 vz)
{
    __m256 x = _mm256_mul_ps(_mm256_load_ps(ax), vx);
    __m256 y = _mm256_mul_ps(_mm256_load_ps(ay), vy);
    __m256 z = _mm256_mul_ps(_mm256_load_ps(az), vz);
    return _mm256_add_ps(_mm256_add_ps(x, y), z);
}

unsigned leafBoundsAvx2(const SurfaceLeaf& leaf, float x, float y, float z, float limit,
                        float reach, float* p2)
{
    const __m256 px = _mm256_set1_ps(x), py = _mm256_set1_ps(y), pz = _mm256_set1_ps(z);
    __m256 gx = gap8(_mm256_load_ps(leaf.lox), _mm256_load_ps(leaf.hix), px, px);
    __m256 gy = gap8(_mm256_load_ps(leaf.loy), _mm256_load_ps(leaf.hiy), py, py);
    __m256 gz = gap8(_mm256_load_ps(leaf.loz), _mm256_load_ps(leaf.hiz), pz, pz);
    __m256 box = squaredSum8(gx, gy, gz);
    const __m256 inBox = _mm256_cmp_ps(box, _mm256_set1_ps(limit), _CMP_LE_OQ);
    // Most leaves a packet reaches are beyond the limit of any one query.
    if (_mm256_testz_ps(inBox, inBox))
        return 0;
    const float sx = x - leafCentre(leaf, 0), sy = y - leafCentre(leaf, 1),
                sz = z - leafCentre(leaf, 2);
    float v1 = std::fabs(sx) + std::fabs(sy);
    v1 = v1 + std::fabs(sz);
    const __m256 plimit = _mm256_set1_ps(prismLimit(reach, v1));
    const __m256 vx = _mm256_set1_ps(sx), vy = _mm256_set1_ps(sy), vz = _mm256_set1_ps(sz);
    const __m256 zero = _mm256_setzero_ps();
    __m256 t = dot8(leaf.nx, leaf.ny, leaf.nz, vx, vy, vz);
    __m256 dn = _mm256_max_ps(_mm256_max_ps(_mm256_sub_ps(t, _mm256_load_ps(leaf.ohi)),
                                            _mm256_sub_ps(_mm256_load_ps(leaf.olo), t)),
                              zero);
    __m256 h = zero;
    for (int e = 0; e < 3; ++e) {
        __m256 te = dot8(leaf.mx[e], leaf.my[e], leaf.mz[e], vx, vy, vz);
        h = _mm256_max_ps(h, _mm256_sub_ps(te, _mm256_load_ps(leaf.om[e])));
    }
    __m256 p = _mm256_add_ps(_mm256_mul_ps(dn, dn), _mm256_mul_ps(h, h));
    _mm256_storeu_ps(p2, p);
    __m256 ok = _mm256_and_ps(inBox, _mm256_cmp_ps(p, plimit, _CMP_LE_OQ));
    return unsigned(_mm256_movemask_ps(ok));
}

unsigned packetBoundsAvx2(const SurfaceLeaf& leaf, const SurfacePacket& packet, int first,
                          int last)
{
    const __m256 lox = _mm256_set1_ps(leaf.blo[0]), hix = _mm256_set1_ps(leaf.bhi[0]);
    const __m256 loy = _mm256_set1_ps(leaf.blo[1]), hiy = _mm256_set1_ps(leaf.bhi[1]);
    const __m256 loz = _mm256_set1_ps(leaf.blo[2]), hiz = _mm256_set1_ps(leaf.bhi[2]);
    unsigned mask = 0;
    for (int b = first & ~7; b < last; b += 8) {
        const __m256 x = _mm256_loadu_ps(packet.x + b), y = _mm256_loadu_ps(packet.y + b),
                     z = _mm256_loadu_ps(packet.z + b);
        __m256 s = squaredSum8(gap8(lox, hix, x, x), gap8(loy, hiy, y, y), gap8(loz, hiz, z, z));
        __m256 in = _mm256_cmp_ps(s, _mm256_loadu_ps(packet.limit + b), _CMP_LE_OQ);
        mask |= unsigned(_mm256_movemask_ps(in)) << b;
    }
    // Slots outside [first, last) may hold anything.
    return mask & ((2u << (last - 1)) - (1u << first));
}

struct Avx2 {
    static unsigned nodeBounds(const SurfaceNode& node, const QueryBox& box, float limit,
                               float* lb2)
    {
        return nodeBoundsAvx2(node, box, limit, lb2);
    }
    static unsigned leafBounds(const SurfaceLeaf& leaf, float x, float y, float z, float limit,
                               float reach, float* p2)
    {
        return leafBoundsAvx2(leaf, x, y, z, limit, reach, p2);
    }
    static unsigned packetBounds(const SurfaceLeaf& leaf, const SurfacePacket& packet, int first,
                                 int last)
    {
        return packetBoundsAvx2(leaf, packet, first, last);
    }
};

void searchPacketAvx2(const SurfaceIndex& index, SurfacePacket& packet,
                      std::vector<StackEntry>& stack)
{
    searchPacketWith<Avx2>(index, packet, stack);
}

} // namespace

} // namespace surface_index

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace surface_index {

const SurfaceKernels* avx2SurfaceKernels()
{
    static const SurfaceKernels kernels{nodeBoundsAvx2, leafBoundsAvx2, packetBoundsAvx2,
                                         searchPacketAvx2, "avx2"};
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &kernels : nullptr;
}

} // namespace surface_index

#else

namespace surface_index {
const SurfaceKernels* avx2SurfaceKernels() { return nullptr; }
} // namespace surface_index

#endif
