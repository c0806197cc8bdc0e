// Portable kernels: plain loops over the 8 lanes, one IEEE operation per
// statement in the order fixed by kernels.h (and mirrored by
// kernels_avx2.cpp), so the compiler may vectorise them but not reassociate,
// and the same traversal (traversal.h) over them.
#include "qem/index/kernels.h"
#include "qem/index/traversal.h"

#include <algorithm>
#include <cmath>

namespace {

// max/min as the AVX2 max_ps/min_ps compute them on non-NaN inputs.
inline float maxf(float a, float b) { return a > b ? a : b; }
inline float minf(float a, float b) { return a < b ? a : b; }

// fl(fl(fl(t0 + t1) + t2) - o), in the order every kernel set adds the three
// axes' terms of a bound.
inline float sumLess(const float (&t)[3], float o)
{
    float s = t[0] + t[1];
    s = s + t[2];
    return s - o;
}

unsigned nodeBoundsPortable(const PlaneNode& node, const QueryBox& box, float limit, float* lb,
                            float* allow)
{
    const float* p[3] = {node.px, node.py, node.pz};
    const float* nlo[3] = {node.nlox, node.nloy, node.nloz};
    const float* nhi[3] = {node.nhix, node.nhiy, node.nhiz};
    unsigned mask = 0;
    for (int j = 0; j < kLanes; ++j) {
        float mn[3], mx[3], mag[3];
        for (int i = 0; i < 3; ++i) {
            float vl = box.lo[i] - p[i][j];
            float vh = box.hi[i] - p[i][j];
            float a = nlo[i][j] * vl;
            float b = nlo[i][j] * vh;
            float c = nhi[i][j] * vl;
            float d = nhi[i][j] * vh;
            mn[i] = minf(minf(a, b), minf(c, d));
            mx[i] = maxf(maxf(a, b), maxf(c, d));
            float nm = maxf(std::fabs(nlo[i][j]), std::fabs(nhi[i][j]));
            float vm = maxf(std::fabs(vl), std::fabs(vh));
            mag[i] = nm * vm;
        }
        float lo = sumLess(mn, node.ohi[j]);
        float hi = sumLess(mx, node.olo[j]);
        float t = maxf(lo, -hi);
        float m = mag[0] + mag[1];
        m = m + mag[2];
        m = m + maxf(std::fabs(node.olo[j]), std::fabs(node.ohi[j]));
        float a = m + node.rad[j];
        a = a * kAllowanceFactor;
        a = a + kAllowanceFloor;
        lb[j] = t - a;
        allow[j] = a;
        if (j < node.count && lb[j] <= limit)
            mask |= 1u << j;
    }
    return mask;
}

inline float leafGap(const PlaneLeaf& leaf, int j, float vx, float vy, float vz)
{
    float x = leaf.nx[j] * vx;
    float y = leaf.ny[j] * vy;
    float z = leaf.nz[j] * vz;
    float s = x + y;
    s = s + z;
    s = s - leaf.omid[j];
    return std::fabs(s) - leaf.hw[j];
}

void leafGapsPortable(const PlaneLeaf& leaf, const float* v, float* gap)
{
    float vx = v[0] - leaf.px;
    float vy = v[1] - leaf.py;
    float vz = v[2] - leaf.pz;
    for (int j = 0; j < kLanes; ++j)
        gap[j] = leafGap(leaf, j, vx, vy, vz);
}

void leafBoxGapsPortable(const PlaneLeaf& leaf, const QueryBox& box, float* gap)
{
    const float p[3] = {leaf.px, leaf.py, leaf.pz};
    const float* n[3] = {leaf.nx, leaf.ny, leaf.nz};
    for (int j = 0; j < kLanes; ++j) {
        float mn[3], mx[3];
        for (int i = 0; i < 3; ++i) {
            float a = n[i][j] * (box.lo[i] - p[i]);
            float b = n[i][j] * (box.hi[i] - p[i]);
            mn[i] = minf(a, b);
            mx[i] = maxf(a, b);
        }
        float lo = sumLess(mn, leaf.omid[j]);
        float hi = sumLess(mx, leaf.omid[j]);
        gap[j] = maxf(lo, -hi) - leaf.hw[j];
    }
}

struct Portable {
    static unsigned nodeBounds(const PlaneNode& node, const QueryBox& box, float limit, float* lb,
                               float* allow)
    {
        return nodeBoundsPortable(node, box, limit, lb, allow);
    }
    static unsigned leafBoxMask(const PlaneLeaf& leaf, const QueryBox& box, float best,
                                float allow)
    {
        float gap[kLanes];
        leafBoxGapsPortable(leaf, box, gap);
        const float threshold = leafThreshold(best, allow);
        unsigned mask = 0;
        for (int j = 0; j < kLanes; ++j)
            if (gap[j] <= threshold)
                mask |= 1u << j;
        return mask;
    }
    static unsigned leafMask(const PlaneLeaf& leaf, float vx, float vy, float vz,
                             float threshold)
    {
        unsigned mask = 0;
        for (int j = 0; j < kLanes; ++j)
            if (leafGap(leaf, j, vx, vy, vz) <= threshold)
                mask |= 1u << j;
        return mask;
    }
    static bool leafAny(const PlaneLeaf& leaf, const PlanePacket& packet, float allow,
                        unsigned faces)
    {
        for (int q = 0; q < packet.count; ++q)
            if (leafMask(leaf, packet.x[q] - leaf.px, packet.y[q] - leaf.py,
                         packet.z[q] - leaf.pz, leafThreshold(packet.best[q], allow)) &
                faces)
                return true;
        return false;
    }
};

void searchPacketPortable(const PlaneIndex& index, const Mesh& mesh, PlanePacket& packet,
                          std::vector<StackEntry>& stack)
{
    searchPacketWith<Portable>(index, mesh, packet, stack);
}

} // namespace

const PlaneKernels& portablePlaneKernels()
{
    static const PlaneKernels kernels{nodeBoundsPortable,   leafBoxGapsPortable,
                                       Portable::leafBoxMask, leafGapsPortable,
                                       Portable::leafMask,   Portable::leafAny,
                                       searchPacketPortable, 32,
                                       "portable"};
    return kernels;
}
