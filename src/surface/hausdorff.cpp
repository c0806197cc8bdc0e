#include "surface/hausdorff.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "surface/distance_bounds.h"
#include "surface/sampling.h"

namespace {

// Pieces of depth 40 are 2^-40 of their face: well inside what the rounding
// margins leave meaningful, and their barycentric coordinates, multiples of
// 2^-40, and every midpoint of two of them stay exact in double.
constexpr std::uint32_t kMaxDepth = 40;
constexpr std::uint32_t kNoHint = 0xffffffffu;

// A piece of face `face` of A: the triangle of its three corners, given by
// barycentric weights (u, v) of the face's second and third corners.
struct Piece {
    std::uint32_t face = 0;
    std::uint32_t depth = 0;
    double u[3] = {}, v[3] = {};
    Point3d p[3] = {};  // barycentricPoint of each corner
    double d[3] = {};   // the surface search's distance of each p
    // The triangle of B that gave the parent its bound, tried first: it
    // usually settles the child too, without a radius query.
    std::uint32_t hint = kNoHint;
};

struct Context {
    const Mesh& a;
    const Mesh& b;
    NearestSurfaceSearch& toB;
    double diameterB;   // triangleDiameterBound of B
    double pointError;  // barycentricPointError of A
};

double distanceSquaredOf(const Point3d& x, const Point3d& y)
{
    const double dx = x.x - y.x, dy = x.y - y.y, dz = x.z - y.z;
    return dx * dx + dy * dy + dz * dz;
}

// An upper bound on |x - y| for the doubles x, y: each difference rounds by
// ud, the squares and sums by 3 ud more, the root halves that and adds ud, so
// the computed length times 1 + 2^-50 (8 ud) covers it, and 2^-530 covers
// squares that underflow (at most sqrt(3 2^-1075) < 2^-536).
double lengthAbove(const Point3d& x, const Point3d& y)
{
    return std::sqrt(distanceSquaredOf(x, y)) * (1.0 + 0x1p-50) + 0x1p-530;
}

// Not below the supremum of d(x, B) over the real piece, whose corners are
// within e = pointError of the computed p_k.
//
// Lipschitz: for x in the piece and any corner x_k, d(x, B) <= d(x_k, B) +
// |x - x_k| <= d(p_k, B) + e + max_j |x_j - x_k| <= d(p_k, B) + max_j |p_j -
// p_k| + 3 e, and d(p_k, B) <= distanceAbove(d_k) for the triangle the
// search took its distance d_k from.
//
// Candidates: for any triangle t of B and x in the piece, d(x, B) <= d(x, t)
// <= max_k d(x_k, t) (convexity) <= max_k d(p_k, t) + e, and d(p_k, t) <=
// distanceAbove(fl(sqrt(D(p_k, t)))). Any set of triangles gives a valid
// bound; a triangle t with max_k d(p_k, t) below the Lipschitz bound has
// d(p_0, t) below it too, so the triangles within that radius of p_0 are
// the ones that can improve it.
//
// Once a bound is not above `lower` the piece is dropped whatever the rest
// would give, so the scan stops there.
// The largest routine value from the piece's corners to face f of B, or
// nothing above `best` (returned as soon as a corner exceeds it).
double cornerMaximum(const Context& c, const Piece& piece, std::uint32_t f, double best)
{
    const Face& face = c.b.faces[f];
    const Vector3 &ta = c.b.corner(face, 0), &tb = c.b.corner(face, 1), &tc = c.b.corner(face, 2);
    double m = 0.0;
    for (int k = 0; k < 3 && m < best; ++k)
        m = std::max(m, pointTriangleDistanceSquared(piece.p[k], ta, tb, tc));
    return m;
}

// `used` receives the triangle the bound came from (kNoHint for the
// Lipschitz bound).
double pieceUpper(const Context& c, const Piece& piece, double lower,
                  std::vector<std::uint32_t>& candidates, std::uint32_t& used)
{
    used = kNoHint;
    double lipschitz = HUGE_VAL;
    for (int k = 0; k < 3; ++k) {
        const double side = std::max(lengthAbove(piece.p[k], piece.p[(k + 1) % 3]),
                                     lengthAbove(piece.p[k], piece.p[(k + 2) % 3]));
        lipschitz = std::min(lipschitz, addUp(addUp(distanceAbove(piece.d[k], c.diameterB),
                                                    3.0 * c.pointError),
                                              side));
    }
    if (!(lipschitz > lower))
        return lipschitz;

    double best = HUGE_VAL;  // the least max_k D(p_k, t) so far
    double bound = HUGE_VAL;
    auto bounded = [&] {
        return addUp(distanceAbove(std::sqrt(best), c.diameterB), c.pointError);
    };
    if (piece.hint != kNoHint) {
        best = cornerMaximum(c, piece, piece.hint, HUGE_VAL);
        bound = bounded(), used = piece.hint;
        if (!(bound > lower))
            return std::min(lipschitz, bound);
    }
    c.toB.facesWithin(piece.p[0], lipschitz, candidates);
    for (std::uint32_t f : candidates) {
        const double m = cornerMaximum(c, piece, f, best);
        if (!(m < best))
            continue;
        best = m;
        bound = bounded(), used = f;
        if (!(bound > lower))
            break;
    }
    if (!(bound < lipschitz))
        used = kNoHint;
    return std::min(lipschitz, bound);
}

// Not above the real d(x, B) for a real point x of A within pointError of
// the computed point w (exactly w for a vertex), whose surface distance is
// dw. Every triangle T within distanceAbove(dw) of w is among the
// candidates (facesWithin), and the one the search measured dw on is such a
// triangle, so d(w, B) is the least dist(w, T) over the candidates, each at
// least distanceBelow; and d(x, B) >= d(w, B) - |x - w|.
double certifiedLower(const Context& c, const Point3d& w, double dw,
                      std::vector<std::uint32_t>& candidates)
{
    c.toB.facesWithin(w, distanceAbove(dw, c.diameterB), candidates);
    double least = HUGE_VAL;
    for (std::uint32_t f : candidates) {
        const Face& face = c.b.faces[f];
        least = std::min(least, distanceBelow(w, c.b.corner(face, 0), c.b.corner(face, 1),
                                              c.b.corner(face, 2)));
    }
    if (!(least < HUGE_VAL))
        return 0.0;  // cannot happen with a face within reach; stay sound regardless
    return subtractDown(least, c.pointError);
}

Piece child(const Context& c, const Piece& parent, const double (&u)[3], const double (&v)[3])
{
    Piece piece;
    piece.face = parent.face;
    piece.depth = parent.depth + 1;
    piece.hint = parent.hint;
    const Face& face = c.a.faces[parent.face];
    for (int k = 0; k < 3; ++k) {
        piece.u[k] = u[k], piece.v[k] = v[k];
        piece.p[k] = barycentricPoint(c.a.corner(face, 0), c.a.corner(face, 1),
                                      c.a.corner(face, 2), u[k], v[k]);
    }
    return piece;
}

} // namespace

