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

// Leaves the area samples in `area` for the figures that need their points
// (their weights moved into the result unless `keep`), and the vertices'
// nearest faces in the result when `faces`.
SurfaceDirection measure(const Mesh& from, NearestSurfaceSearch& to, std::size_t samples,
                         AreaSamples& area, bool keep, bool faces)
{
    SurfaceDirection direction;
    std::vector<double>& distances = direction.vertexDistances;
    to.distances(vertexPoints(from), distances, faces ? &direction.vertexFaces : nullptr);
    direction.vertices = vertexStatistics(distances);
    direction.unreferenced = countUnreferencedVertices(from);
    direction.meshArea = meshArea(from);
    direction.max = direction.vertices.max;

    area = sampleSurface(from, samples);
    to.distances(area.points, area.searchOrder, direction.sampleDistances, QuerySpacing::dense);
    direction.area = weightedStatistics(direction.sampleDistances, area.weights);
    direction.sampleWeights = keep ? area.weights : std::move(area.weights);
    if (direction.area.count > 0)
        direction.max = std::max(direction.max, direction.area.max);
    return direction;
}

} // namespace

double surfaceDiagonal(const Mesh& a, const Mesh& b) { return unionDiagonal(describe(a), describe(b)); }

SurfaceComparison compareSurfaces(const Mesh& a, const Mesh& b, std::size_t samples,
                                  const SurfaceOptions& options)
{
    NearestSurfaceSearch searchA(a), searchB(b);
    return compareSurfaces(searchA, searchB, samples, options);
}

SurfaceComparison compareSurfaces(NearestSurfaceSearch& searchA, NearestSurfaceSearch& searchB,
                                  std::size_t samples, const SurfaceOptions& options)
{
    const Mesh& a = searchA.target();
    const Mesh& b = searchB.target();
    SurfaceComparison comparison;
    comparison.a = describe(a);
    comparison.b = describe(b);
    comparison.diagonal = unionDiagonal(comparison.a, comparison.b);
    comparison.samplesPerMesh = samples;
    // What only the reconstruction figures and the certified interval read
    // again is freed once the first direction is done, so that the second
    // reuses its memory instead of writing fresh pages (costly on virtual
    // machines, README: Memory). B's index only serves the first direction
    // here; A's is kept, as a batch run compares it with every candidate.
    const bool samplesNeeded = options.reconstruction;
    const bool certify = options.hausdorffError > 0.0;
    const bool indexBNeeded = options.reconstruction || certify;
    AreaSamples samplesA, samplesB;
    comparison.aToB = measure(a, searchB, samples, samplesA, samplesNeeded, certify);
    if (!samplesNeeded)
        samplesA = AreaSamples{};
    if (!indexBNeeded)
        searchB.release();
    comparison.bToA = measure(b, searchA, samples, samplesB, samplesNeeded, certify);
    const std::vector<double>& distancesA = comparison.aToB.sampleDistances;
    const std::vector<double>& distancesB = comparison.bToA.sampleDistances;
    comparison.hausdorffLower = std::max(comparison.aToB.max, comparison.bToA.max);

    if (options.reconstruction) {
        const std::vector<double> agreementA = normalAgreement(a, samplesA, distancesA, searchB);
        const std::vector<double> agreementB = normalAgreement(b, samplesB, distancesB, searchA);
        comparison.reconstruction =
            reconstructionFigures({samplesA, distancesA, agreementA},
                                  {samplesB, distancesB, agreementB}, options.taus);
    }
    if (certify) {
        SurfaceComparison::Certified certified;
        certified.maxError = options.hausdorffError;
        // The vertices of both directions are measured already.
        certified.aToB = certifiedHausdorff(a, searchB, options.hausdorffError,
                                            &comparison.aToB.vertexDistances,
                                            &comparison.aToB.vertexFaces);
        certified.bToA = certifiedHausdorff(b, searchA, options.hausdorffError,
                                            &comparison.bToA.vertexDistances,
                                            &comparison.bToA.vertexFaces);
        certified.lower = std::max(certified.aToB.lower, certified.bToA.lower);
        certified.upper = std::max(certified.aToB.upper, certified.bToA.upper);
        comparison.certified = certified;
    }
    return comparison;
}
