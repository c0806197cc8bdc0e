// The nearest-face-plane search for every vertex of one mesh against the faces
// of another. The results are bit for bit those of nearestPlaneDistance (the
// exhaustive loop in compare.cpp), whatever the thread count or CPU.
#pragma once

#include <vector>

#include "geometry/mesh.h"

// best[i] = nearestPlaneDistance(from.vertices[i], to) for every vertex of
// `from`, computed with the plane-space index of search_index.h and OpenMP
// threads (OMP_NUM_THREADS is respected). Falls back to the exhaustive loop
// when the index cannot pay off (few faces or few queries) or its error
// analysis does not apply (a coordinate or normal component that is not finite
// or is beyond the range stated in search_index.h).
//
// Diagnostics: MESHQEM_SEARCH=exhaustive forces the exhaustive loop and
// MESHQEM_SEARCH=portable the non-AVX2 kernels; neither changes any result.
void nearestPlaneDistances(const Mesh& from, const Mesh& to, std::vector<float>& best);

// The exhaustive loop, with the same OpenMP split over vertices.
void nearestPlaneDistancesExhaustive(const Mesh& from, const Mesh& to, std::vector<float>& best);

// The accelerated search without the fallbacks, for tests and benchmarks.
// Requires searchIndexApplies(from, to). `portable` forces the non-AVX2 kernels.
void nearestPlaneDistancesIndexed(const Mesh& from, const Mesh& to, std::vector<float>& best,
                                  bool portable = false);

// Whether every coordinate of `from` and `to` and every normal of `to` lies in
// the range the index's rounding-error analysis covers.
bool searchIndexApplies(const Mesh& from, const Mesh& to);
