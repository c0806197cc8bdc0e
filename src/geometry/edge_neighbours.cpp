#include "geometry/edge_neighbours.h"

#include <cmath>
#include <cstring>
#include <numeric>

namespace {

// A hash of a point that equal points share: -0 is taken as +0 first.
std::uint64_t pointHash(const Vector3& v)
{
    auto bits = [](float x) {
        std::uint32_t u;
        x = x == 0.0f ? 0.0f : x;
        std::memcpy(&u, &x, sizeof u);
        return std::uint64_t(u);
    };
    std::uint64_t h = bits(v.x) * 0x9e3779b97f4a7c15ULL;
    h = (h ^ bits(v.y)) * 0xc2b2ae3d27d4eb4fULL;
    h = (h ^ bits(v.z)) * 0x165667b19e3779f9ULL;
    return h ^ (h >> 29);
}

} // namespace

EdgeNeighbours::EdgeNeighbours(const Mesh& mesh) : mesh_(mesh)
{
    // Positions: each vertex joins the first vertex before it at the same
    // point (equal by value, so -0 and +0 agree), found through a hash
    // table in one pass (sorting the vertices by coordinates took six times
    // as long, and the certified interval waits for it on every thread); a
    // vertex with a NaN coordinate equals nothing and keeps a position of
    // its own. Numbered in the order of their first vertices.
    const std::size_t count = mesh.vertexCount();
    point_.resize(count);
    std::size_t slots = 16;
    while (slots < 2 * count)
        slots *= 2;
    constexpr std::uint32_t kEmpty = ~std::uint32_t(0);
    std::vector<std::uint32_t> firstAt(slots, kEmpty);  // a position's first vertex
    std::uint32_t positions = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Vector3& v = mesh.vertices[i];
        if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) {
            point_[i] = positions++;
            continue;
        }
        std::size_t slot = pointHash(v) & (slots - 1);
        for (;; slot = (slot + 1) & (slots - 1)) {
            const std::uint32_t first = firstAt[slot];
            if (first == kEmpty) {
                firstAt[slot] = std::uint32_t(i);
                point_[i] = positions++;
                break;
            }
            const Vector3& w = mesh.vertices[first];
            if (w.x == v.x && w.y == v.y && w.z == v.z) {
                point_[i] = point_[first];
                break;
            }
        }
    }

    // Each face listed once under each position among its corners.
    start_.assign(std::size_t(positions) + 1, 0);
    auto forEachPosition = [&](const Face& face, auto use) {
        const std::uint32_t p0 = point_[face.vertices[0]], p1 = point_[face.vertices[1]],
                            p2 = point_[face.vertices[2]];
        use(p0);
        if (p1 != p0)
            use(p1);
        if (p2 != p0 && p2 != p1)
            use(p2);
    };
    for (const Face& face : mesh.faces)
        forEachPosition(face, [&](std::uint32_t p) { ++start_[p + 1]; });
    std::partial_sum(start_.begin(), start_.end(), start_.begin());
    faces_.resize(start_.back());
    std::vector<std::size_t> next(start_.begin(), start_.end() - 1);
    for (std::uint32_t f = 0; f < std::uint32_t(mesh.faceCount()); ++f)
        forEachPosition(mesh.faces[f], [&](std::uint32_t p) { faces_[next[p]++] = f; });
}
