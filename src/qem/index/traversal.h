// The traversal of one packet, written once and compiled per instruction set:
// kernels_portable.cpp instantiates it with the portable bounds and
// kernels_avx2.cpp, inside its AVX2 target region, with the AVX2 ones.
//
// Everything here has internal linkage (an unnamed namespace in a header that
// only those two files include): each file gets its own copy, compiled for its
// own instruction set. With external linkage the linker would keep one copy of
// a helper such as prefetch<PlaneNode>, possibly the AVX2 one, for both, and a
// CPU without AVX2 would fault in the portable path.
//
// K provides
//   static unsigned nodeBounds(const PlaneNode&, const QueryBox&, float limit,
//                              float* lb, float* allow);
//   static unsigned leafBoxMask(const PlaneLeaf&, const QueryBox&, float best, float allow);
//   static unsigned leafMask(const PlaneLeaf&, float vx, float vy, float vz,
//                            float threshold);
//   static bool leafAny(const PlaneLeaf&, const PlanePacket&, float allow, unsigned faces);
// as in PlaneKernels (kernels.h).
//
// Why the result is the exhaustive minimum bit for bit: inside the index's
// domain no face value is NaN, so the exhaustive loop returns
// min(kFarDistance, min_f value(f)), a minimum of floats, which depends
// neither on the order faces are visited in nor on which of two equal faces is
// taken. The traversal starts from kFarDistance, only ever replaces best by a
// smaller faceValue, and skips a face only when a lower bound of its value is
// greater than best at that moment (so greater than the final best too), or,
// in a leaf, when its gap exceeds fl(best + A) or its packet gap exceeds
// fl(maxBest + A) (maxBest >= best), which a face whose value is at most best
// never does.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "qem/index/kernels.h"
#include "qem/plane_distance.h"

namespace {

constexpr std::size_t kLeafFilterBytes = offsetof(PlaneLeaf, corner);

template <class T>
inline void prefetch(const T* object, std::size_t bytes = sizeof(T))
{
    for (std::size_t line = 0; line < bytes; line += 64)
        __builtin_prefetch(reinterpret_cast<const char*>(object) + line);
}

template <class K>
void searchPacketWith(const PlaneIndex& index, const Mesh& mesh, PlanePacket& packet,
                      std::vector<StackEntry>& stack)
{
    const QueryBox box = boxOf(packet.x, packet.y, packet.z, packet.count);
    for (int q = 0; q < packet.count; ++q)
        packet.best[q] = kFarDistance;
    // Unused query slots never pass a filter (and never raise maxBest).
    for (int q = packet.count; q < kMaxPacket; ++q) {
        packet.x[q] = packet.x[0], packet.y[q] = packet.y[0], packet.z[q] = packet.z[0];
        packet.best[q] = -HUGE_VALF;
    }
    // The largest best of the packet: a subtree is entered while its bound
    // over the packet's box is not above it.
    float maxBest = kFarDistance;

    stack.clear();
    stack.push_back({0, -HUGE_VALF, 0.0f});
    while (!stack.empty()) {
        StackEntry entry = stack.back();
        stack.pop_back();
        if (entry.lb > maxBest)
            continue;
        if (entry.child >= 0) {
            const PlaneNode& node = index.nodes[std::size_t(entry.child)];
            float lb[kLanes], allow[kLanes];
            unsigned mask = K::nodeBounds(node, box, maxBest, lb, allow);
            // Pushed highest bound first, so the most promising child is next.
            std::size_t base = stack.size();
            for (; mask; mask &= mask - 1) {
                int j = __builtin_ctz(mask);
                StackEntry e{node.child[j], lb[j], allow[j]};
                // Most pushed entries are popped soon: start loading them.
                if (e.child >= 0)
                    prefetch(&index.nodes[std::size_t(e.child)]);
                else
                    prefetch(&index.leaves[std::size_t(~e.child)], kLeafFilterBytes);
                std::size_t at = stack.size();
                stack.push_back(e);
                while (at > base && stack[at - 1].lb < e.lb) {
                    stack[at] = stack[at - 1];
                    --at;
                }
                stack[at] = e;
            }
            continue;
        }
        const PlaneLeaf& leaf = index.leaves[std::size_t(~entry.child)];
        // Most leaves hold no candidate for any query of the packet: first
        // each face against the packet's box (analysis 4 in kernels.h; on the
        // real scans it settles 15-18 % of the visits and leaves 5.4 of the 8
        // faces in the others), then one branch for all the queries over the
        // faces left, and the per-query masks only when needed.
        const unsigned faces = K::leafBoxMask(leaf, box, maxBest, entry.allow);
        if (!faces || !K::leafAny(leaf, packet, entry.allow, faces))
            continue;
        // Candidate lanes per query; their corners are fetched together.
        unsigned masks[kMaxPacket];
        unsigned lanes = 0;
        for (int q = 0; q < packet.count; ++q) {
            masks[q] = K::leafMask(leaf, packet.x[q] - leaf.px, packet.y[q] - leaf.py,
                                   packet.z[q] - leaf.pz,
                                   leafThreshold(packet.best[q], entry.allow)) &
                       faces;
            lanes |= masks[q];
        }
        const Vector3* vertices = mesh.vertices.data();
        for (unsigned m = lanes; m; m &= m - 1)
            for (int k = 0; k < 3; ++k)
                __builtin_prefetch(vertices + leaf.corner[k][__builtin_ctz(m)]);
        bool improved = false;
        for (int q = 0; q < packet.count; ++q) {
            if (!masks[q])
                continue;
            Vector3 v{packet.x[q], packet.y[q], packet.z[q]};
            for (unsigned mask = masks[q]; mask; mask &= mask - 1) {
                int j = __builtin_ctz(mask);
                float d = facePlaneDistance(v, vertices[leaf.corner[0][j]], vertices[leaf.corner[1][j]],
                                    vertices[leaf.corner[2][j]],
                                    Vector3{leaf.nx[j], leaf.ny[j], leaf.nz[j]});
                if (d < packet.best[q]) {
                    packet.best[q] = d;
                    improved = true;
                }
            }
        }
        if (improved) {
            maxBest = packet.best[0];
            for (int q = 1; q < packet.count; ++q)
                maxBest = std::max(maxBest, packet.best[q]);
            // Nothing is below 0.
            if (maxBest == 0.0f)
                break;
        }
    }
}

} // namespace