double smallestHausdorffError(const Mesh& a, const Mesh& b)
{
    return (largestCoordinate(a) + largestCoordinate(b)) * 0x1p-40 + 0x1p-1000;
}

HausdorffInterval certifiedHausdorff(const Mesh& a, NearestSurfaceSearch& toB, double maxError)
{
    HausdorffInterval result;
    const Mesh& b = toB.target();
    if (a.vertices.empty())
        return result;
    if (b.faces.empty()) {
        result.lower = result.upper = result.witnessDistance = HUGE_VAL;
        result.witness = toPoint3d(a.vertices[0]);
        return result;
    }
    const Context c{a, b, toB, triangleDiameterBound(largestCoordinate(b)),
                    barycentricPointError(largestCoordinate(a))};
    toB.prepareFacesWithin();

    // Every vertex: the first lower bound, and the unreferenced ones' own
    // upper bounds (a vertex is exact, so distanceAbove alone covers it).
    std::vector<double> vertexDistance;
    toB.distances(vertexPoints(a), vertexDistance);
    result.points = vertexDistance.size();
    double lower = -1.0, upper = 0.0;
    Point3d witness{};
    for (std::size_t i = 0; i < vertexDistance.size(); ++i)
        if (vertexDistance[i] > lower)
            lower = vertexDistance[i], witness = toPoint3d(a.vertices[i]);
    {
        std::vector<bool> referenced(a.vertexCount(), false);
        for (const Face& face : a.faces)
            for (std::uint32_t index : face.vertices)
                referenced[index] = true;
        for (std::size_t i = 0; i < vertexDistance.size(); ++i)
            if (!referenced[i])
                upper = std::max(upper, distanceAbove(vertexDistance[i], c.diameterB));
    }

    std::vector<Piece> active(a.faceCount());
    for (std::size_t f = 0; f < a.faceCount(); ++f) {
        Piece& piece = active[f];
        piece.face = std::uint32_t(f);
        piece.u[1] = 1.0, piece.v[2] = 1.0;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t vertex = a.faces[f].vertices[std::size_t(k)];
            piece.p[k] = toPoint3d(a.vertices[vertex]);
            piece.d[k] = vertexDistance[vertex];
        }
    }

    // Pieces kept unsplit because their bound is within reach of the lower
    // one, with that bound.
    std::vector<Piece> kept;
    std::vector<double> keptUpper;
    // What certifying the lower bound may take off it, kept back from the
    // error budget; raised if the certification takes more.
    double reserve = c.pointError + smallestHausdorffError(a, b);
    std::vector<double> bounds, midDistance;
    std::vector<std::uint32_t> used;
    std::vector<Point3d> midPoints;
    std::vector<std::uint32_t> scratch;
    double certified = 0.0;
    for (;;) {
        while (!active.empty()) {
            bounds.resize(active.size());
            used.resize(active.size());
            const std::ptrdiff_t count = std::ptrdiff_t(active.size());
#pragma omp parallel
            {
                std::vector<std::uint32_t> candidates;
#pragma omp for schedule(dynamic, 16)
                for (std::ptrdiff_t i = 0; i < count; ++i)
                    bounds[std::size_t(i)] = pieceUpper(c, active[std::size_t(i)], lower,
                                                        candidates, used[std::size_t(i)]);
            }
            result.pieces += active.size();

            std::vector<Piece> split;
            const double target = lower + maxError - reserve;
            for (std::size_t i = 0; i < active.size(); ++i) {
                if (!(bounds[i] > lower)) {
                    upper = std::max(upper, bounds[i]);
                } else if (bounds[i] <= target || active[i].depth >= kMaxDepth) {
                    kept.push_back(active[i]);
                    keptUpper.push_back(bounds[i]);
                } else {
                    split.push_back(active[i]);
                    split.back().hint = used[i];
                }
            }

            // Each split piece's three edge midpoints, evaluated in one batch.
            midPoints.clear();
            std::vector<Piece> next;
            next.reserve(4 * split.size());
            for (const Piece& s : split) {
                const double mu[3] = {0.5 * (s.u[0] + s.u[1]), 0.5 * (s.u[1] + s.u[2]),
                                      0.5 * (s.u[2] + s.u[0])};
                const double mv[3] = {0.5 * (s.v[0] + s.v[1]), 0.5 * (s.v[1] + s.v[2]),
                                      0.5 * (s.v[2] + s.v[0])};
                // m0 = mid(0, 1), m1 = mid(1, 2), m2 = mid(2, 0).
                next.push_back(child(c, s, {s.u[0], mu[0], mu[2]}, {s.v[0], mv[0], mv[2]}));
                next.push_back(child(c, s, {mu[0], s.u[1], mu[1]}, {mv[0], s.v[1], mv[1]}));
                next.push_back(child(c, s, {mu[2], mu[1], s.u[2]}, {mv[2], mv[1], s.v[2]}));
                next.push_back(child(c, s, {mu[0], mu[1], mu[2]}, {mv[0], mv[1], mv[2]}));
                const Piece& middle = next.back();
                for (int k = 0; k < 3; ++k)
                    midPoints.push_back(middle.p[k]);
            }
            toB.distances(midPoints, midDistance);
            result.points += midPoints.size();
            for (std::size_t s = 0; s < split.size(); ++s) {
                const double* m = &midDistance[3 * s];
                const Piece& parent = split[s];
                const double d[4][3] = {{parent.d[0], m[0], m[2]},
                                        {m[0], parent.d[1], m[1]},
                                        {m[2], m[1], parent.d[2]},
                                        {m[0], m[1], m[2]}};
                for (int k = 0; k < 4; ++k)
                    for (int j = 0; j < 3; ++j)
                        next[4 * s + std::size_t(k)].d[j] = d[k][j];
                for (int j = 0; j < 3; ++j)
                    if (m[j] > lower)
                        lower = m[j], witness = midPoints[3 * s + std::size_t(j)];
            }
            active.swap(next);
        }

        // The witness may be a vertex (exact) or a computed point; the
        // certification subtracts pointError either way.
        double witnessDistance = lower;
        certified = certifiedLower(c, witness, witnessDistance, scratch);
        result.witness = witness;
        result.witnessDistance = witnessDistance;
        double all = upper;
        for (double u : keptUpper)
            all = std::max(all, u);
        if (all - certified <= maxError)
            break;
        // The certification took more than the reserve: split again what is
        // now out of reach.
        reserve = std::max(2.0 * reserve, 2.0 * (lower - certified));
        std::vector<Piece> stay;
        std::vector<double> stayUpper;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (keptUpper[i] > certified + maxError - reserve && kept[i].depth < kMaxDepth)
                active.push_back(kept[i]);
            else
                stay.push_back(kept[i]), stayUpper.push_back(keptUpper[i]);
        }
        kept.swap(stay);
        keptUpper.swap(stayUpper);
        if (active.empty())
            break;  // nothing left to split: report the interval reached
    }

    for (double u : keptUpper)
        upper = std::max(upper, u);
    result.lower = certified;
    result.upper = upper;
    result.converged = upper - certified <= maxError;
    return result;
}
