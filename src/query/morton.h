// The order in which queries are searched: neighbours on a space-filling curve
// are neighbours in space, so a packet of consecutive queries has a small box
// and its members share most of one traversal.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "geometry/vector3.h"

// The indices of `points` sorted by their Morton code (21 bits per axis over
// the points' box); ties keep index order, so the order depends only on the
// points.
std::vector<std::uint32_t> mortonOrder(PointSpan points);

// The faces of `mesh` in the Morton order of their centroids (the mean of
// the corners in double, rounded to float).
std::vector<std::uint32_t> faceMortonOrder(const Mesh& mesh);
