// The faces that share an edge or a corner with a face, corners matched by
// position: the vertices of a seam, or of a triangle soup written face by
// face, are separate records at one point, and the faces on either side of
// such an edge still meet along it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"

class EdgeNeighbours {
public:
    // Keeps a reference to `mesh`, which must outlive it.
    explicit EdgeNeighbours(const Mesh& mesh);

    // Calls visit(g, third) for every face g other than f that has a corner
    // at each end of f's edge k (corners k and (k + 1) % 3), `third` being the
    // corner of g at neither end (any corner of g when it has none).
    template <class Visit>
    void forEachAcross(std::uint32_t f, int k, Visit visit) const
    {
        const Face& face = mesh_.faces[f];
        const std::uint32_t from = point_[face.vertices[std::size_t(k)]];
        const std::uint32_t to = point_[face.vertices[std::size_t(k + 1) % 3]];
        for (std::size_t at = start_[from]; at < start_[from + 1]; ++at) {
            const std::uint32_t g = faces_[at];
            if (g == f)
                continue;
            const std::array<std::uint32_t, 3>& corners = mesh_.faces[g].vertices;
            int third = 0;
            bool reaches = false;
            for (int j = 0; j < 3; ++j) {
                const std::uint32_t p = point_[corners[std::size_t(j)]];
                if (p == to)
                    reaches = true;
                else if (p != from)
                    third = j;
            }
            if (reaches)
                visit(g, third);
        }
    }

    // How many positions there are: they are numbered from 0.
    std::uint32_t positionCount() const { return std::uint32_t(start_.size() - 1); }
    // The position of a vertex: vertices at one point share it.
    std::uint32_t positionOf(std::uint32_t vertex) const { return point_[vertex]; }
    // The faces with a corner at `position`, each once, in face order.
    const std::uint32_t* facesAtBegin(std::uint32_t position) const
    {
        return faces_.data() + start_[position];
    }
    const std::uint32_t* facesAtEnd(std::uint32_t position) const
    {
        return faces_.data() + start_[position + 1];
    }

private:
    const Mesh& mesh_;
    // The position of each vertex: vertices at one point share a number.
    std::vector<std::uint32_t> point_;
    // The faces with a corner at position p, each once:
    // faces_[start_[p], start_[p + 1]) (three entries a face: offsets can
    // pass 2^32 where face numbers cannot).
    std::vector<std::size_t> start_;
    std::vector<std::uint32_t> faces_;
};
