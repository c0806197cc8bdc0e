// The radix sort of the query orders and percentiles against std::stable_sort
// of the same pairs: on keys that use every digit, keys with long runs of
// ties, keys that differ in one digit only (the others skipped), and keys
// crowded into one bucket level after level; small inputs and inputs large
// enough for the parallel first pass, on one thread and on several.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <omp.h>

#include "query/radix_sort.h"

namespace {

std::vector<KeyedIndices> inputsOfSize(std::size_t n)
{
    std::mt19937_64 rng(5 + n);
    std::vector<KeyedIndices> inputs(4, KeyedIndices(n));
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t r = rng();
        inputs[0][i] = {r, std::uint32_t(i)};
        inputs[1][i] = {r % 37, std::uint32_t(i)};                     // ties
        inputs[2][i] = {(r % 2048) << 33 | 0x5ull, std::uint32_t(i)};  // one digit varies
        // Nearly all keys equal, a few apart at every bit: each level
        // leaves one crowded bucket.
        inputs[3][i] = {r % 97 == 0 ? std::uint64_t(1) << (r % 64) : 0x8000ull, std::uint32_t(i)};
    }
    return inputs;
}

void expectStableOrder(std::size_t n)
{
    const std::vector<KeyedIndices> inputs = inputsOfSize(n);
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const KeyedIndices& input = inputs[k];
        KeyedIndices expected = input;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const KeyedIndex& a, const KeyedIndex& b) { return a.first < b.first; });
        KeyedIndices got = input;
        sortByKey(got);
        EXPECT_TRUE(got == expected) << "n " << n << ", input " << k;
    }
}

TEST(SortByKey, GivesTheStableOrder)
{
    for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(33), std::size_t(30007)})
        expectStableOrder(n);
}

TEST(SortByKey, LargeInputsGiveTheStableOrderAtAnyThreadCount)
{
    const int threads = omp_get_max_threads();
    for (int t : {1, 2, 3}) {
        omp_set_num_threads(t);
        expectStableOrder(200003);
    }
    // Past a million keys one thread sorts most significant digit first too.
    omp_set_num_threads(1);
    expectStableOrder(std::size_t(1) << 20);
    omp_set_num_threads(threads);
}

} // namespace
