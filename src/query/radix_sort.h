// A stable sort of (key, index) pairs by key: the order that sorting the
// pairs themselves gives when they start in index order (ties keep their
// order), in linear time. The query orders and the percentiles sort
// hundreds of thousands to millions of keys each run.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "geometry/fill_later_vector.h"

using KeyedIndex = std::pair<std::uint64_t, std::uint32_t>;
// Filled in parallel by the callers: its pages are first written there, not
// zeroed beforehand on one thread.
using KeyedIndices = FillLaterVector<KeyedIndex>;

void sortByKey(KeyedIndices& keyed);
