// Two meshes compared by exact point-to-surface distance, in the frame they
// were loaded in: every vertex and a set of area samples of each mesh against
// the surface of the other, and the figures of both directions, computed
// apart from any printing so that the text and JSON reports read one result.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "geometry/mesh.h"
#include "surface/hausdorff.h"
#include "surface/reconstruction.h"
#include "surface/statistics.h"
#include "surface/surface_search.h"

// What the reports say about one input mesh.
struct SurfaceMeshInfo {
    std::size_t vertices = 0;
    std::size_t faces = 0;
    double area = 0;          // meshArea
    double bboxMin[3] = {};   // the loaded mesh's box, corners converted to double
    double bboxMax[3] = {};
};

// One direction: the points of one mesh against the surface of the other.
struct SurfaceDirection {
    VertexStatistics vertices;       // every vertex, referenced or not
    std::size_t unreferenced = 0;    // vertices that no face refers to
    WeightedStatistics area;         // area samples; count 0 with --samples 0
    double meshArea = 0;             // of the mesh measured from (the weights
                                     // add up to it, up to rounding)
    double max = 0;                  // the larger of the vertex and sample maxima
    // What the figures are made of, for the exports: each vertex's distance
    // in vertex order, each area sample's distance and weight in sample order.
    std::vector<double> vertexDistances;
    std::vector<double> sampleDistances;
    std::vector<double> sampleWeights;
    // Each vertex's nearest face, kept only for the certified interval.
    std::vector<std::uint32_t> vertexFaces;
};

struct SurfaceComparison {
    SurfaceMeshInfo a, b;
    double diagonal = 0;  // of the union of both boxes, in double
    SurfaceDirection aToB, bToA;
    // max(aToB.max, bToA.max): the Hausdorff distance is at least this; it is
    // reached only if the farthest point of a surface happens to be sampled.
    double hausdorffLower = 0;
    std::size_t samplesPerMesh = 0;  // area samples placed on each mesh

    // With SurfaceOptions::hausdorffError: the certified intervals of both
    // directions and their maximum, the symmetric interval.
    struct Certified {
        double maxError = 0;  // E, absolute
        HausdorffInterval aToB, bToA;
        double lower = 0, upper = 0;
    };
    std::optional<Certified> certified;
    // With SurfaceOptions::reconstruction.
    std::optional<ReconstructionFigures> reconstruction;
    // The same figures under the Occupancy Networks protocol (--protocol
    // onet), in its normalised frame, with the seed they were drawn with.
    std::optional<ReconstructionFigures> onet;
    std::uint64_t onetSeed = 0;
};

// What compareSurfaces computes beyond the default figures.
struct SurfaceOptions {
    double hausdorffError = 0;      // > 0: the certified interval, U - L <= this
    bool reconstruction = false;    // the reconstruction figures (needs samples)
    std::vector<double> taus;       // their thresholds, absolute
};

// The diagonal of the union of both bounding boxes, as the report gives it.
double surfaceDiagonal(const Mesh& a, const Mesh& b);

// Both meshes must have at least one face and a positive area. `samples` area
// samples are placed on each mesh (sampleSurface), 0 for vertices only.
// Every figure is the same at any thread count.
SurfaceComparison compareSurfaces(const Mesh& a, const Mesh& b, std::size_t samples,
                                  const SurfaceOptions& options = {});
// Same, with the searches over A and B given: each keeps its index, so a
// reference compared with many candidates is indexed once.
SurfaceComparison compareSurfaces(NearestSurfaceSearch& a, NearestSurfaceSearch& b,
                                  std::size_t samples, const SurfaceOptions& options = {});
