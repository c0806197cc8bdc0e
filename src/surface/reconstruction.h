// The figures reconstruction papers publish, each with one stated definition,
// computed from the exact surface distances of the area samples of both
// directions: A is the reconstruction, B the reference. Every mean is
// weighted as the area-sample statistics are (each sample by the area it
// stands for), summed in sample order on one thread.
#pragma once

#include <vector>

#include "geometry/mesh.h"
#include "surface/sampling.h"
#include "surface/surface_search.h"

// Each definition as the reports print it.
extern const char kAccuracyDefinition[];
extern const char kCompletenessDefinition[];
extern const char kChamferL1Definition[];
extern const char kChamferL2Definition[];
extern const char kNormalConsistencyDefinition[];
extern const char kPrecisionDefinition[];
extern const char kRecallDefinition[];
extern const char kFScoreDefinition[];

struct ThresholdFigures {
    double tau = 0;
    double precision = 0, recall = 0, fScore = 0;
};

struct ReconstructionFigures {
    double accuracy = 0;           // weighted mean of d(a, B) over A's samples
    double completeness = 0;       // weighted mean of d(b, A) over B's samples
    double chamferL1 = 0;          // (accuracy + completeness) / 2
    double chamferL2 = 0;          // (mean d(a, B)^2 + mean d(b, A)^2) / 2
    double normalConsistency = 0;  // (mean |n . n'| over A + over B) / 2
    std::vector<ThresholdFigures> thresholds;  // in the order given
};

// One direction: the samples of one mesh, their distances to the other, and
// |n . n'| per sample (normalAgreement).
struct SampledDirection {
    const AreaSamples& samples;
    const std::vector<double>& distances;
    const std::vector<double>& agreement;
};

// |n . n'| for each sample of `from`: n the unit normal of the face it lies
// on, n' that of its nearest triangle of `to`'s target, the face whose
// routine value equals the sample's distance (so it is exactly the triangle
// the distance was measured on); among ties, the lowest face number with a
// normal. A sample whose nearest faces all have zero area counts 0. Normals
// are unit vectors in double from the float corners. The same at any thread
// count.
std::vector<double> normalAgreement(const Mesh& from, const AreaSamples& samples,
                                    const std::vector<double>& distances,
                                    NearestSurfaceSearch& to);

// Both directions need at least one sample of positive weight. `taus` are
// absolute distances.
ReconstructionFigures reconstructionFigures(const SampledDirection& aToB,
                                            const SampledDirection& bToA,
                                            const std::vector<double>& taus);
