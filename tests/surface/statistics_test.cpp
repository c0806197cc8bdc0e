#include "surface/statistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include <gtest/gtest.h>

#include <omp.h>

namespace {

// Nearest rank is ceil(p n / 100): an off-by-one or a rounded rank shows on
// these counts.
TEST(Statistics, NearestRankPercentiles)
{
    const std::vector<double> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(nearestRankPercentile(ten, 50), 5);
    EXPECT_EQ(nearestRankPercentile(ten, 90), 9);
    EXPECT_EQ(nearestRankPercentile(ten, 95), 10);
    EXPECT_EQ(nearestRankPercentile(ten, 0), 1);
    EXPECT_EQ(nearestRankPercentile(ten, 100), 10);
    EXPECT_EQ(nearestRankPercentile({7}, 99), 7);
    std::vector<double> many(200);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = double(i + 1);
    EXPECT_EQ(nearestRankPercentile(many, 99), 198);
    EXPECT_EQ(nearestRankPercentile(many, 50), 100);
}

// The least value whose cumulative weight reaches the fraction; input order
// does not matter.
TEST(Statistics, WeightedPercentiles)
{
    EXPECT_EQ(weightedPercentile({1, 2, 3, 4}, {1, 1, 1, 1}, 50), 2);
    EXPECT_EQ(weightedPercentile({4, 1, 3, 2}, {1, 3, 1, 1}, 50), 1);  // 1 holds half the weight
    EXPECT_EQ(weightedPercentile({4, 1, 3, 2}, {1, 3, 1, 1}, 51), 2);
    EXPECT_EQ(weightedPercentile({4, 1, 3, 2}, {1, 3, 1, 1}, 99), 4);
    EXPECT_EQ(weightedPercentile({5, 6}, {0, 1}, 50), 6);  // no weight, no share
    EXPECT_EQ(weightedPercentile({0.1, 0.2, 0.3}, {0.1, 0.1, 0.1}, 100), 0.3);  // rounding in the sum
}

// The sorted order behind the weighted percentiles, on many values with
// ties, -0 beside +0 and infinities (the radix path), and with a negative
// value (the comparison path): every percentile as an independent
// comparison sort and running sum give it.
// The weighted percentile by its definition: ascending value, ties by
// position, the first whose cumulative weight reaches the share.
double referenceWeightedPercentile(const std::vector<double>& values,
                                   const std::vector<double>& weights, unsigned percent)
{
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) {
        return values[i] < values[j] || (values[i] == values[j] && i < j);
    });
    std::vector<double> cumulative;
    double sum = 0;
    for (std::size_t i : order)
        cumulative.push_back(sum += weights[i]);
    const double threshold = sum * (double(percent) / 100.0);
    const std::size_t at = std::min<std::size_t>(
        std::size_t(std::lower_bound(cumulative.begin(), cumulative.end(), threshold) -
                    cumulative.begin()),
        values.size() - 1);
    return values[order[at]];
}

TEST(Statistics, WeightedPercentilesOfManyValuesMatchAComparisonSort)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 40);
    std::uniform_real_distribution<double> weight(0.0, 1.0);
    for (int t = 0; t < 3; ++t) {
        std::vector<double> values(5000), weights(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int k = pick(rng);
            values[i] = k == 0 ? -0.0 : k == 1 ? HUGE_VAL : k == 2 ? 0.0 : 0.37 * k;
            weights[i] = weight(rng);
        }
        if (t == 2)
            values[17] = -1.0;
        for (unsigned percent = 0; percent <= 100; ++percent)
            EXPECT_EQ(weightedPercentile(values, weights, percent),
                      referenceWeightedPercentile(values, weights, percent))
                << t << " " << percent;
    }
}

