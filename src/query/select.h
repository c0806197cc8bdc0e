// The median split of the index builds, without nth_element's unpredictable
// branches on the large ranges: the items are binned by a monotone map of
// their float key, moved by bin to scratch and back, and only the bin that
// holds the split is left to nth_element. The result is a valid
// nth_element: every item before `mid` is not greater (by `less`) than any
// item after it. Which valid order comes out depends only on the items and
// their order, never on the thread that runs it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace query {

// Reorders items[first, last) as std::nth_element(items + first, items + mid,
// items + last, less) would, for an order `less` that compares key(item)
// first (less(a, b) implies key(a) <= key(b)), on keys that are not NaN.
// lo and hi are the least and largest key; `scratch` holds at least
// last - first items and `bins` as many bytes.
template <class Item, class Key, class Less>
void selectSplit(Item* items, std::uint32_t first, std::uint32_t mid, std::uint32_t last,
                 float lo, float hi, Key key, Less less, Item* scratch, std::uint8_t* bins)
{
    // Smaller ranges would leave too few items to a bin to gain anything.
    constexpr std::uint32_t kBinnedSize = 16;
    const std::uint32_t size = last - first;
    // About four items a bin, at most 256 (a byte each).
    const int binCount = int(std::min<std::uint32_t>(256, size / 4));
    const double scale = binCount / (double(hi) - double(lo));
    if (size < kBinnedSize || !std::isfinite(scale) || !(scale > 0.0)) {
        std::nth_element(items + first, items + mid, items + last, less);
        return;
    }
    // t rises with the key (a difference and a product by a positive
    // constant round monotonically), so bin(a) < bin(b) implies key(a) <
    // key(b) and with it !less(b, a). The clamps keep the end keys (and
    // any rounding past them) inside the bins.
    Item* in = items + first;
    std::uint32_t count[256] = {};
    for (std::uint32_t i = 0; i < size; ++i) {
        const double t = (double(key(in[i])) - lo) * scale;
        const int bin = t >= 0.0 ? (t < binCount ? int(t) : binCount - 1) : 0;
        bins[i] = std::uint8_t(bin);
        ++count[bin];
    }
    const std::uint32_t rank = mid - first;
    int split = 0;
    std::uint32_t below = 0;
    while (below + count[split] <= rank)
        below += count[split++];
    // Three runs, in the items' own order: the bins below the split's, its
    // own, the ones above.
    std::uint32_t cursor[3] = {0, below, below + count[split]};
    for (std::uint32_t i = 0; i < size; ++i) {
        const int side = (bins[i] >= split) + (bins[i] > split);
        scratch[cursor[side]++] = in[i];
    }
    std::copy(scratch, scratch + size, in);
    std::nth_element(in + below, in + rank, in + below + count[split], less);
}

} // namespace query
