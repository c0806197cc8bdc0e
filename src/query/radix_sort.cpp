#include "query/radix_sort.h"

#include <algorithm>

// A least-significant-digit radix sort, 11 bits a pass (6 passes cover the
// 64 bits). Each pass is stable, so equal keys keep their order.
void sortByKey(std::vector<KeyedIndex>& keyed)
{
    constexpr int kBits = 11, kPasses = 6;
    constexpr std::size_t kBuckets = std::size_t(1) << kBits;
    std::vector<std::size_t> counts(kPasses * kBuckets, 0);
    for (const KeyedIndex& k : keyed)
        for (int pass = 0; pass < kPasses; ++pass)
            ++counts[std::size_t(pass) * kBuckets + (k.first >> (kBits * pass) & (kBuckets - 1))];
    std::vector<KeyedIndex> other(keyed.size());
    for (int pass = 0; pass < kPasses; ++pass) {
        std::size_t* count = &counts[std::size_t(pass) * kBuckets];
        // A digit every key shares moves nothing.
        if (std::find(count, count + kBuckets, keyed.size()) != count + kBuckets)
            continue;
        std::size_t start = 0;
        for (std::size_t b = 0; b < kBuckets; ++b)
            start += std::exchange(count[b], start);
        for (const KeyedIndex& k : keyed)
            other[count[k.first >> (kBits * pass) & (kBuckets - 1)]++] = k;
        keyed.swap(other);
    }
}
