#include "surface/sampling.h"

#include <cmath>

#include "query/morton.h"

namespace {

// The base-2 radical inverse (van der Corput) of i: its bits mirrored about
// the binary point. Exact in double for i < 2^53.
double radicalInverse2(std::size_t i)
{
    double result = 0.0, digit = 0.5;
    for (; i != 0; i >>= 1, digit *= 0.5)
        if (i & 1)
            result += digit;
    return result;
}

// For i < k the radical inverses are multiples of 1/2^m, with 2^m the
// least power of two >= k; adding half of that step centres them in their
// cells, strictly inside (0, 1).
double halfRadicalCell(std::size_t k)
{
    double step = 1.0;
    for (std::size_t cells = 1; cells < k; cells <<= 1)
        step *= 0.5;
    return 0.5 * step;
}

} // namespace

std::vector<Point3d> vertexPoints(const Mesh& mesh)
{
    std::vector<Point3d> points;
    points.reserve(mesh.vertexCount());
    for (const Vector3& v : mesh.vertices)
        points.push_back(toPoint3d(v));
    return points;
}

std::size_t countUnreferencedVertices(const Mesh& mesh)
{
    std::vector<bool> used(mesh.vertexCount(), false);
    for (const Face& face : mesh.faces)
        for (std::uint32_t index : face.vertices)
            used[index] = true;
    std::size_t count = 0;
    for (bool u : used)
        count += !u;
    return count;
}

namespace {

// cross(b - a, c - a) in double from the float corners.
Point3d faceCross(const Mesh& mesh, const Face& face)
{
    const Vector3 &a = mesh.corner(face, 0), &b = mesh.corner(face, 1), &c = mesh.corner(face, 2);
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    return {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
}

double length(const Point3d& n) { return std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z); }

} // namespace

double faceArea(const Mesh& mesh, const Face& face)
{
    return 0.5 * length(faceCross(mesh, face));
}

Point3d faceUnitNormal(const Mesh& mesh, const Face& face)
{
    const Point3d n = faceCross(mesh, face);
    const double l = length(n);
    if (!(l > 0.0) || !std::isfinite(l))
        return {0.0, 0.0, 0.0};
    return {n.x / l, n.y / l, n.z / l};
}

double meshArea(const Mesh& mesh)
{
    double area = 0.0;
    for (const Face& face : mesh.faces)
        area += faceArea(mesh, face);
    return area;
}

std::vector<std::size_t> sampleCounts(const Mesh& mesh, std::size_t total)
{
    std::vector<std::size_t> counts(mesh.faceCount(), 0);
    const double area = meshArea(mesh);
    if (total == 0 || !(area > 0.0))
        return counts;
    std::size_t assigned = 0, lastWithArea = 0;
    double carried = 0.0;
    for (std::size_t f = 0; f < mesh.faceCount(); ++f) {
        const double faceShare = faceArea(mesh, mesh.faces[f]) / area * double(total);
        if (!(faceShare > 0.0))
            continue;  // a degenerate face: no sample, nothing carried
        lastWithArea = f;
        const double wanted = faceShare + carried;
        double rounded = std::floor(wanted + 0.5);
        if (rounded < 0.0)
            rounded = 0.0;
        std::size_t count = std::size_t(rounded);
        if (count > total - assigned)
            count = total - assigned;
        counts[f] = count;
        assigned += count;
        carried = wanted - double(count);
    }
    // The shares add up to `total` only up to rounding, so the carried
    // remainder may end just short of a whole sample.
    counts[lastWithArea] += total - assigned;
    return counts;
}

AreaSamples sampleSurface(const Mesh& mesh, std::size_t total)
{
    const std::vector<std::size_t> counts = sampleCounts(mesh, total);
    const std::size_t faceCount = mesh.faceCount();

    // Sequential pass: where each face's points start and what they weigh.
    std::vector<std::size_t> first(faceCount + 1, 0);
    std::vector<double> weight(faceCount, 0.0);
    double pending = 0.0;  // area of the faces since the last sampled one
    std::size_t lastSampled = faceCount;
    for (std::size_t f = 0; f < faceCount; ++f) {
        first[f + 1] = first[f] + counts[f];
        pending += faceArea(mesh, mesh.faces[f]);
        if (counts[f] > 0) {
            weight[f] = pending / double(counts[f]);
            pending = 0.0;
            lastSampled = f;
        }
    }
    if (lastSampled < faceCount && pending > 0.0)
        weight[lastSampled] += pending / double(counts[lastSampled]);

    AreaSamples samples;
    samples.points.resize(first[faceCount]);
    samples.weights.resize(first[faceCount]);
    samples.faces.resize(first[faceCount]);
    // Each face writes only its own range, so the result is the same at any
    // thread count.
    const std::ptrdiff_t faces = std::ptrdiff_t(faceCount);
#pragma omp parallel for schedule(dynamic, 64)
    for (std::ptrdiff_t fi = 0; fi < faces; ++fi) {
        const std::size_t f = std::size_t(fi);
        const std::size_t k = counts[f];
        const Face& face = mesh.faces[f];
        const Vector3 &a = mesh.corner(face, 0), &b = mesh.corner(face, 1), &c = mesh.corner(face, 2);
        const double halfCell = halfRadicalCell(k);
        for (std::size_t i = 0; i < k; ++i) {
            const double u = (double(i) + 0.5) / double(k);
            const double v = radicalInverse2(i) + halfCell;
            const double s = std::sqrt(u);
            const double wa = 1.0 - s, wb = s * (1.0 - v), wc = s * v;
            const std::size_t j = first[f] + i;
            samples.points[j] = {wa * a.x + wb * b.x + wc * c.x, wa * a.y + wb * b.y + wc * c.y,
                                 wa * a.z + wb * b.z + wc * c.z};
            samples.weights[j] = weight[f];
            samples.faces[j] = std::uint32_t(f);
        }
    }
    samples.searchOrder.reserve(samples.points.size());
    for (std::uint32_t f : faceMortonOrder(mesh))
        for (std::size_t j = first[f]; j < first[f + 1]; ++j)
            samples.searchOrder.push_back(std::uint32_t(j));
    return samples;
}

std::size_t defaultSampleCount(const Mesh& a, const Mesh& b)
{
    return 10 * (a.faceCount() > b.faceCount() ? a.faceCount() : b.faceCount());
}
