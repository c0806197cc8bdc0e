// The points a mesh is measured from: its vertices, and area samples placed
// on its triangles by a fixed rule, each weighted by the area it stands for.
// Every position and weight depends only on the mesh and the sample count,
// never on the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "surface/point_triangle.h"

// The vertices in vertex order, converted exactly to double.
std::vector<Point3d> vertexPoints(const Mesh& mesh);

// Vertices that no face refers to: they are measured like every other
// vertex, but they are not part of the surface.
std::size_t countUnreferencedVertices(const Mesh& mesh);

// Half the length of cross(b - a, c - a), in double from the float corners
// (0 for a degenerate face).
double faceArea(const Mesh& mesh, const Face& face);
// That cross product divided by its length, or zero when the length is zero
// (a degenerate face).
Point3d faceUnitNormal(const Mesh& mesh, const Face& face);
// The sum of faceArea in face order.
double meshArea(const Mesh& mesh);

// How many of `total` samples each face gets: its share total * area / meshArea,
// rounded to the nearest integer after adding the remainder carried from the
// faces before it (so the remainder stays within [-1/2, 1/2) and the counts
// add up to exactly `total`). Faces of zero area get none. All counts are 0
// when `total` is 0 or the mesh has no area.
std::vector<std::size_t> sampleCounts(const Mesh& mesh, std::size_t total);

struct AreaSamples {
    std::vector<Point3d> points;       // face by face in face order
    std::vector<double> weights;       // the area each point stands for
    std::vector<std::uint32_t> faces;  // the face each point lies on
    // The points' indices face by face in the Morton order of the faces:
    // neighbours in space together, the order to search them in.
    std::vector<std::uint32_t> searchOrder;
};

// `total` points on the faces of `mesh`, sampleCounts(mesh, total) of them on
// each face. Face f with k samples gets points i = 0 .. k-1 at
//   u = (i + 1/2) / k,  v = radicalInverse2(i) + 1 / 2^(m+1), 2^m >= k least,
//   barycentric (1 - sqrt(u), sqrt(u) (1 - v), sqrt(u) v)
// of its corners (a stratified Hammersley set through the area-preserving
// map of the unit square onto the triangle), all in double; u and v stay
// strictly inside (0, 1), so no point lies on an edge of a proper triangle.
//
// Each point of a face weighs (the area the face stands for) / k. A face that
// gets no sample hands its area on to the next face in face order that gets
// one, together with the fractional share that the count rule carries
// forward; area left after the last sampled face goes to that face. The
// weights therefore add up to meshArea (up to rounding). A run of unsampled
// faces holds less than one sample's share (the carried remainder stays in
// [-1/2, 1/2)), so the area a face stands for beyond its own is less than
// meshArea / total.
AreaSamples sampleSurface(const Mesh& mesh, std::size_t total);

// The default sample count for a pair: 10 times the larger face count.
std::size_t defaultSampleCount(const Mesh& a, const Mesh& b);
