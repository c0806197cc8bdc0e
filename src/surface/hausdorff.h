// A certified interval of the one-sided Hausdorff distance
//     h(A, B) = sup over points x of A of d(x, B),
// d(x, B) the exact Euclidean distance from x to the nearest point of any
// triangle of B, and A every point of its triangles (a degenerate one as the
// segment or point it is) and every vertex, referenced or not, as the vertex
// figures count them.
//
// Branch and bound over the triangles of A (Tang, Lee and Kim 2009, "Interactive
// Hausdorff distance computation for general polygonal models", in the form
// of the issue): pieces of A's triangles, halved at their edge midpoints in
// barycentric coordinates so that the four children cover the parent exactly;
// - the lower bound L comes from evaluated points (corners of the pieces);
// - a piece's upper bound is the least, over candidate triangles t of B, of
//   the largest distance from its corners to t (the distance to one triangle
//   is convex, so over a piece it is largest at a corner), and never more
//   than the Lipschitz bound min_k (d(c_k, B) + the longest side from c_k);
// - a piece about to be split may still be kept on two faces of B that
//   share an edge: the largest over its corners of the nearer of the two
//   distances, plus the distance between the shared edge and the segment
//   joining the far corners (0 where the two make a flat convex
//   quadrilateral), bounds it too; so does the star of one of a face's
//   corners (every face there), with the spread of its corners about a
//   plane added, when it is a convex fan (fan_gap.h);
// - a piece whose upper bound is not above L is dropped; one within L + E is
//   kept as it is; the others are split, level by level;
// - a face of A first tries the faces of B that the search found nearest
//   its corners, and a smaller piece the face its parent's bound came from:
//   where the meshes nearly coincide that usually settles it without a
//   radius query.
// Before any piece, whole groups of A's faces are dropped on the distance of
// one vertex each and the group's extent, so that on meshes far apart only
// the faces near the maximum are measured corner by corner.
// Every rounding is covered (distance_bounds.h): the upper bound is not below
// the real supremum and the lower bound not above the real distance at a
// real point of A near the witness. The pieces, their order and every
// reduction are the same at any thread count and with or without B's
// index, so is the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "surface/point_triangle.h"
#include "surface/surface_search.h"

struct HausdorffInterval {
    double lower = 0;    // L <= h(A, B)
    double upper = 0;    // h(A, B) <= U
    Point3d witness{};   // the point of A evaluated last at the lower bound
    double witnessDistance = 0;  // its distance as the surface search gives it
    std::size_t pieces = 0;      // pieces whose bounds were computed
    std::size_t points = 0;      // points whose distance was evaluated
    bool converged = true;       // U - L <= E (false only if the pieces got too
                                 // small to split before the bounds met)
};

// The interval of h(A, B) with U - L <= maxError (> 0), B searched through
// `toB` (a search over B). A without vertices gives [0, 0]; B without
// faces, [+inf, +inf]. A caller that has measured every vertex of A through
// a search over B already (`vertexDistances` and `vertexFaces`, one per
// vertex in vertex order, as NearestSurfaceSearch::distances gives them)
// saves measuring them again; the result is the same either way.
HausdorffInterval certifiedHausdorff(const Mesh& a, NearestSurfaceSearch& toB, double maxError,
                                     const std::vector<double>* vertexDistances = nullptr,
                                     const std::vector<std::uint32_t>* vertexFaces = nullptr);

// The smallest error bound the rounding of these meshes leaves room for:
// below it the bounds may never meet. Far below any useful bound (about
// 2^-40 of the largest coordinate).
double smallestHausdorffError(const Mesh& a, const Mesh& b);
