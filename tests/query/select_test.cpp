// The binned median split of the index builds against std::nth_element: the
// same items on each side of the split for a total order, on keys that fill
// the bins evenly, that pile into one bin, that tie in long runs, and that
// span the float range, at range sizes around the binned threshold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <random>
#include <vector>

#include "query/select.h"

namespace {

struct Item {
    float key;
    std::uint32_t id;
};

bool less(const Item& a, const Item& b) { return a.key < b.key || (a.key == b.key && a.id < b.id); }
bool same(const Item& a, const Item& b) { return a.key == b.key && a.id == b.id; }

// Runs selectSplit on a copy of `items` for every split in `mids` and checks
// it against a sorted copy: the prefix before mid is exactly the mid least
// items (in some order), and the item at mid the next one.
void expectSplitsLikeNthElement(const std::vector<Item>& items, const char* what)
{
    std::vector<Item> sorted = items;
    std::sort(sorted.begin(), sorted.end(), less);
    const std::uint32_t size = std::uint32_t(items.size());
    for (std::uint32_t mid : {1u, size / 3, size / 2, size - 1}) {
        std::vector<Item> got = items;
        std::vector<Item> scratch(size);
        std::vector<std::uint8_t> bins(size);
        float lo = items[0].key, hi = items[0].key;
        for (const Item& item : items)
            lo = std::min(lo, item.key), hi = std::max(hi, item.key);
        query::selectSplit(
            got.data(), 0, mid, size, lo, hi, [](const Item& a) { return a.key; }, less,
            scratch.data(), bins.data());
        std::sort(got.begin(), got.begin() + mid, less);
        std::sort(got.begin() + mid + 1, got.end(), less);
        for (std::uint32_t i = 0; i < size; ++i)
            ASSERT_TRUE(same(got[i], sorted[i]))
                << what << ": " << size << " items, split at " << mid << ", position " << i;
    }
}

TEST(SelectSplit, LeavesTheLeastItemsBeforeTheSplitWhateverTheKeys)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> uniform(-50.0f, 50.0f);
    for (std::uint32_t size : {15u, 16u, 17u, 63u, 64u, 65u, 1000u, 40000u}) {
        std::vector<Item> items(size);
        auto fill = [&](auto key) {
            for (std::uint32_t i = 0; i < size; ++i)
                items[i] = {key(i), i};
            std::shuffle(items.begin(), items.end(), rng);
        };
        fill([&](std::uint32_t) { return uniform(rng); });
        expectSplitsLikeNthElement(items, "uniform");
        // One far key: all others share the first bin.
        fill([&](std::uint32_t i) { return i == 0 ? 1e6f : 1.0f + uniform(rng) * 1e-4f; });
        expectSplitsLikeNthElement(items, "one outlier");
        // Long runs of equal keys, ordered by id alone, and signed zeros.
        fill([&](std::uint32_t i) { return float(int(i % 5) - 2) * 0.0f + float(i % 3); });
        expectSplitsLikeNthElement(items, "ties");
        // Keys next to both ends of the float range: the extent overflows.
        fill([&](std::uint32_t i) { return i % 2 ? FLT_MAX - float(i) * 1e30f : -FLT_MAX; });
        expectSplitsLikeNthElement(items, "float range");
        // Subnormal extent: the scale overflows.
        fill([&](std::uint32_t i) { return float(i % 7) * FLT_TRUE_MIN; });
        expectSplitsLikeNthElement(items, "subnormal");
    }
}

TEST(SelectSplit, SplitsAStretchInsideALargerArrayInPlace)
{
    // A build splits ranges at their own positions; nothing outside moves.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    std::vector<Item> items(3000);
    for (std::uint32_t i = 0; i < items.size(); ++i)
        items[i] = {uniform(rng), i};
    const std::vector<Item> before = items;
    std::vector<Item> scratch(items.size());
    std::vector<std::uint8_t> bins(items.size());
    const std::uint32_t first = 1000, mid = 1600, last = 2200;
    float lo = 1.0f, hi = 0.0f;
    for (std::uint32_t i = first; i < last; ++i)
        lo = std::min(lo, items[i].key), hi = std::max(hi, items[i].key);
    query::selectSplit(
        items.data(), first, mid, last, lo, hi, [](const Item& a) { return a.key; }, less,
        scratch.data() + first, bins.data() + first);
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        if (i < first || i >= last) {
            ASSERT_TRUE(same(items[i], before[i])) << i;
        }
    }
    const Item largestLeft = *std::max_element(items.begin() + first, items.begin() + mid, less);
    const Item leastRight = *std::min_element(items.begin() + mid, items.begin() + last, less);
    EXPECT_TRUE(less(largestLeft, leastRight));
    EXPECT_TRUE(same(items[mid], leastRight));
}

} // namespace
