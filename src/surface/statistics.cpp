#include "surface/statistics.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "query/radix_sort.h"

namespace {

// Ascending value, ties broken by position: a strict total order, so the
// sorted sequence (and every cumulative weight over it) is unique.
//
// Distances are never negative, and the bit patterns of non-negative doubles
// (+inf included) order as unsigned integers do, so a stable radix sort of
// the patterns gives this order; -0 is keyed as +0, which it equals. Values
// the patterns would misorder (negative, NaN) and more than 2^32 of them
// take the comparison sort.
std::vector<std::size_t> ascendingOrder(const std::vector<double>& values)
{
    std::vector<std::size_t> order(values.size());
    const bool keyable =
        values.size() <= UINT32_MAX &&
        std::all_of(values.begin(), values.end(), [](double v) { return v >= 0.0; });
    if (keyable) {
        KeyedIndices keyed(values.size());
        const std::ptrdiff_t count = std::ptrdiff_t(values.size());
#pragma omp parallel for schedule(static) if (count >= 65536)
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            const double v = values[std::size_t(i)] + 0.0;  // -0 + 0 is +0
            std::uint64_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            keyed[std::size_t(i)] = {bits, std::uint32_t(i)};
        }
        sortByKey(keyed);
#pragma omp parallel for schedule(static) if (count >= 65536)
        for (std::ptrdiff_t k = 0; k < count; ++k)
            order[std::size_t(k)] = keyed[std::size_t(k)].second;
        return order;
    }
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) {
        return values[i] < values[j] || (values[i] == values[j] && i < j);
    });
    return order;
}

// The weighted percentile over an order from ascendingOrder.
double weightedPercentileInOrder(const std::vector<double>& values,
                                 const std::vector<std::size_t>& order,
                                 const std::vector<double>& cumulative, unsigned percent)
{
    const double threshold = cumulative.back() * (double(percent) / 100.0);
    auto reached = std::lower_bound(cumulative.begin(), cumulative.end(), threshold);
    if (reached == cumulative.end())
        --reached;
    return values[order[std::size_t(reached - cumulative.begin())]];
}

std::vector<double> cumulativeWeights(const std::vector<double>& weights,
                                      const std::vector<std::size_t>& order)
{
    std::vector<double> cumulative(order.size());
    double sum = 0.0;
    for (std::size_t k = 0; k < order.size(); ++k)
        cumulative[k] = sum += weights[order[k]];
    return cumulative;
}

// The nearest rank of a percentile of n > 0 values: ceil(percent n / 100),
// at least 1.
std::size_t nearestRank(std::size_t n, unsigned percent)
{
    const std::size_t rank = (std::size_t(percent) * n + 99) / 100;
    return rank < 1 ? 1 : rank;
}

} // namespace

double nearestRankPercentile(const std::vector<double>& sorted, unsigned percent)
{
    assert(!sorted.empty() && percent <= 100);
    return sorted[nearestRank(sorted.size(), percent) - 1];
}

double weightedPercentile(const std::vector<double>& values, const std::vector<double>& weights,
                          unsigned percent)
{
    assert(!values.empty() && values.size() == weights.size() && percent <= 100);
    const std::vector<std::size_t> order = ascendingOrder(values);
    return weightedPercentileInOrder(values, order, cumulativeWeights(weights, order),
                                     percent);
}

VertexStatistics vertexStatistics(const std::vector<double>& values)
{
    VertexStatistics s;
    s.count = values.size();
    if (values.empty())
        return s;
    double sum = 0.0, sumSquares = 0.0;
    for (double d : values)
        sum += d, sumSquares += d * d;
    const double n = double(values.size());
    s.mean = sum / n;
    s.rms = std::sqrt(sumSquares / n);
    double deviations = 0.0;
    for (double d : values)
        deviations += (d - s.mean) * (d - s.mean);
    s.std = std::sqrt(deviations / n);

    // Each figure is one order statistic, so a selection per rank, each in
    // the part above the one before, gives the values a full sort would.
    std::vector<double> ranked = values;
    const auto [least, most] = std::minmax_element(ranked.begin(), ranked.end());
    s.min = *least;
    s.max = *most;
    auto from = ranked.begin();
    double* figures[] = {&s.p50, &s.p90, &s.p95, &s.p99};
    const unsigned percents[] = {50, 90, 95, 99};
    for (int k = 0; k < 4; ++k) {
        const auto at = ranked.begin() + std::ptrdiff_t(nearestRank(ranked.size(), percents[k]) - 1);
        std::nth_element(from, at, ranked.end());
        *figures[k] = *at;
        from = at;
    }
    return s;
}

WeightedStatistics weightedStatistics(const std::vector<double>& values,
                                      const std::vector<double>& weights)
{
    assert(values.size() == weights.size());
    WeightedStatistics s;
    s.count = values.size();
    if (values.empty())
        return s;
    double total = 0.0, sum = 0.0, sumSquares = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double w = weights[i], d = values[i];
        total += w;
        sum += w * d;
        sumSquares += w * (d * d);
    }
    s.totalWeight = total;
    s.max = *std::max_element(values.begin(), values.end());
    if (!(total > 0.0))
        return s;  // nothing to average over: only the maximum is defined
    s.mean = sum / total;
    s.rms = std::sqrt(sumSquares / total);
    double deviations = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i)
        deviations += weights[i] * ((values[i] - s.mean) * (values[i] - s.mean));
    s.std = std::sqrt(deviations / total);

    const std::vector<std::size_t> order = ascendingOrder(values);
    const std::vector<double> cumulative = cumulativeWeights(weights, order);
    s.p50 = weightedPercentileInOrder(values, order, cumulative, 50);
    s.p95 = weightedPercentileInOrder(values, order, cumulative, 95);
    s.p99 = weightedPercentileInOrder(values, order, cumulative, 99);
    return s;
}
