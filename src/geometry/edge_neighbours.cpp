#include "geometry/edge_neighbours.h"

#include <algorithm>
#include <cmath>
#include <numeric>

EdgeNeighbours::EdgeNeighbours(const Mesh& mesh) : mesh_(mesh)
{
    // Positions: the vertices sorted by coordinates, equal neighbours (by
    // value, so -0 and +0 agree) numbered alike. A vertex with a NaN
    // coordinate equals nothing and keeps a position of its own.
    std::vector<std::uint32_t> order(mesh.vertexCount());
    std::iota(order.begin(), order.end(), 0u);
    auto finite = [&](std::uint32_t i) {
        const Vector3& v = mesh.vertices[i];
        return !std::isnan(v.x) && !std::isnan(v.y) && !std::isnan(v.z);
    };
    const auto comparable = std::partition(order.begin(), order.end(), finite);
    auto before = [&](std::uint32_t i, std::uint32_t j) {
        const Vector3 &p = mesh.vertices[i], &q = mesh.vertices[j];
        if (p.x != q.x)
            return p.x < q.x;
        if (p.y != q.y)
            return p.y < q.y;
        return p.z < q.z;
    };
    std::sort(order.begin(), comparable, before);
    const std::size_t sorted = std::size_t(comparable - order.begin());
    point_.resize(order.size());
    std::uint32_t positions = 0;
    for (std::size_t r = 0; r < order.size(); ++r) {
        const bool repeated = r > 0 && r < sorted && !before(order[r - 1], order[r]);
        point_[order[r]] = repeated ? positions - 1 : positions++;
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
