// How many queries the searches have answered, for a progress display. The
// searches add to the count as they go (per packet of the indexed search,
// per point of the exhaustive loops); until startCountingQueries() that costs
// them one relaxed load each time, and nothing is counted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace query_progress {

extern std::atomic<bool> counting;
extern std::atomic<std::uint64_t> answered;

} // namespace query_progress

// From now on every answered query is counted (for the rest of the process).
void startCountingQueries();

// The queries answered since counting started, by every search and thread.
inline std::uint64_t answeredQueries()
{
    return query_progress::answered.load(std::memory_order_relaxed);
}

// Called by the searches: `count` more queries have their answers.
inline void countAnsweredQueries(std::size_t count)
{
    if (query_progress::counting.load(std::memory_order_relaxed))
        query_progress::answered.fetch_add(count, std::memory_order_relaxed);
}
