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
// queries: below these sizes the build costs more than it saves. For an
// engine without a cost model (the surface search).
bool indexPaysOff(std::size_t queries, std::size_t faces);

// What an engine's two paths cost, in nanoseconds of CPU time: the
// exhaustive scan per (query, face) pair, the index build per face, and an
// indexed query against F faces, searchBase + searchPerRootFace * sqrt(F)
// (the visited part of a plane-space tree grows about as the square root of
// its size on real scans). Every part runs on all threads, so the thread
// count drops out.
struct SearchCosts {
    double scanPerPair;
    double buildPerFace;
    double searchBase;
    double searchPerRootFace;
};

// The cost model: the index when the build plus the indexed queries cost
// less than the scan of every (query, face) pair.
bool indexPaysOff(std::size_t queries, std::size_t faces, const SearchCosts& costs);
