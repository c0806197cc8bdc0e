#include "surface/surface_distance.h"

#include <cmath>
#include <cstddef>

#include "query/progress.h"

double nearestSurfaceDistanceSquared(const Point3d& p, const Mesh& mesh)
{
    double best = HUGE_VAL;
    for (const Face& face : mesh.faces) {
        double d = pointTriangleDistanceSquared(p, mesh.corner(face, 0), mesh.corner(face, 1),
                                                mesh.corner(face, 2));
        if (d < best)
            best = d;
    }
    return best;
}

void surfaceDistancesExhaustive(const std::vector<Point3d>& points, const Mesh& mesh,
                                std::vector<double>& out)
{
    out.assign(points.size(), HUGE_VAL);
    const std::ptrdiff_t count = std::ptrdiff_t(points.size());
#pragma omp parallel for schedule(dynamic, 16)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        out[std::size_t(i)] = std::sqrt(nearestSurfaceDistanceSquared(points[std::size_t(i)], mesh));
        countAnsweredQueries(1);
    }
}
