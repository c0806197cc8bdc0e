// The evaluation protocol of the Occupancy Networks papers: both meshes in
// one normalised frame, random area-uniform point samples, and distances
// from each sample to the nearest sample point of the other mesh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "surface/reconstruction.h"

constexpr std::size_t kOnetSampleCount = 100000;
extern const double kOnetTaus[3];  // 0.01, 0.015, 0.02 in the normalised frame

// The frame: B's (the reference's) bounding box moved so that its centre is
// the origin and scaled so that its longest side is 1. A is mapped by the
// same transform, so an offset or a scale error of the reconstruction counts.
struct OnetFrame {
    double centre[3] = {0, 0, 0};
    double scale = 1;  // 1 / longest side of B's box (1 when that side is 0)
};
OnetFrame onetFrame(const Mesh& reference);

// The random source: std::mt19937_64 seeded with `seed`; each uniform number
// in [0, 1) is (next 64-bit word >> 11) * 2^-53. A's samples are drawn
// first, then B's from the same generator. For each point: u picks a face
// by area (the first face whose running area sum exceeds u * total area,
// or the last face with area when u * total rounds up to the total;
// sums in double in face order), then r1, r2 place it at barycentric
// (1 - sqrt(r1), sqrt(r1) (1 - r2), sqrt(r1) r2). Points are in the frame.
// Every sample weighs 1. The draw runs on one thread.
struct OnetSamplePair {
    AreaSamples a, b;
};
OnetSamplePair onetSamples(const Mesh& a, const Mesh& b, std::size_t count,
                           std::uint64_t seed);

// For each query point, the exact Euclidean distance in double to the
// nearest point of `targets` (sqrt of dx*dx + dy*dy + dz*dz) and the index
// of one nearest point, through a k-d tree; targets must not be empty.
// The same at any thread count.
void nearestPointDistances(const std::vector<Point3d>& queries,
                           const std::vector<Point3d>& targets, std::vector<double>& distances,
                           std::vector<std::uint32_t>& nearest);

// The reconstruction figures under the protocol: A the reconstruction, B the
// reference, `seed` for the draw, F-score at kOnetTaus. Normal consistency
// uses the normal of the face each sample came from and that of the face
// its nearest sample of the other mesh came from. Both meshes need area.
ReconstructionFigures onetFigures(const Mesh& a, const Mesh& b, std::uint64_t seed,
                                  std::size_t count = kOnetSampleCount);

// Each definition under the protocol as the reports print it.
extern const char kOnetFrameDefinition[];
extern const char kOnetSamplingDefinition[];
extern const char kOnetAccuracyDefinition[];
extern const char kOnetCompletenessDefinition[];
extern const char kOnetChamferL1Definition[];
extern const char kOnetChamferL2Definition[];
extern const char kOnetNormalConsistencyDefinition[];
extern const char kOnetPrecisionDefinition[];
extern const char kOnetRecallDefinition[];
extern const char kOnetFScoreDefinition[];
