#include "surface/surface_comparison.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "surface/sampling.h"
#include "surface/surface_search.h"

namespace {

SurfaceMeshInfo describe(const Mesh& mesh)
{
    SurfaceMeshInfo info;
    info.vertices = mesh.vertexCount();
    info.faces = mesh.faceCount();
    info.area = meshArea(mesh);
    const float lo[3] = {mesh.bboxMin.x, mesh.bboxMin.y, mesh.bboxMin.z};
    const float hi[3] = {mesh.bboxMax.x, mesh.bboxMax.y, mesh.bboxMax.z};
    for (int i = 0; i < 3; ++i)
        info.bboxMin[i] = lo[i], info.bboxMax[i] = hi[i];
    return info;
}

double unionDiagonal(const SurfaceMeshInfo& a, const SurfaceMeshInfo& b)
{
    double squares = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double extent =
            std::max(a.bboxMax[i], b.bboxMax[i]) - std::min(a.bboxMin[i], b.bboxMin[i]);
        squares += extent * extent;
    }
    return std::sqrt(squares);
}

SurfaceDirection measure(const Mesh& from, NearestSurfaceSearch& to, std::size_t samples)
{
    SurfaceDirection direction;
    std::vector<double>& distances = direction.vertexDistances;
    to.distances(vertexPoints(from), distances);
    direction.vertices = vertexStatistics(distances);
    direction.unreferenced = countUnreferencedVertices(from);
    direction.meshArea = meshArea(from);
    direction.max = direction.vertices.max;

    AreaSamples area = sampleSurface(from, samples);
    to.distances(area.points, direction.sampleDistances);
    direction.area = weightedStatistics(direction.sampleDistances, area.weights);
    direction.sampleWeights = std::move(area.weights);
    if (direction.area.count > 0)
        direction.max = std::max(direction.max, direction.area.max);
    return direction;
}

} // namespace

SurfaceComparison compareSurfaces(const Mesh& a, const Mesh& b, std::size_t samples)
{
    NearestSurfaceSearch searchA(a), searchB(b);
    return compareSurfaces(searchA, searchB, samples);
}

SurfaceComparison compareSurfaces(NearestSurfaceSearch& searchA, NearestSurfaceSearch& searchB,
                                  std::size_t samples)
{
    const Mesh& a = searchA.target();
    const Mesh& b = searchB.target();
    SurfaceComparison comparison;
    comparison.a = describe(a);
    comparison.b = describe(b);
    comparison.diagonal = unionDiagonal(comparison.a, comparison.b);
    comparison.samplesPerMesh = samples;
    comparison.aToB = measure(a, searchB, samples);
    comparison.bToA = measure(b, searchA, samples);
    comparison.hausdorffLower = std::max(comparison.aToB.max, comparison.bToA.max);
    return comparison;
}
