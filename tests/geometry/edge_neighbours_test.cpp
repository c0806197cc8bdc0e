// Faces across an edge, with corners matched by position: shared vertices,
// seams and triangle soups alike, non-manifold edges, degenerate faces, and
// coordinates that compare in unusual ways (-0 and +0, NaN).
#include "geometry/edge_neighbours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

Face face(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return {{a, b, c}, {0, 0, 0}}; }

// (face, third corner) pairs across edge k of face f.
std::vector<std::pair<std::uint32_t, int>> across(const EdgeNeighbours& n, std::uint32_t f, int k)
{
    std::vector<std::pair<std::uint32_t, int>> out;
    n.forEachAcross(f, k, [&](std::uint32_t g, int third) { out.push_back({g, third}); });
    return out;
}

using Across = std::vector<std::pair<std::uint32_t, int>>;

// A unit square as two triangles on the diagonal 0-2, with shared vertices,
// and the same square written as a soup of separate corner records.
TEST(EdgeNeighbours, SharedVerticesAndSoupsMeetAlongTheSameEdges)
{
    Mesh shared;
    shared.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    shared.faces = {face(0, 1, 2), face(0, 2, 3)};
    Mesh soup;
    soup.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    soup.faces = {face(0, 1, 2), face(3, 4, 5)};
    for (const Mesh* mesh : {&shared, &soup}) {
        const EdgeNeighbours n(*mesh);
        // Face 0's edges: 0-1 and 1-2 on the boundary, 2-0 the diagonal.
        EXPECT_EQ(across(n, 0, 0), Across{});
        EXPECT_EQ(across(n, 0, 1), Across{});
        EXPECT_EQ(across(n, 0, 2), (Across{{1, 2}}));  // face 1's corner 2 is (0, 1, 0)
        EXPECT_EQ(across(n, 1, 0), (Across{{0, 1}}));  // face 0's corner 1 is (1, 0, 0)
        EXPECT_EQ(across(n, 1, 1), Across{});
    }
}

// Three faces on one edge each see the other two; a face with a repeated
// corner on the edge is a neighbour whose third corner is any of its own.
TEST(EdgeNeighbours, NonManifoldAndDegenerateFaces)
{
    Mesh mesh;
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}};
    mesh.faces = {face(0, 1, 2), face(1, 0, 3), face(0, 1, 4), face(0, 1, 1)};
    const EdgeNeighbours n(mesh);
    EXPECT_EQ(across(n, 0, 0), (Across{{1, 2}, {2, 2}, {3, 0}}));
    EXPECT_EQ(across(n, 2, 0), (Across{{0, 2}, {1, 2}, {3, 0}}));
    // The degenerate face's edge 1-1 is a point: every face at vertex 1.
    EXPECT_EQ(across(n, 3, 1).size(), 3u);
}

// -0 and +0 are one position; a NaN coordinate is no position but its own,
// so two records of a NaN vertex join nothing.
TEST(EdgeNeighbours, SignedZerosMeetAndNaNsDoNot)
{
    const float nan = std::nanf("");
    Mesh mesh;
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-0.0f, 0, -0.0f}, {1, 0, 0}, {0, -1, 0},
                     {nan, 0, 0}, {nan, 0, 0}};
    mesh.faces = {face(0, 1, 2), face(4, 3, 5), face(0, 6, 2), face(0, 7, 2)};
    const EdgeNeighbours n(mesh);
    EXPECT_EQ(across(n, 0, 0), (Across{{1, 2}}));
    // Faces 2 and 3 differ only in their NaN records: their edges through
    // them meet nothing, their edge from vertex 2 to 0 meets face 0 and
    // each other.
    EXPECT_EQ(across(n, 2, 0), Across{});
    EXPECT_EQ(across(n, 2, 1), Across{});
    EXPECT_EQ(across(n, 2, 2), (Across{{0, 1}, {3, 1}}));
}

// A grid of a few thousand points, once with shared vertices and once as a
// soup of three records a face: every edge meets the same faces in both, so
// every record found its point among thousands.
TEST(EdgeNeighbours, LargeSoupMatchesSharedVertices)
{
    constexpr std::uint32_t n = 60;
    Mesh shared, soup;
    for (std::uint32_t y = 0; y < n; ++y)
        for (std::uint32_t x = 0; x < n; ++x)
            shared.vertices.push_back({float(x) * 0.1f, float(y) * 0.3f, float((x * y) % 7)});
    for (std::uint32_t y = 0; y + 1 < n; ++y)
        for (std::uint32_t x = 0; x + 1 < n; ++x) {
            const std::uint32_t v = y * n + x;
            shared.faces.push_back(face(v, v + 1, v + n + 1));
            shared.faces.push_back(face(v, v + n + 1, v + n));
        }
    for (const Face& f : shared.faces) {
        const std::uint32_t first = std::uint32_t(soup.vertices.size());
        for (std::uint32_t v : f.vertices)
            soup.vertices.push_back(shared.vertices[v]);
        soup.faces.push_back(face(first, first + 1, first + 2));
    }
    const EdgeNeighbours a(shared), b(soup);
    EXPECT_EQ(a.positionCount(), n * n);
    EXPECT_EQ(b.positionCount(), n * n);
    std::size_t met = 0;
    for (std::uint32_t f = 0; f < shared.faces.size(); ++f)
        for (int k = 0; k < 3; ++k) {
            const Across expected = across(a, f, k);
            ASSERT_EQ(across(b, f, k), expected) << "face " << f << " edge " << k;
            met += expected.size();
        }
    // Every interior edge joins two faces and is seen from both.
    EXPECT_EQ(met, 2 * (3 * (n - 1) * (n - 1) - 2 * (n - 1)));
}

} // namespace
