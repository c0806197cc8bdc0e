#include "surface/reconstruction.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "surface/distance_bounds.h"

const char kAccuracyDefinition[] =
    "mean over A's area samples of d(a, B), weighted by area";
const char kCompletenessDefinition[] =
    "mean over B's area samples of d(b, A), weighted by area";
const char kChamferL1Definition[] = "(accuracy + completeness) / 2";
const char kChamferL2Definition[] =
    "(mean over A's samples of d(a, B)^2 + mean over B's samples of d(b, A)^2) / 2, "
    "weighted by area";
const char kNormalConsistencyDefinition[] =
    "(mean over A's samples of |n . n'| + the same over B's samples) / 2, n the unit normal "
    "of the sample's face, n' that of the nearest triangle of the other mesh, weighted by "
    "area";
const char kPrecisionDefinition[] = "share of A's area samples, by weight, with d(a, B) <= tau";
const char kRecallDefinition[] = "share of B's area samples, by weight, with d(b, A) <= tau";
const char kFScoreDefinition[] =
    "2 precision recall / (precision + recall), 0 when both are 0";

namespace {

bool isZero(const Point3d& n) { return n.x == 0.0 && n.y == 0.0 && n.z == 0.0; }

double weightedMean(const std::vector<double>& values, const std::vector<double>& weights)
{
    double sum = 0.0, total = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i)
        sum += weights[i] * values[i], total += weights[i];
    return sum / total;
}

double weightedShareWithin(const std::vector<double>& values, const std::vector<double>& weights,
                           double tau)
{
    double within = 0.0, total = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        total += weights[i];
        if (values[i] <= tau)
            within += weights[i];
    }
    return within / total;
}

} // namespace

std::vector<double> normalAgreement(const Mesh& from, const AreaSamples& samples,
                                    const std::vector<double>& distances,
                                    NearestSurfaceSearch& to)
{
    const Mesh& target = to.target();
    to.prepareFacesWithin();
    const double diameter = triangleDiameterBound(largestCoordinate(target));
    std::vector<double> agreement(samples.points.size(), 0.0);
    const std::ptrdiff_t count = std::ptrdiff_t(samples.points.size());
#pragma omp parallel
    {
        std::vector<std::uint32_t> candidates;
#pragma omp for schedule(dynamic, 256)
        for (std::ptrdiff_t si = 0; si < count; ++si) {
            const std::size_t i = std::size_t(si);
            const Point3d& p = samples.points[i];
            // Every triangle whose routine value equals the minimum is within
            // distanceAbove of the distance (distance_bounds.h), so among
            // these candidates; their least value is the minimum itself.
            to.facesWithin(p, distanceAbove(distances[i], diameter), candidates);
            double best = HUGE_VAL;
            std::uint32_t nearest = 0;
            bool found = false;
            for (std::uint32_t f : candidates) {
                const Face& face = target.faces[f];
                const double d = pointTriangleDistanceSquared(p, target.corner(face, 0),
                                                              target.corner(face, 1),
                                                              target.corner(face, 2));
                if (d > best)
                    continue;
                const bool hasNormal = !isZero(faceUnitNormal(target, face));
                if (d < best) {
                    best = d;
                    found = hasNormal, nearest = f;
                } else if (hasNormal && (!found || f < nearest)) {
                    found = true, nearest = f;
                }
            }
            if (!found)
                continue;
            const Point3d n = faceUnitNormal(from, from.faces[samples.faces[i]]);
            const Point3d m = faceUnitNormal(target, target.faces[nearest]);
            agreement[i] = std::fabs(n.x * m.x + n.y * m.y + n.z * m.z);
        }
    }
    return agreement;
}

ReconstructionFigures reconstructionFigures(const SampledDirection& aToB,
                                            const SampledDirection& bToA,
                                            const std::vector<double>& taus)
{
    ReconstructionFigures r;
    const std::vector<double>& wa = aToB.samples.weights;
    const std::vector<double>& wb = bToA.samples.weights;
    r.accuracy = weightedMean(aToB.distances, wa);
    r.completeness = weightedMean(bToA.distances, wb);
    r.chamferL1 = 0.5 * (r.accuracy + r.completeness);
    std::vector<double> squares(aToB.distances.size());
    for (std::size_t i = 0; i < squares.size(); ++i)
        squares[i] = aToB.distances[i] * aToB.distances[i];
    const double squaredA = weightedMean(squares, wa);
    squares.resize(bToA.distances.size());
    for (std::size_t i = 0; i < squares.size(); ++i)
        squares[i] = bToA.distances[i] * bToA.distances[i];
    r.chamferL2 = 0.5 * (squaredA + weightedMean(squares, wb));
    r.normalConsistency =
        0.5 * (weightedMean(aToB.agreement, wa) + weightedMean(bToA.agreement, wb));
    for (double tau : taus) {
        ThresholdFigures t;
        t.tau = tau;
        t.precision = weightedShareWithin(aToB.distances, wa, tau);
        t.recall = weightedShareWithin(bToA.distances, wb, tau);
        const double sum = t.precision + t.recall;
        t.fScore = sum > 0.0 ? 2.0 * t.precision * t.recall / sum : 0.0;
        r.thresholds.push_back(t);
    }
    return r;
}
