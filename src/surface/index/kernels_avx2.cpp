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
#include <cfloat>
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

// The prism fill of kernels_portable.cpp, four lanes a vector. Each line is
// one of its IEEE operations in the same order. _mm256_min_pd(v, low) is
// v < low ? v : low, as std::min(low, v), and likewise for max, so even
// signed zeros agree; unit vectors are rounded to float and widened back,
// as the portable code stores them and reads them again.
struct D3x4 {
    __m256d x, y, z;
};

inline D3x4 minus4(const D3x4& a, const D3x4& b)
{
    return {_mm256_sub_pd(a.x, b.x), _mm256_sub_pd(a.y, b.y), _mm256_sub_pd(a.z, b.z)};
}
inline __m256d dot4(const D3x4& a, const D3x4& b)
{
    __m256d s = _mm256_add_pd(_mm256_mul_pd(a.x, b.x), _mm256_mul_pd(a.y, b.y));
    return _mm256_add_pd(s, _mm256_mul_pd(a.z, b.z));
}
inline D3x4 cross4(const D3x4& a, const D3x4& b)
{
    return {_mm256_sub_pd(_mm256_mul_pd(a.y, b.z), _mm256_mul_pd(a.z, b.y)),
            _mm256_sub_pd(_mm256_mul_pd(a.z, b.x), _mm256_mul_pd(a.x, b.z)),
            _mm256_sub_pd(_mm256_mul_pd(a.x, b.y), _mm256_mul_pd(a.y, b.x))};
}
inline __m256d abs4(__m256d v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }
inline __m256d toFloatAndBack(__m256d v) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(v)); }
inline D3x4 keep4(const D3x4& v, __m256d mask)
{
    return {_mm256_and_pd(v.x, mask), _mm256_and_pd(v.y, mask), _mm256_and_pd(v.z, mask)};
}
inline __m256d zero4(const D3x4& v)
{
    const __m256d z = _mm256_setzero_pd();
    return _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(v.x, z, _CMP_EQ_OQ),
                                       _mm256_cmp_pd(v.y, z, _CMP_EQ_OQ)),
                         _mm256_cmp_pd(v.z, z, _CMP_EQ_OQ));
}

inline D3x4 unitFloat4(const D3x4& w)
{
    const __m256d length = _mm256_sqrt_pd(dot4(w, w));
    const __m256d usable =
        _mm256_and_pd(_mm256_cmp_pd(length, _mm256_setzero_pd(), _CMP_GT_OQ),
                      _mm256_cmp_pd(length, _mm256_set1_pd(DBL_MAX), _CMP_LE_OQ));
    const D3x4 u{toFloatAndBack(_mm256_div_pd(w.x, length)),
                 toFloatAndBack(_mm256_div_pd(w.y, length)),
                 toFloatAndBack(_mm256_div_pd(w.z, length))};
    return keep4(u, usable);
}

inline __m256d gramBounded4(const D3x4& n, const D3x4& m)
{
    const __m256d nn = dot4(n, n), mm = dot4(m, m), nm = dot4(n, m);
    const __m256d g = _mm256_add_pd(_mm256_max_pd(mm, nn), abs4(nm));
    return _mm256_cmp_pd(g, _mm256_set1_pd(kGramLimit), _CMP_LE_OQ);
}

inline __m256d floatDown4(__m256d x)
{
    const __m256d a = _mm256_sub_pd(x, _mm256_mul_pd(abs4(x), _mm256_set1_pd(kOutwardRelative)));
    return _mm256_sub_pd(a, _mm256_set1_pd(kOutwardAbsolute));
}
inline __m256d floatUp4(__m256d x)
{
    const __m256d a = _mm256_add_pd(x, _mm256_mul_pd(abs4(x), _mm256_set1_pd(kOutwardRelative)));
    return _mm256_add_pd(a, _mm256_set1_pd(kOutwardAbsolute));
}

// The enclosure of w . (p_k - c) over the three corners, before rounding
// to float: low and high.
inline void enclosure4(const D3x4& w, const D3x4 (&p)[3], const D3x4& c, __m256d& low,
                       __m256d& high)
{
    low = _mm256_set1_pd(HUGE_VAL), high = _mm256_set1_pd(-HUGE_VAL);
    for (int k = 0; k < 3; ++k) {
        const D3x4 d = minus4(p[k], c);
        const __m256d px = _mm256_mul_pd(d.x, w.x), py = _mm256_mul_pd(d.y, w.y),
                      pz = _mm256_mul_pd(d.z, w.z);
        const __m256d t = _mm256_add_pd(_mm256_add_pd(px, py), pz);
        const __m256d sum = _mm256_add_pd(_mm256_add_pd(abs4(px), abs4(py)), abs4(pz));
        const __m256d margin = _mm256_mul_pd(sum, _mm256_set1_pd(kEnclosureMargin));
        low = _mm256_min_pd(_mm256_sub_pd(t, margin), low);
        high = _mm256_max_pd(_mm256_add_pd(t, margin), high);
    }
}

void leafPrismsAvx2(const double (&x)[3][3][kLanes], const float (&c)[3], SurfaceLeaf& leaf)
{
    const D3x4 centre{_mm256_set1_pd(c[0]), _mm256_set1_pd(c[1]), _mm256_set1_pd(c[2])};
    for (int h = 0; h < kLanes; h += 4) {
        D3x4 p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = {_mm256_load_pd(&x[k][0][h]), _mm256_load_pd(&x[k][1][h]),
                    _mm256_load_pd(&x[k][2][h])};
        const D3x4 e[3] = {minus4(p[1], p[0]), minus4(p[2], p[1]), minus4(p[0], p[2])};
        D3x4 n = unitFloat4(cross4(e[0], minus4(p[2], p[0])));
        D3x4 m[3];
        __m256d valid = _mm256_andnot_pd(zero4(n), _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
        for (int k = 0; k < 3; ++k) {
            m[k] = unitFloat4(cross4(e[k], n));
            valid = _mm256_and_pd(valid, _mm256_andnot_pd(zero4(m[k]), gramBounded4(n, m[k])));
        }
        n = keep4(n, valid);
        _mm_storeu_ps(&leaf.nx[h], _mm256_cvtpd_ps(n.x));
        _mm_storeu_ps(&leaf.ny[h], _mm256_cvtpd_ps(n.y));
        _mm_storeu_ps(&leaf.nz[h], _mm256_cvtpd_ps(n.z));
        __m256d low, high;
        enclosure4(n, p, centre, low, high);
        _mm_storeu_ps(&leaf.olo[h], _mm256_cvtpd_ps(floatDown4(low)));
        _mm_storeu_ps(&leaf.ohi[h], _mm256_cvtpd_ps(floatUp4(high)));
        for (int k = 0; k < 3; ++k) {
            m[k] = keep4(m[k], valid);
            _mm_storeu_ps(&leaf.mx[k][h], _mm256_cvtpd_ps(m[k].x));
            _mm_storeu_ps(&leaf.my[k][h], _mm256_cvtpd_ps(m[k].y));
            _mm_storeu_ps(&leaf.mz[k][h], _mm256_cvtpd_ps(m[k].z));
            enclosure4(m[k], p, centre, low, high);
            _mm_storeu_ps(&leaf.om[k][h], _mm256_cvtpd_ps(floatUp4(high)));
        }
    }
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
                                         searchPacketAvx2, leafPrismsAvx2, "avx2"};
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &kernels : nullptr;
}

} // namespace surface_index

#else

namespace surface_index {
const SurfaceKernels* avx2SurfaceKernels() { return nullptr; }
} // namespace surface_index

#endif
