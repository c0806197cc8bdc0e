// The choice between an index and the exhaustive loop, shared by the engines.
#pragma once

#include <cstddef>

enum class SearchMode {
    automatic,   // an index where it pays off and its error analysis applies
    exhaustive,  // always the exhaustive reference loop
    portable,    // as automatic, without the AVX2 kernels
};

// MESHQEM_SEARCH=exhaustive|portable, for comparisons and benchmarks; read
// once. Neither changes any result.
SearchMode searchModeFromEnvironment();

// Whether building an index over `faces` faces pays off for `queries`
// queries: below these sizes the build costs more than it saves.
bool indexPaysOff(std::size_t queries, std::size_t faces);
