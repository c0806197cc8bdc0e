// A stable sort of (key, index) pairs by key: the order that sorting the
// pairs themselves gives when they start in index order (ties keep their
// order), in linear time. The query orders and the percentiles sort
// hundreds of thousands to millions of keys each run.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

using KeyedIndex = std::pair<std::uint64_t, std::uint32_t>;

void sortByKey(std::vector<KeyedIndex>& keyed);
