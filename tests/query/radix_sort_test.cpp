// The radix sort of the query orders and percentiles against std::stable_sort
// of the same pairs: on keys that use every digit, keys with long runs of
// ties, and keys that differ in one digit only (the others skipped).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "query/radix_sort.h"

namespace {

TEST(SortByKey, GivesTheStableOrder)
{
    std::mt19937_64 rng(5);
    const std::size_t n = 30007;
    std::vector<std::vector<KeyedIndex>> inputs(3, std::vector<KeyedIndex>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t r = rng();
        inputs[0][i] = {r, std::uint32_t(i)};
        inputs[1][i] = {r % 37, std::uint32_t(i)};                  // ties
        inputs[2][i] = {(r % 2048) << 33 | 0x5ull, std::uint32_t(i)};  // one digit varies
    }
    for (const std::vector<KeyedIndex>& input : inputs) {
        std::vector<KeyedIndex> expected = input;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const KeyedIndex& a, const KeyedIndex& b) { return a.first < b.first; });
        std::vector<KeyedIndex> got = input;
        sortByKey(got);
        EXPECT_TRUE(got == expected) << &input - inputs.data();
    }
}

} // namespace