// Enough values for the keys to be formed and sorted on every thread.
TEST(Statistics, WeightedPercentilesOfALargeSampleAtAnyThreadCount)
{
    std::mt19937 rng(6);
    std::uniform_real_distribution<double> value(0.0, 3.0), weight(0.0, 1.0);
    std::vector<double> values(70000), weights(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = i % 7 == 0 ? 1.5 : value(rng), weights[i] = weight(rng);
    const int saved = omp_get_max_threads();
    for (unsigned percent : {0u, 1u, 50u, 95u, 99u, 100u}) {
        const double expected = referenceWeightedPercentile(values, weights, percent);
        for (int threads : {1, 2}) {
            omp_set_num_threads(threads);
            EXPECT_EQ(weightedPercentile(values, weights, percent), expected)
                << percent << " at " << threads << " threads";
        }
    }
    omp_set_num_threads(saved);
}

// The vertex figures select their order statistics one after the other:
// on shuffled values with repeats, of sizes where several ranks coincide,
// each must be the sorted sequence's.
TEST(Statistics, VertexPercentilesAreThoseOfTheSortedValues)
{
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> pick(0, 30);
    for (std::size_t n : {1u, 2u, 3u, 7u, 20u, 101u, 1000u}) {
        std::vector<double> values(n);
        for (double& v : values)
            v = 0.5 * pick(rng);
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const VertexStatistics s = vertexStatistics(values);
        EXPECT_EQ(s.min, sorted.front()) << n;
        EXPECT_EQ(s.max, sorted.back()) << n;
        EXPECT_EQ(s.p50, nearestRankPercentile(sorted, 50)) << n;
        EXPECT_EQ(s.p90, nearestRankPercentile(sorted, 90)) << n;
        EXPECT_EQ(s.p95, nearestRankPercentile(sorted, 95)) << n;
        EXPECT_EQ(s.p99, nearestRankPercentile(sorted, 99)) << n;
    }
}

TEST(Statistics, VertexFiguresOnAHandCase)
{
    VertexStatistics s = vertexStatistics({3, 1, 4, 2});
    EXPECT_EQ(s.count, 4u);
    EXPECT_EQ(s.min, 1);
    EXPECT_EQ(s.max, 4);
    EXPECT_EQ(s.mean, 2.5);
    EXPECT_DOUBLE_EQ(s.rms, std::sqrt(7.5));
    EXPECT_DOUBLE_EQ(s.std, std::sqrt(1.25));  // population, not sample, deviation
    EXPECT_EQ(s.p50, 2);
    EXPECT_EQ(s.p90, 4);

    // Equal values have no spread: sqrt(E[d^2] - mean^2) would turn the
    // rounding noise of the two means into about 1e-9; deviations from the
    // mean keep it at the noise of the mean itself.
    VertexStatistics same = vertexStatistics(std::vector<double>(1000, 0.1));
    EXPECT_LT(same.std, 1e-13);
    EXPECT_EQ(vertexStatistics(std::vector<double>(1000, 0.5)).std, 0.0);
    EXPECT_EQ(vertexStatistics({}).count, 0u);
}

TEST(Statistics, WeightedFiguresOnAHandCase)
{
    WeightedStatistics s = weightedStatistics({1, 3}, {3, 1});
    EXPECT_EQ(s.count, 2u);
    EXPECT_EQ(s.totalWeight, 4);
    EXPECT_EQ(s.mean, 1.5);
    EXPECT_DOUBLE_EQ(s.rms, std::sqrt(3.0));
    EXPECT_DOUBLE_EQ(s.std, std::sqrt(0.75));
    EXPECT_EQ(s.max, 3);
    EXPECT_EQ(s.p50, 1);
    EXPECT_EQ(s.p95, 3);

    // Equal weights give the unweighted mean and deviation.
    WeightedStatistics equal = weightedStatistics({3, 1, 4, 2}, {0.5, 0.5, 0.5, 0.5});
    EXPECT_EQ(equal.mean, 2.5);
    EXPECT_DOUBLE_EQ(equal.std, std::sqrt(1.25));
    EXPECT_EQ(weightedStatistics({}, {}).count, 0u);
}

} // namespace
