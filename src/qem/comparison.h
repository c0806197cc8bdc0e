// The comparison of two normalised meshes by nearest face planes: both
// directions' per-vertex distances, their sums and the QEM Error, computed
// apart from any printing so that every report and export reads one result.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/mesh.h"
#include "qem/plane_search.h"

// One direction: every vertex of one mesh against the face planes of another.
struct DirectedDistances {
    std::size_t vertexCount = 0;   // of the mesh measured from
    std::size_t faceCount = 0;     // of the mesh measured against
    std::vector<float> distances;  // nearestPlaneDistance of each vertex, in vertex order
    float sum = 0.0f;              // the float sum of `distances` in vertex order
};

struct Comparison {
    DirectedDistances firstToSecond;
    DirectedDistances secondToFirst;
    float qemError = 0.0f;
};

// The float sum in vertex order, on one thread: the figure never depends on
// how the distances were computed.
float sumInVertexOrder(const std::vector<float>& distances);

// Every vertex of `from` against the target of `to`.
DirectedDistances pointToFace(const Mesh& from, NearestPlaneSearch& to);
// Same, with a search made for this call.
DirectedDistances pointToFace(const Mesh& from, const Mesh& to);

// Both directions and the QEM Error. The searches hold `first` and `second`
// as their targets; each keeps its index, so a reference compared with many
// candidates is indexed once.
Comparison compareMeshes(NearestPlaneSearch& first, NearestPlaneSearch& second);
Comparison compareMeshes(const Mesh& first, const Mesh& second);
