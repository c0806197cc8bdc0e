// Summary figures of a set of distances, computed on one thread in a fixed
// order so that they never depend on how the distances were computed.
// Means are plain double sums in input order divided by the count (or the
// total weight); standard deviations are the population ones, from a second
// pass over the deviations from the mean (no cancellation of E[d^2] - mean^2).
#pragma once

#include <cstddef>
#include <vector>

// The figures of unweighted values, e.g. one distance per vertex.
struct VertexStatistics {
    std::size_t count = 0;
    double min = 0, max = 0, mean = 0, rms = 0, std = 0;
    double p50 = 0, p90 = 0, p95 = 0, p99 = 0;  // nearest rank
};

// The figures of weighted values, e.g. area samples weighted by the area
// each stands for: weighted means estimate (1 / area) * integral of d dA.
struct WeightedStatistics {
    std::size_t count = 0;
    double totalWeight = 0;  // the sum of the weights in input order
    double mean = 0, rms = 0, std = 0, max = 0;
    double p50 = 0, p95 = 0, p99 = 0;  // weighted, see weightedPercentile
};

// The nearest-rank percentile of `sorted` (ascending, not empty): the value
// at 1-based rank ceil(percent / 100 * n), at least rank 1. Exact in integers.
double nearestRankPercentile(const std::vector<double>& sorted, unsigned percent);

// The weighted percentile: the least value whose cumulative weight, summed in
// ascending order of value, reaches percent / 100 of the total weight (that
// same cumulative sum's last value, so the largest value always qualifies).
// `values` and `weights` are parallel and not empty; weights are >= 0.
double weightedPercentile(const std::vector<double>& values, const std::vector<double>& weights,
                          unsigned percent);

// count 0 leaves every figure 0; callers report that case as absent.
VertexStatistics vertexStatistics(const std::vector<double>& values);
WeightedStatistics weightedStatistics(const std::vector<double>& values,
                                      const std::vector<double>& weights);
