// The traversal of one packet, written once and compiled per instruction set:
// kernels_portable.cpp instantiates it with the portable bounds and
// kernels_avx2.cpp, inside its AVX2 target region, with the AVX2 ones.
// Everything here has internal linkage (an unnamed namespace in a header that
// only those two files include), so that the linker cannot keep the AVX2 copy
// of a helper for the portable path.
//
// K provides
//   static unsigned nodeBounds(const SurfaceNode&, const QueryBox&, float limit, float* lb2);
//   static unsigned leafBounds(const SurfaceLeaf&, float x, float y, float z, float limit,
//                              float reach, float* p2);
//   static unsigned packetBounds(const SurfaceLeaf&, const SurfacePacket&, int first, int last);
// as in SurfaceKernels (kernels.h).
//
// Why the result is the exhaustive minimum bit for bit: for a query inside the
// domain no triangle's value is NaN (the routine never returns NaN for finite
// input), so the exhaustive loop returns min(+inf, min_T D(p, T)), a minimum
// of doubles that depends neither on the order triangles are visited in nor
// on which of two equal values is taken. Each query starts from +inf, its
// best is only ever replaced by a smaller D(p, T) computed by the same
// routine, and a triangle is skipped only when a bound lb2 of its box (or of a
// box above it, for a box of queries holding this one) exceeds the limits of
// the query's best at that moment, which by kernels.h implies D(p, T) > best
// then, so > the final best too. So every triangle whose D equals the final
// best is measured, and bestFace, which takes the lower face number on a
// tie, is the exhaustive loop's face (the first such in face order).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "surface/index/kernels.h"
#include "surface/point_triangle.h"

