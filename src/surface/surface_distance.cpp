#include "surface/surface_distance.h"

#include <cmath>
#include <cstddef>

#include "query/progress.h"

double nearestSurfaceDistanceSquared(const Point3d& p, const Mesh& mesh, std::uint32_t* face)
{
    double best = HUGE_VAL;
    std::uint32_t nearest = kNoFace;
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
        const Face& t = mesh.faces[f];
        double d = pointTriangleDistanceSquared(p, mesh.corner(t, 0), mesh.corner(t, 1),
                                                mesh.corner(t, 2));
        // Strictly less: of equal values the first in face order stays.
        if (d < best)
            best = d, nearest = std::uint32_t(f);
    }
    if (face)
        *face = nearest;
    return best;
}

void surfaceDistancesExhaustive(const std::vector<Point3d>& points, const Mesh& mesh,
                                std::vector<double>& out, std::vector<std::uint32_t>* faces)
{
    out.assign(points.size(), HUGE_VAL);
    if (faces)
        faces->assign(points.size(), kNoFace);
    const std::ptrdiff_t count = std::ptrdiff_t(points.size());
#pragma omp parallel for schedule(dynamic, 16)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::size_t k = std::size_t(i);
        out[k] = std::sqrt(
            nearestSurfaceDistanceSquared(points[k], mesh, faces ? &(*faces)[k] : nullptr));
        countAnsweredQueries(1);
    }
}
