// The recursive median partition that both indexes are built on: a range of
// items is split, by a split function of the index's own keys, until every
// part fits one leaf of `lanes` items. Splits fall at multiples of `lanes`
// from a range's start, so that leaves fill up. The two halves of a split are
// independent; large ones become OpenMP tasks (call from inside a parallel
// region's single construct), and the result does not depend on which thread
// ran which.
#pragma once

#include <cstdint>
#include <utility>

namespace query {

using ItemRange = std::pair<std::uint32_t, std::uint32_t>;

// Where a range of more than `lanes` items is split.
inline std::uint32_t splitPoint(ItemRange r, std::uint32_t lanes)
{
    std::uint32_t size = r.second - r.first;
    return r.first + lanes * ((size + 2 * lanes - 1) / (2 * lanes));
}

// Splits [first, last) and every part down to leaves. split(range) reorders
// the range's items and returns splitPoint(range, lanes). It is taken by
// value, so that a task owns its copy whatever frame it outlives.
template <class Split>
void partitionRanges(std::uint32_t first, std::uint32_t last, std::uint32_t lanes, Split split)
{
    constexpr std::uint32_t kTaskSize = 1u << 14;
    while (last - first > lanes) {
        std::uint32_t mid = split(ItemRange{first, last});
        if (last - mid >= kTaskSize) {
#pragma omp task
            partitionRanges(mid, last, lanes, split);
        } else {
            partitionRanges(mid, last, lanes, split);
        }
        last = mid;
    }
}

} // namespace query
