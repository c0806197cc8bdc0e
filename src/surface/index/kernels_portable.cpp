// Portable kernels: plain loops over the 8 lanes, one IEEE operation per
// statement in the order fixed by kernels.h (and mirrored by
// kernels_avx2.cpp), so the compiler may vectorise them but not reassociate,
// and the traversal (traversal.h) over them.
#include "surface/index/kernels.h"
#include "surface/index/traversal.h"

#include <algorithm>
#include <cmath>

namespace surface_index {

namespace {

// max as _mm256_max_ps computes it on non-NaN inputs.
inline float maxf(float a, float b) { return a > b ? a : b; }

// The rounded gap of [x, x] or [qlo, qhi] to [lo, hi]: analysis 3.
inline float gap(float lo, float hi, float qlo, float qhi)
{
    float below = lo - qhi;
    float above = qlo - hi;
    return maxf(maxf(below, above), 0.0f);
}

inline float squaredSum(float gx, float gy, float gz)
{
    float xx = gx * gx;
    float yy = gy * gy;
    float zz = gz * gz;
    float s = xx + yy;
    return s + zz;
}

unsigned nodeBoundsPortable(const SurfaceNode& node, const QueryBox& box, float limit, float* lb2)
{
    unsigned mask = 0;
    for (int j = 0; j < kLanes; ++j) {
        lb2[j] = squaredSum(gap(node.lox[j], node.hix[j], box.lo[0], box.hi[0]),
                            gap(node.loy[j], node.hiy[j], box.lo[1], box.hi[1]),
                            gap(node.loz[j], node.hiz[j], box.lo[2], box.hi[2]));
        if (j < node.count && lb2[j] <= limit)
            mask |= 1u << j;
    }
    return mask;
}

inline float dot3(float ax, float ay, float az, float vx, float vy, float vz)
{
    float x = ax * vx;
    float y = ay * vy;
    float z = az * vz;
    float s = x + y;
    return s + z;
}

unsigned leafBoundsPortable(const SurfaceLeaf& leaf, float x, float y, float z, float limit,
                            float reach, float* p2)
{
    unsigned inBox = 0;
    for (int j = 0; j < kLanes; ++j) {
        float box = squaredSum(gap(leaf.lox[j], leaf.hix[j], x, x),
                               gap(leaf.loy[j], leaf.hiy[j], y, y),
                               gap(leaf.loz[j], leaf.hiz[j], z, z));
        if (box <= limit)
            inBox |= 1u << j;
    }
    // Most leaves a packet reaches are beyond the limit of any one query.
    if (!inBox)
        return 0;
    const float vx = x - leafCentre(leaf, 0), vy = y - leafCentre(leaf, 1),
                vz = z - leafCentre(leaf, 2);
    float v1 = std::fabs(vx) + std::fabs(vy);
    v1 = v1 + std::fabs(vz);
    const float plimit = prismLimit(reach, v1);
    unsigned mask = 0;
    for (int j = 0; j < kLanes; ++j) {
        float t = dot3(leaf.nx[j], leaf.ny[j], leaf.nz[j], vx, vy, vz);
        float dn = maxf(maxf(t - leaf.ohi[j], leaf.olo[j] - t), 0.0f);
        float h = 0.0f;
        for (int e = 0; e < 3; ++e) {
            float te = dot3(leaf.mx[e][j], leaf.my[e][j], leaf.mz[e][j], vx, vy, vz);
            h = maxf(h, te - leaf.om[e][j]);
        }
        float dd = dn * dn;
        float hh = h * h;
        p2[j] = dd + hh;
        if ((inBox >> j & 1u) && p2[j] <= plimit)
            mask |= 1u << j;
    }
    return mask;
}

unsigned packetBoundsPortable(const SurfaceLeaf& leaf, const SurfacePacket& packet, int first,
                              int last)
{
    unsigned mask = 0;
    for (int q = first; q < last; ++q) {
        const float x = packet.x[q], y = packet.y[q], z = packet.z[q];
        float s = squaredSum(gap(leaf.blo[0], leaf.bhi[0], x, x),
                             gap(leaf.blo[1], leaf.bhi[1], y, y),
                             gap(leaf.blo[2], leaf.bhi[2], z, z));
        if (s <= packet.limit[q])
            mask |= 1u << q;
    }
    return mask;
}

struct Portable {
    static unsigned nodeBounds(const SurfaceNode& node, const QueryBox& box, float limit,
                               float* lb2)
    {
        return nodeBoundsPortable(node, box, limit, lb2);
    }
    static unsigned leafBounds(const SurfaceLeaf& leaf, float x, float y, float z, float limit,
                               float reach, float* p2)
    {
        return leafBoundsPortable(leaf, x, y, z, limit, reach, p2);
    }
    static unsigned packetBounds(const SurfaceLeaf& leaf, const SurfacePacket& packet, int first,
                                 int last)
    {
        return packetBoundsPortable(leaf, packet, first, last);
    }
};

void searchPacketPortable(const SurfaceIndex& index, SurfacePacket& packet,
                          std::vector<StackEntry>& stack)
{
    searchPacketWith<Portable>(index, packet, stack);
}

struct D3 {
    double x, y, z;
};

inline double dot(const D3& a, const D3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline D3 cross(const D3& a, const D3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline D3 minus(const D3& a, const D3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
// w / |w| rounded to float, or zero when |w| is 0 or not finite.
inline Vector3 unitFloat(const D3& w)
{
    double length = std::sqrt(dot(w, w));
    if (!(length > 0.0) || !std::isfinite(length))
        return {0.0f, 0.0f, 0.0f};
    return {float(w.x / length), float(w.y / length), float(w.z / length)};
}
inline D3 toD3(const Vector3& v) { return {v.x, v.y, v.z}; }

// The enclosure [lo, hi] of w . (x_k - c) over the three scaled corners x_k
// (exact in double) for a float vector w. Each difference x_k,i - c_i rounds
// with relative error ud, the exact products and the two sums add at most
// 2.01 ud of S = sum_i |w_i| |x_k,i - c_i|, so the margin 2^-50 S (8 ud) and
// the outward rounding to float keep every real value inside.
void enclosure(const Vector3& w, const D3 x[3], const float c[3], float& lo, float& hi)
{
    double low = HUGE_VAL, high = -HUGE_VAL;
    for (int k = 0; k < 3; ++k) {
        const double d[3] = {x[k].x - c[0], x[k].y - c[1], x[k].z - c[2]};
        const double t = d[0] * w.x + d[1] * w.y + d[2] * w.z;
        const double margin = (std::fabs(d[0] * w.x) + std::fabs(d[1] * w.y) +
                               std::fabs(d[2] * w.z)) * kEnclosureMargin;
        low = std::min(low, t - margin);
        high = std::max(high, t + margin);
    }
    lo = floatDown(low);
    hi = floatUp(high);
}

// Whether (n, m) meets the Gram bound of SurfaceLeaf: in double the
// products of floats are exact and the sums err by 2 ud, far inside the
// 2^-40 kept back.
bool gramBounded(const Vector3& n, const Vector3& m)
{
    const double nn = dot(toD3(n), toD3(n)), mm = dot(toD3(m), toD3(m));
    const double nm = dot(toD3(n), toD3(m));
    return std::max(nn, mm) + std::fabs(nm) <= kGramLimit;
}

void leafPrismsPortable(const double (&x)[3][3][kLanes], const float (&c)[3], SurfaceLeaf& leaf)
{
    for (int j = 0; j < kLanes; ++j) {
        const D3 p[3] = {{x[0][0][j], x[0][1][j], x[0][2][j]},
                         {x[1][0][j], x[1][1][j], x[1][2][j]},
                         {x[2][0][j], x[2][1][j], x[2][2][j]}};
        // The directions only decide how tight the prism is; the
        // enclosures make it valid for whatever floats they round to.
        const D3 e[3] = {minus(p[1], p[0]), minus(p[2], p[1]), minus(p[0], p[2])};
        const D3 normal = cross(e[0], minus(p[2], p[0]));
        Vector3 n = unitFloat(normal);
        Vector3 m[3];
        bool valid = !(n.x == 0.0f && n.y == 0.0f && n.z == 0.0f);
        for (int k = 0; k < 3 && valid; ++k) {
            // Outward: the opposite corner lies on the inner side.
            m[k] = unitFloat(cross(e[k], toD3(n)));
            valid = !(m[k].x == 0.0f && m[k].y == 0.0f && m[k].z == 0.0f) && gramBounded(n, m[k]);
        }
        if (!valid) {
            n = {0.0f, 0.0f, 0.0f};
            m[0] = m[1] = m[2] = n;
        }
        leaf.nx[j] = n.x, leaf.ny[j] = n.y, leaf.nz[j] = n.z;
        enclosure(n, p, c, leaf.olo[j], leaf.ohi[j]);
        for (int k = 0; k < 3; ++k) {
            leaf.mx[k][j] = m[k].x, leaf.my[k][j] = m[k].y, leaf.mz[k][j] = m[k].z;
            float unusedLow;
            enclosure(m[k], p, c, unusedLow, leaf.om[k][j]);
        }
    }
}

} // namespace

const SurfaceKernels& portableSurfaceKernels()
{
    static const SurfaceKernels kernels{nodeBoundsPortable, leafBoundsPortable,
                                        packetBoundsPortable, searchPacketPortable,
                                        leafPrismsPortable, "portable"};
    return kernels;
}

} // namespace surface_index
