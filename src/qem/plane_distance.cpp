#include "qem/plane_distance.h"

#include "query/progress.h"

float nearestPlaneDistance(const Vector3& v, const Mesh& mesh)
{
    float best = kFarDistance;
    for (const Face& face : mesh.faces) {
        float d = facePlaneDistance(v, mesh.corner(face, 0), mesh.corner(face, 1),
                                    mesh.corner(face, 2), face.normal);
        if (d < best)
            best = d;
    }
    return best;
}

void nearestPlaneDistancesExhaustive(PointSpan points, const Mesh& mesh,
                                     std::vector<float>& best)
{
    best.assign(points.size(), kFarDistance);
    const std::ptrdiff_t count = std::ptrdiff_t(points.size());
#pragma omp parallel for schedule(dynamic, 64)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        best[std::size_t(i)] = nearestPlaneDistance(points[std::size_t(i)], mesh);
        countAnsweredQueries(1);
    }
}
