#include "query/radix_sort.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include <omp.h>

// Two radix sorts, both stable, so the result is the one order that keeps
// ties as they came, whichever runs and at any thread count.
//
// Most significant digit first: each range is scattered by the highest
// digit in which its keys differ (digits all its keys share are skipped,
// so a range of equal keys costs one pass), and each bucket is sorted the
// same way on the bits below, down to an insertion sort. A large input
// makes its first pass on every thread and sorts the buckets in parallel;
// on one thread it is the faster sort for millions of keys, which the
// least-significant-digit passes would sweep six times through memory.

namespace {

// Ranges this small go to the insertion sort.
constexpr std::size_t kInsertionSize = 32;
// Inputs this large make the first pass in parallel.
constexpr std::size_t kParallelSize = 1u << 16;
// On one thread, inputs this large take the most significant digit first.
constexpr std::size_t kSerialDigitFirstSize = 1u << 20;

void insertionSort(KeyedIndex* data, std::size_t n)
{
    for (std::size_t i = 1; i < n; ++i) {
        const KeyedIndex item = data[i];
        std::size_t j = i;
        for (; j > 0 && data[j - 1].first > item.first; --j)
            data[j] = data[j - 1];
        data[j] = item;
    }
}

// Digits of a range of n keys: wide enough to spread large ranges in few
// passes, narrow enough that the counts of a small range stay cheap.
int digitBits(std::size_t n)
{
    return n > kParallelSize ? 11 : n > 4096 ? 8 : 6;
}

// Where the keys of data[0, n) first differ below bit `high`: the bit just
// above it (0 when they agree on every bit below `high`).
int differingTop(const KeyedIndex* data, std::size_t n, int high)
{
    std::uint64_t any = 0, all = ~std::uint64_t(0);
    for (std::size_t i = 0; i < n; ++i)
        any |= data[i].first, all &= data[i].first;
    std::uint64_t differ = any ^ all;
    if (high < 64)
        differ &= (std::uint64_t(1) << high) - 1;
    return differ ? 64 - __builtin_clzll(differ) : 0;
}

// Sorts the n pairs held in `from`, whose keys agree on every bit at or
// above `high`, using `other` (as long) as scratch. The result is left in
// `from` when inFrom is set, else in `other`.
void sortRange(KeyedIndex* from, KeyedIndex* other, std::size_t n, int high, bool inFrom)
{
    KeyedIndex* const result = inFrom ? from : other;
    if (n <= kInsertionSize) {
        if (!inFrom)
            std::copy(from, from + n, other);
        insertionSort(result, n);
        return;
    }
    const int top = differingTop(from, n, high);
    if (top == 0) {
        if (!inFrom)
            std::copy(from, from + n, other);
        return;
    }
    const int low = std::max(0, top - digitBits(n));
    const std::size_t buckets = std::size_t(1) << (top - low);
    const std::uint64_t mask = buckets - 1;
    std::array<std::size_t, (1u << 11) + 1> start;
    std::fill(start.begin(), start.begin() + std::ptrdiff_t(buckets) + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        ++start[(from[i].first >> low & mask) + 1];
    for (std::size_t b = 0; b < buckets; ++b)
        start[b + 1] += start[b];
    std::array<std::size_t, 1u << 11> next;
    std::copy(start.begin(), start.begin() + std::ptrdiff_t(buckets), next.begin());
    for (std::size_t i = 0; i < n; ++i)
        other[next[from[i].first >> low & mask]++] = from[i];
    // The buckets are in `other` now: sorting each back into `from` is what
    // leaves the whole in `from`.
    for (std::size_t b = 0; b < buckets; ++b)
        sortRange(other + start[b], from + start[b], start[b + 1] - start[b], low, !inFrom);
}

// The first pass of a large input on every thread: each thread counts and
// scatters its own contiguous share, in share order within each bucket, so
// the scatter is as stable as one thread's. The buckets are then sorted in
// parallel.
void sortLarge(KeyedIndices& keyed, KeyedIndices& other)
{
    const std::size_t n = keyed.size();
    const int threads = omp_get_max_threads();
    std::vector<std::uint64_t> anyOf(std::size_t(threads), 0), allOf(std::size_t(threads), ~0ull);
    std::vector<std::size_t> offsets;
    int low = 0;
    std::size_t buckets = 0;
    std::vector<std::size_t> bucketStart;
#pragma omp parallel num_threads(threads)
    {
        const std::size_t t = std::size_t(omp_get_thread_num());
        const std::size_t used = std::size_t(omp_get_num_threads());
        const std::size_t first = n * t / used, last = n * (t + 1) / used;
        std::uint64_t any = 0, all = ~std::uint64_t(0);
        for (std::size_t i = first; i < last; ++i)
            any |= keyed[i].first, all &= keyed[i].first;
        anyOf[t] = any, allOf[t] = all;
#pragma omp barrier
#pragma omp single
        {
            std::uint64_t anyKey = 0, allKeys = ~std::uint64_t(0);
            for (std::size_t k = 0; k < used; ++k)
                anyKey |= anyOf[k], allKeys &= allOf[k];
            const std::uint64_t differ = anyKey ^ allKeys;
            const int top = differ ? 64 - __builtin_clzll(differ) : 0;
            low = std::max(0, top - digitBits(n));
            buckets = std::size_t(1) << (top - low);
            offsets.assign(buckets * used, 0);
        }
        const std::uint64_t mask = buckets - 1;
        std::size_t* mine = &offsets[t * buckets];
        for (std::size_t i = first; i < last; ++i)
            ++mine[keyed[i].first >> low & mask];
#pragma omp barrier
#pragma omp single
        {
            // Bucket by bucket, thread by thread: where each thread's share
            // of each bucket starts.
            bucketStart.assign(buckets + 1, 0);
            std::size_t at = 0;
            for (std::size_t b = 0; b < buckets; ++b) {
                bucketStart[b] = at;
                for (std::size_t k = 0; k < used; ++k)
                    at += std::exchange(offsets[k * buckets + b], at);
            }
            bucketStart[buckets] = at;
        }
        for (std::size_t i = first; i < last; ++i)
            other[mine[keyed[i].first >> low & mask]++] = keyed[i];
#pragma omp barrier
        const std::ptrdiff_t count = std::ptrdiff_t(buckets);
#pragma omp for schedule(dynamic, 1)
        for (std::ptrdiff_t b = 0; b < count; ++b) {
            const std::size_t s = bucketStart[std::size_t(b)], e = bucketStart[std::size_t(b) + 1];
            sortRange(other.data() + s, keyed.data() + s, e - s, low, false);
        }
    }
}

// Least significant digit first, 11 bits a pass (6 passes cover the 64
// bits; a digit every key shares is skipped). Each pass is stable. On one
// thread it is the faster sort below a million keys, whose counts and
// buffers stay in cache.
void sortLeastDigitFirst(KeyedIndices& keyed, KeyedIndices& other)
{
    constexpr int kBits = 11, kPasses = 6;
    constexpr std::size_t kBuckets = std::size_t(1) << kBits;
    std::vector<std::size_t> counts(kPasses * kBuckets, 0);
    for (const KeyedIndex& k : keyed)
        for (int pass = 0; pass < kPasses; ++pass)
            ++counts[std::size_t(pass) * kBuckets + (k.first >> (kBits * pass) & (kBuckets - 1))];
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

} // namespace

void sortByKey(KeyedIndices& keyed)
{
    if (keyed.size() <= kInsertionSize) {
        insertionSort(keyed.data(), keyed.size());
        return;
    }
    KeyedIndices other(keyed.size());
    const bool threads = omp_get_max_threads() > 1 && !omp_in_parallel();
    if (keyed.size() >= kParallelSize && threads)
        sortLarge(keyed, other);
    else if (keyed.size() >= kSerialDigitFirstSize)
        sortRange(keyed.data(), other.data(), keyed.size(), 64, true);
    else
        sortLeastDigitFirst(keyed, other);
}