namespace surface_index {
namespace {

template <class T>
inline void prefetch(const T* object, std::size_t bytes = sizeof(T))
{
    for (std::size_t line = 0; line < bytes; line += 64)
        __builtin_prefetch(reinterpret_cast<const char*>(object) + line);
}

constexpr std::size_t kLeafFilterBytes = offsetof(SurfaceLeaf, corner);

// Writes a stack entry with one 8-byte store: written as two 4-byte fields,
// the 8-byte loads that move and pop it cannot be forwarded from the stores
// and stall.
inline void store(StackEntry& entry, std::int32_t child, float bound)
{
    static_assert(sizeof(StackEntry) == 8 && offsetof(StackEntry, lb2) == 4);
    std::uint32_t bits;
    std::memcpy(&bits, &bound, sizeof bits);
    const std::uint64_t both = std::uint64_t(std::uint32_t(child)) | std::uint64_t(bits) << 32;
    std::memcpy(&entry, &both, sizeof both);
}

// Measures query q against the triangles of `leaf` whose bounds are within its
// limits, least prism bound first (an early small best shrinks the limits
// below the other bounds); returns whether its best improved. `leaf` is
// index.leaves[id]. Lane `firstLane`, when given, is measured before any
// bound is taken, whatever its bounds: the previous query's nearest
// triangle, a close one (on the jittered pair the same for 36-47 % of
// consecutive area samples), so that the filter starts from its limits
// (one filter of the leaf fewer). Measuring a triangle more never changes
// a result.
template <class K>
inline bool searchLeaf(const SurfaceIndex& index, const SurfaceLeaf& leaf, std::int32_t id,
                       SurfacePacket& packet, int q, int firstLane = -1)
{
    const std::uint32_t* faces = &index.faces[std::size_t(id) * kLanes];
    auto measure = [&](int j) {
        const Vector3* c = leaf.corner[j];
        const double d = pointTriangleDistanceSquared(packet.p[q], c[0], c[1], c[2]);
        if (d < packet.best[q]) {
            packet.best[q] = d;
            updateLimits(packet, q, index.scale);
            packet.bestLeaf[q] = id;
            packet.bestLane[q] = j;
            packet.bestFace[q] = faces[j];
            return true;
        }
        if (d == packet.best[q] && faces[j] < packet.bestFace[q])
            packet.bestFace[q] = faces[j];
        return false;
    };
    bool improved = firstLane >= 0 && measure(firstLane);
    float lb2[kLanes];
    unsigned mask = K::leafBounds(leaf, packet.x[q], packet.y[q], packet.z[q], packet.limit[q],
                                  packet.reach[q], lb2);
    if (firstLane >= 0)
        mask &= ~(1u << firstLane);
    while (mask) {
        int j = __builtin_ctz(mask);
        for (unsigned m = mask & (mask - 1); m; m &= m - 1)
            if (lb2[__builtin_ctz(m)] < lb2[j])
                j = __builtin_ctz(m);
        const bool nearer = measure(j);
        improved |= nearer;
        mask &= ~(1u << j);
        // Lanes the new limits exclude; the limits change only with the best.
        if (nearer && mask)
            mask &= K::leafBounds(leaf, packet.x[q], packet.y[q], packet.z[q], packet.limit[q],
                                  packet.reach[q], lb2);
    }
    return improved;
}

// First candidates for query q from one leaf, which the traversal then passes
// over for q: searchLeaf measured every triangle of it that the limits did not
// exclude, and the limits only shrink afterwards. Any triangle measured is a
// valid best; a close one keeps the packet's limits, and so the part of the
// tree the packet visits, small from the start.
template <class K>
inline void seed(const SurfaceIndex& index, SurfacePacket& packet, int q, std::int32_t leaf,
                 int firstLane = -1)
{
    packet.seedLeaf[q] = leaf;
    searchLeaf<K>(index, index.leaves[std::size_t(leaf)], leaf, packet, q, firstLane);
}

// Seeds query q with the leaf reached from the root through the child whose
// box centre is nearest to it at each level: for a query far from the
// surface, many boxes lie about as near as each other (their bounds err by
// their thickness), and the centres tell better which holds the foot of the
// query.
template <class K>
inline void descend(const SurfaceIndex& index, SurfacePacket& packet, int q)
{
    std::int32_t child = 0;
    while (child >= 0) {
        const SurfaceNode& node = index.nodes[std::size_t(child)];
        float d2[kLanes];
        for (int k = 0; k < node.count; ++k) {
            const float dx = node.lox[k] * 0.5f + node.hix[k] * 0.5f - packet.x[q];
            const float dy = node.loy[k] * 0.5f + node.hiy[k] * 0.5f - packet.y[q];
            const float dz = node.loz[k] * 0.5f + node.hiz[k] * 0.5f - packet.z[q];
            d2[k] = dx * dx + dy * dy + dz * dz;
        }
        int j = 0;
        for (int k = 1; k < node.count; ++k)
            if (d2[k] < d2[j])
                j = k;
        child = node.child[j];
    }
    seed<K>(index, packet, q, ~child);
}

// Whether query q lies within the size of `leaf`'s box of that box (or
// within its predecessor's reach of it): then the leaf that held its
// predecessor's nearest triangle is a good first candidate. Queries far
// apart on the curve (a batch of scattered points) are seeded by a descent
// instead, as a poor first bound would open much of the tree.
inline bool nearLeaf(const SurfaceIndex& index, const SurfacePacket& packet, int q,
                     std::int32_t leaf)
{
    const SurfaceLeaf& l = index.leaves[std::size_t(leaf)];
    const float x[3] = {packet.x[q], packet.y[q], packet.z[q]};
    float gap2 = 0, size2 = 0;
    for (int i = 0; i < 3; ++i) {
        const float gap = std::max({l.blo[i] - x[i], x[i] - l.bhi[i], 0.0f});
        gap2 += gap * gap;
        size2 += (l.bhi[i] - l.blo[i]) * (l.bhi[i] - l.blo[i]);
    }
    return gap2 <= size2 + packet.limit[q - 1];
}

// The shared traversal of queries [first, last) of the packet, whose points
// all lie in `box`.
template <class K>
void traverse(const SurfaceIndex& index, SurfacePacket& packet, const QueryBox& box, int first,
              int last, std::vector<StackEntry>& stack)
{
    // The largest limit of these queries: a subtree is entered while its
    // bound over the box is not above it.
    auto largestLimit = [&] {
        float limit = packet.limit[first];
        for (int q = first + 1; q < last; ++q)
            limit = std::max(limit, packet.limit[q]);
        return limit;
    };
    float maxLimit = largestLimit();

    // The stack is used through a pointer and a count, grown before a node
    // could overflow it.
    if (stack.size() < 8 * kLanes)
        stack.resize(8 * kLanes);
    StackEntry* entries = stack.data();
    std::size_t top = 0;
    entries[top++] = {0, -HUGE_VALF};
    while (top > 0) {
        const StackEntry entry = entries[--top];
        if (entry.lb2 > maxLimit)
            continue;
        if (entry.child >= 0) {
            const SurfaceNode& node = index.nodes[std::size_t(entry.child)];
            float lb2[kLanes];
            unsigned mask = K::nodeBounds(node, box, maxLimit, lb2);
            if (top + kLanes > stack.size()) {
                stack.resize(2 * stack.size());
                entries = stack.data();
            }
            // Pushed farthest first, so that the nearest child is next.
            const std::size_t base = top;
            for (; mask; mask &= mask - 1) {
                const int j = __builtin_ctz(mask);
                const std::int32_t child = node.child[j];
                const float bound = lb2[j];
                if (child >= 0)
                    prefetch(&index.nodes[std::size_t(child)]);
                else
                    prefetch(&index.leaves[std::size_t(~child)], kLeafFilterBytes);
                std::size_t at = top++;
                while (at > base && entries[at - 1].lb2 < bound) {
                    entries[at] = entries[at - 1];
                    --at;
                }
                store(entries[at], child, bound);
            }
            continue;
        }
        const std::int32_t id = ~entry.child;
        const SurfaceLeaf& leaf = index.leaves[std::size_t(id)];
        // Each query's own bound over the leaf's box, which for a far query
        // spares the eight triangle boxes; a query alone already has it in
        // entry.lb2.
        unsigned todo = last - first > 1 ? K::packetBounds(leaf, packet, first, last) : 1u << first;
        bool improved = false;
        for (; todo; todo &= todo - 1) {
            const int q = __builtin_ctz(todo);
            if (id != packet.seedLeaf[q])
                improved |= searchLeaf<K>(index, leaf, id, packet, q);
        }
        if (improved)
            maxLimit = largestLimit();
    }
}

template <class K>
void searchPacketWith(const SurfaceIndex& index, SurfacePacket& packet,
                      std::vector<StackEntry>& stack)
{
    // The queries go alone, in curve order, each with its own bounds and
    // its own nearest-first order, unless they coincide (repeated points),
    // when one traversal serves them all, or are dense (kDenseWalk). A
    // shared box over queries apart opens subtrees that none of them needs:
    // on the real scans a whole packet's box cost 8-35 % against going alone
    // where the queries stood off the surface (the unaligned scans, points
    // 50 to 5000 units away), and gained nothing where they lay near it.
    // Which way is taken and how a query is seeded only change the work,
    // never a result.
    const QueryBox box = boxOf(packet.x, packet.y, packet.z, packet.count);
    float extent2 = 0;
    for (int i = 0; i < 3; ++i)
        extent2 += (box.hi[i] - box.lo[i]) * (box.hi[i] - box.lo[i]);
    if (!(extent2 > 0.0f)) {
        descend<K>(index, packet, 0);
        for (int q = 1; q < packet.count; ++q)
            seed<K>(index, packet, q, packet.seedLeaf[0]);
        traverse<K>(index, packet, box, 0, packet.count, stack);
        return;
    }
    // Each group of packet.walk queries (one, unless they are dense) is
    // seeded query by query, then walks once over its box.
    for (int first = 0; first < packet.count; first += packet.walk) {
        const int last = std::min(first + packet.walk, packet.count);
        for (int q = first; q < last; ++q) {
            const std::int32_t previous = q > 0 ? packet.bestLeaf[q - 1] : -1;
            if (previous >= 0 && nearLeaf(index, packet, q, previous))
                seed<K>(index, packet, q, previous, packet.bestLane[q - 1]);
            else
                descend<K>(index, packet, q);
        }
        const QueryBox group = boxOf(packet.x + first, packet.y + first, packet.z + first,
                                     last - first);
        traverse<K>(index, packet, group, first, last, stack);
    }
}

} // namespace
} // namespace surface_index
