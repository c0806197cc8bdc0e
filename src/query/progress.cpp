#include "query/progress.h"

namespace query_progress {

std::atomic<bool> counting{false};
std::atomic<std::uint64_t> answered{0};

} // namespace query_progress

void startCountingQueries() { query_progress::counting.store(true, std::memory_order_relaxed); }
