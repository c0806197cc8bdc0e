#include "surface/onet.h"

#include <algorithm>
#include <cmath>
#include <random>

#include <nanoflann.hpp>

#include "surface/sampling.h"

const double kOnetTaus[3] = {0.01, 0.015, 0.02};

namespace {

// A uniform number in [0, 1) from the top 53 bits of one 64-bit word: the
// same on every standard library, unlike std::uniform_real_distribution.
double uniform(std::mt19937_64& random) { return double(random() >> 11) * 0x1.0p-53; }

Point3d inFrame(const OnetFrame& frame, const Vector3& v)
{
    return {(double(v.x) - frame.centre[0]) * frame.scale,
            (double(v.y) - frame.centre[1]) * frame.scale,
            (double(v.z) - frame.centre[2]) * frame.scale};
}

AreaSamples draw(const Mesh& mesh, const OnetFrame& frame, std::size_t count,
                 std::mt19937_64& random)
{
    std::vector<double> running(mesh.faceCount());
    double total = 0;
    std::size_t lastWithArea = 0;
    for (std::size_t f = 0; f < mesh.faceCount(); ++f) {
        const double area = faceArea(mesh, mesh.faces[f]);
        running[f] = total += area;
        if (area > 0.0)
            lastWithArea = f;
    }
    AreaSamples samples;
    samples.points.reserve(count);
    samples.weights.assign(count, 1.0);
    samples.faces.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double target = uniform(random) * total;
        std::size_t f = std::size_t(std::upper_bound(running.begin(), running.end(), target) -
                                    running.begin());
        // u * total can round up to the total; zero-area faces are never drawn.
        f = std::min(f, lastWithArea);
        const double s = std::sqrt(uniform(random)), r2 = uniform(random);
        const Face& face = mesh.faces[f];
        const Point3d a = inFrame(frame, mesh.corner(face, 0));
        const Point3d b = inFrame(frame, mesh.corner(face, 1));
        const Point3d c = inFrame(frame, mesh.corner(face, 2));
        const double wa = 1.0 - s, wb = s * (1.0 - r2), wc = s * r2;
        samples.points.push_back({wa * a.x + wb * b.x + wc * c.x, wa * a.y + wb * b.y + wc * c.y,
                                  wa * a.z + wb * b.z + wc * c.z});
        samples.faces.push_back(std::uint32_t(f));
    }
    return samples;
}

// The point set as nanoflann reads it.
struct Cloud {
    const std::vector<Point3d>& points;
    std::size_t kdtree_get_point_count() const { return points.size(); }
    double kdtree_get_pt(std::size_t i, std::size_t dim) const
    {
        const Point3d& p = points[i];
        return dim == 0 ? p.x : dim == 1 ? p.y : p.z;
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const { return false; }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>,
                                                 Cloud, 3, std::uint32_t>;

std::vector<double> agreement(const Mesh& from, const AreaSamples& own, const Mesh& to,
                              const AreaSamples& other, const std::vector<std::uint32_t>& nearest)
{
    std::vector<double> result(own.points.size());
    for (std::size_t i = 0; i < result.size(); ++i) {
        const Point3d n = faceUnitNormal(from, from.faces[own.faces[i]]);
        const Point3d m = faceUnitNormal(to, to.faces[other.faces[nearest[i]]]);
        result[i] = std::fabs(n.x * m.x + n.y * m.y + n.z * m.z);
    }
    return result;
}

} // namespace

OnetFrame onetFrame(const Mesh& reference)
{
    OnetFrame frame;
    const double low[3] = {reference.bboxMin.x, reference.bboxMin.y, reference.bboxMin.z};
    const double high[3] = {reference.bboxMax.x, reference.bboxMax.y, reference.bboxMax.z};
    double longest = 0;
    for (int k = 0; k < 3; ++k) {
        frame.centre[k] = 0.5 * (low[k] + high[k]);
        longest = std::max(longest, high[k] - low[k]);
    }
    frame.scale = longest > 0.0 ? 1.0 / longest : 1.0;
    return frame;
}

OnetSamplePair onetSamples(const Mesh& a, const Mesh& b, std::size_t count, std::uint64_t seed)
{
    const OnetFrame frame = onetFrame(b);
    std::mt19937_64 random(seed);
    OnetSamplePair pair;
    pair.a = draw(a, frame, count, random);
    pair.b = draw(b, frame, count, random);
    return pair;
}

void nearestPointDistances(const std::vector<Point3d>& queries,
                           const std::vector<Point3d>& targets, std::vector<double>& distances,
                           std::vector<std::uint32_t>& nearest)
{
    const Cloud cloud{targets};
    Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    tree.buildIndex();
    distances.assign(queries.size(), 0.0);
    nearest.assign(queries.size(), 0);
    const std::ptrdiff_t count = std::ptrdiff_t(queries.size());
#pragma omp parallel for schedule(dynamic, 1024)
    for (std::ptrdiff_t si = 0; si < count; ++si) {
        const std::size_t i = std::size_t(si);
        const Point3d& p = queries[i];
        const double query[3] = {p.x, p.y, p.z};
        std::uint32_t index = 0;
        double squared = 0;
        tree.knnSearch(query, 1, &index, &squared);
        // The distance is recomputed from the point found, so it is the same
        // expression as a plain scan's whichever of tied points the tree
        // returns.
        const Point3d& q = targets[index];
        const double dx = p.x - q.x, dy = p.y - q.y, dz = p.z - q.z;
        distances[i] = std::sqrt(dx * dx + dy * dy + dz * dz);
        nearest[i] = index;
    }
}

ReconstructionFigures onetFigures(const Mesh& a, const Mesh& b, std::uint64_t seed,
                                  std::size_t count)
{
    const OnetSamplePair samples = onetSamples(a, b, count, seed);
    std::vector<double> dA, dB;
    std::vector<std::uint32_t> nA, nB;
    nearestPointDistances(samples.a.points, samples.b.points, dA, nA);
    nearestPointDistances(samples.b.points, samples.a.points, dB, nB);
    const std::vector<double> gA = agreement(a, samples.a, b, samples.b, nA);
    const std::vector<double> gB = agreement(b, samples.b, a, samples.a, nB);
    return reconstructionFigures({samples.a, dA, gA}, {samples.b, dB, gB},
                                 std::vector<double>(std::begin(kOnetTaus), std::end(kOnetTaus)));
}

const char kOnetFrameDefinition[] =
    "both meshes moved and scaled by one transform: the centre of B's bounding box to the "
    "origin, B's longest box side to 1";
const char kOnetSamplingDefinition[] =
    "100000 area-uniform random points per mesh, std::mt19937_64 seeded with the seed, A's "
    "points drawn first, then B's";
const char kOnetAccuracyDefinition[] =
    "mean over A's points of the distance to the nearest point of B's sample";
const char kOnetCompletenessDefinition[] =
    "mean over B's points of the distance to the nearest point of A's sample";
const char kOnetChamferL1Definition[] = "(accuracy + completeness) / 2";
const char kOnetChamferL2Definition[] =
    "(mean of squared point-to-point distances A->B + the same B->A) / 2";
const char kOnetNormalConsistencyDefinition[] =
    "(mean over A's points of |n . n'| + the same over B's) / 2, n the normal of the face a "
    "point was drawn on, n' that of the face its nearest point of the other sample was drawn on";
const char kOnetPrecisionDefinition[] =
    "share of A's points within tau of the nearest point of B's sample";
const char kOnetRecallDefinition[] =
    "share of B's points within tau of the nearest point of A's sample";
const char kOnetFScoreDefinition[] = "2 precision recall / (precision + recall), 0 when both are 0";
