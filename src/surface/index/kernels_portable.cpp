// Portable kernels: plain loops over the 8 lanes, one IEEE operation per
// statement in the order fixed by kernels.h (and mirrored by
// kernels_avx2.cpp), so the compiler may vectorise them but not reassociate,
// and the traversal (traversal.h) over them.
#include "surface/index/kernels.h"
#include "surface/index/traversal.h"

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
        float s = squaredSum(gap(leaf.blo[0], leaf.bhi[0], x, x), gap(leaf.blo[1], leaf.bhi[1], y, y),
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

} // namespace

const SurfaceKernels& portableSurfaceKernels()
{
    static const SurfaceKernels kernels{nodeBoundsPortable, leafBoundsPortable,
                                        packetBoundsPortable, searchPacketPortable, "portable"};
    return kernels;
}

} // namespace surface_index
