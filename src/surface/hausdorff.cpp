#include "surface/hausdorff.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <omp.h>

#include "geometry/edge_neighbours.h"
#include "geometry/fill_later_vector.h"
#include "query/morton.h"
#include "query/tasks.h"
#include "surface/distance_bounds.h"
#include "surface/fan_gap.h"
#include "surface/surface_distance.h"

namespace {

// Pieces of depth 40 are 2^-40 of their face: well inside what the rounding
// margins leave meaningful, and their barycentric coordinates, multiples of
// 2^-40, and every midpoint of two of them stay exact in double.
constexpr std::uint32_t kMaxDepth = 40;
// No triangle of B to try first (the search's own "no face").
constexpr std::uint32_t kNoHint = kNoFace;

// A piece of face `face` of A: the triangle of its three corners, given by
// barycentric weights (u, v) of the face's second and third corners.
// Plain data, with no initialisers: a level's children are written in
// parallel into an array that is not cleared first. The corners' points are
// not stored but recomputed, bit for bit, where they are needed
// (cornerPoints): where A lies in B's plane nearly every piece is kept,
// millions of them, and the points were almost half of each.
struct Piece {
    std::uint32_t face;
    std::uint32_t depth;
    double u[3], v[3];
    double d[3];  // the surface search's distance of each corner point
    // The triangle of B that gave the parent its bound, tried first: it
    // usually settles the child too, without a radius query.
    std::uint32_t hint;
};
using Pieces = FillLaterVector<Piece>;

// A piece's corner points: the face's own corners at depth 0 (the first
// level's pieces), else barycentricPoint of each (u_k, v_k).
struct CornerPoints {
    Point3d p[3];
};

// B's edge neighbours, built the first time a piece asks for them (most
// runs settle every piece on single faces and never do), and the fan gap of
// each of its points, computed the first time it is needed. Two threads may
// compute the same gap at once; they store the same value.
class LazyNeighbours {
public:
    explicit LazyNeighbours(const Mesh& mesh) : mesh_(mesh) {}
    const EdgeNeighbours& get()
    {
        std::call_once(once_, [&] {
            built_ = std::make_unique<EdgeNeighbours>(mesh_);
            const std::uint32_t positions = built_->positionCount();
            fanGaps_ = std::make_unique<std::atomic<double>[]>(positions);
            for (std::uint32_t p = 0; p < positions; ++p)
                fanGaps_[p].store(kNotYet, std::memory_order_relaxed);
        });
        return *built_;
    }
    // fanGapAbove of `position`.
    double fanGap(std::uint32_t position)
    {
        const EdgeNeighbours& neighbours = get();
        double gap = fanGaps_[position].load(std::memory_order_relaxed);
        if (gap == kNotYet) {
            gap = fanGapAbove(mesh_, neighbours, position);
            fanGaps_[position].store(gap, std::memory_order_relaxed);
        }
        return gap;
    }

private:
    static constexpr double kNotYet = -1.0;  // a gap is never negative
    const Mesh& mesh_;
    std::once_flag once_;
    std::unique_ptr<EdgeNeighbours> built_;
    std::unique_ptr<std::atomic<double>[]> fanGaps_;
};

struct Context {
    const Mesh& a;
    const Mesh& b;
    NearestSurfaceSearch& toB;
    double diameterB;   // triangleDiameterBound of B
    double pointError;  // barycentricPointError of A
    LazyNeighbours& neighboursOfB;
    // The search's distance and face of each vertex of A, when the caller
    // has them; else null.
    const std::vector<double>* vertexDistances;
    const std::vector<std::uint32_t>* vertexFaces;
    // The face of B nearest each vertex of A, once the vertex is measured
    // (kNoHint before): what a face of A tries first.
    const std::vector<std::uint32_t>& nearestFaces;
};

CornerPoints cornerPoints(const Mesh& a, const Piece& piece)
{
    CornerPoints corners;
    const Face& face = a.faces[piece.face];
    for (int k = 0; k < 3; ++k)
        corners.p[k] = piece.depth == 0
                           ? toPoint3d(a.corner(face, k))
                           : barycentricPoint(a.corner(face, 0), a.corner(face, 1),
                                              a.corner(face, 2), piece.u[k], piece.v[k]);
    return corners;
}

double distanceSquaredOf(const Point3d& x, const Point3d& y)
{
    const double dx = x.x - y.x, dy = x.y - y.y, dz = x.z - y.z;
    return dx * dx + dy * dy + dz * dz;
}

// The mean of a piece's corner points.
Point3d centreOf(const CornerPoints& corners)
{
    return {(corners.p[0].x + corners.p[1].x + corners.p[2].x) / 3,
            (corners.p[0].y + corners.p[1].y + corners.p[2].y) / 3,
            (corners.p[0].z + corners.p[1].z + corners.p[2].z) / 3};
}

// The routine's value from p to face f of B.
double toFaceOfB(const Context& c, const Point3d& p, std::uint32_t f)
{
    const Face& face = c.b.faces[f];
    return pointTriangleDistanceSquared(p, c.b.corner(face, 0), c.b.corner(face, 1),
                                        c.b.corner(face, 2));
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
// The largest routine value from the piece's corners to face f of B when it
// is at most `best`, else some value above `best` (returned as soon as a
// corner exceeds it); `first` receives the first corner's value, which it
// always measures.
double cornerMaximum(const Context& c, const CornerPoints& corners, std::uint32_t f, double best,
                     double& first)
{
    double m = 0.0;
    for (int k = 0; k < 3 && !(m > best); ++k) {
        const double d = toFaceOfB(c, corners.p[k], f);
        if (k == 0)
            first = d;
        m = std::max(m, d);
    }
    return m;
}

// Not below the supremum of d(x, B) over the piece, from face f of B and a
// face g that shares an edge with it: the bound that settles a piece
// straddling that edge where the two faces lie nearly in one plane (a
// coarse and a fine triangulation of one flat region), which no single
// face can settle until the piece is about as small as the error bound.
//
// With f = (a, b, c) and g = (a, b, d) (g's corners matched to f's edge ab
// by position), let K be the convex hull of f and g, and tau the distance
// between the segments ab and cd, reached at m on ab and m' on cd. Every
// point w of cd is within tau of f or g: between c and m', w = (1 - r) c +
// r m' is r |m' - m| <= tau from (1 - r) c + r m, a point of f; likewise
// between m' and d with g. Every point y of K is (1 - s) u + s w for some u
// on ab and w on cd, and for the point z of f (or g) within tau of w,
// (1 - s) u + s z lies in the same face, within s tau of y. So for x in the
// piece, d(x, B) <= d(x, K) + tau; d(x, K) is convex, so at most its
// largest value at a corner, and at a corner x_k, d(x_k, K) <= min(d(x_k,
// f), d(x_k, g)). Where the two faces make a convex planar quadrilateral the
// segments cross and tau = 0. The roundings: distanceAbove and pointError
// as for one face, segmentGapAbove for tau.
// Pairs whose bound cannot come within `keep` are skipped: a pair's bound is
// at least `floor` (what the corners' own distances give) plus its gap.
double pairUpper(const Context& c, const CornerPoints& corners, std::uint32_t f, double floor,
                 double keep)
{
    const Face& face = c.b.faces[f];
    double toF[3];
    for (int k = 0; k < 3; ++k)
        toF[k] = toFaceOfB(c, corners.p[k], f);
    // The corner farthest from f: a neighbour not nearer to it than f
    // leaves the largest value where f alone has it.
    const int worst = int(std::max_element(toF, toF + 3) - toF);
    const EdgeNeighbours& neighbours = c.neighboursOfB.get();
    double least = HUGE_VAL;
    for (int edge = 0; edge < 3; ++edge) {
        const Vector3 &a = c.b.corner(face, edge), &b = c.b.corner(face, (edge + 1) % 3),
                      &apex = c.b.corner(face, (edge + 2) % 3);
        neighbours.forEachAcross(f, edge, [&](std::uint32_t g, int third) {
            const double gap = segmentGapAbove(a, b, apex, c.b.corner(c.b.faces[g], third));
            if (!(addUp(floor, gap) <= keep))
                return;
            auto toG = [&](int k) { return toFaceOfB(c, corners.p[k], g); };
            double largest = std::min(toF[worst], toG(worst));
            if (!(largest < toF[worst]))
                return;
            for (int k = 0; k < 3; ++k)
                if (k != worst && toF[k] > largest)
                    largest = std::max(largest, std::min(toF[k], toG(k)));
            least = std::min(least, addUp(addUp(distanceAbove(std::sqrt(largest), c.diameterB),
                                                c.pointError),
                                          gap));
        });
    }
    return least;
}

// Not below the supremum of d(x, B) over the piece, from the star of one
// corner of face f of B (every face with a corner at that point): the bound
// that settles a piece around a vertex of B where B is flat, which pairs of
// faces cannot. With S the star and K its convex hull, d(x, B) <= d(x, K)
// + tau for tau = fanGapAbove, and d(x, K) is convex, at most its largest
// value at a corner, where it is at most the least distance to a face of
// S. Only the corner of f nearest the piece is tried; HUGE_VAL when its star
// is not one fanGapAbove can bound, or when `floor` (as for pairUpper) and
// tau already come to more than `keep`. The roundings: distanceAbove and
// pointError as for one face, fanGapAbove's own for tau.
double fanUpper(const Context& c, const CornerPoints& corners, std::uint32_t f, double floor,
                double keep)
{
    const Face& face = c.b.faces[f];
    const Point3d centre = centreOf(corners);
    int nearest = 0;
    double least = HUGE_VAL;
    for (int k = 0; k < 3; ++k) {
        const double d2 = distanceSquaredOf(centre, toPoint3d(c.b.corner(face, k)));
        if (d2 < least)
            least = d2, nearest = k;
    }
    const EdgeNeighbours& neighbours = c.neighboursOfB.get();
    const std::uint32_t position = neighbours.positionOf(face.vertices[std::size_t(nearest)]);
    const double gap = c.neighboursOfB.fanGap(position);
    if (!(addUp(floor, gap) <= keep))
        return HUGE_VAL;
    double largest = 0.0;
    for (int k = 0; k < 3; ++k) {
        double toStar = HUGE_VAL;
        for (const std::uint32_t* g = neighbours.facesAtBegin(position);
             g != neighbours.facesAtEnd(position) && toStar > largest; ++g)
            toStar = std::min(toStar, toFaceOfB(c, corners.p[k], *g));
        largest = std::max(largest, toStar);
    }
    return addUp(addUp(distanceAbove(std::sqrt(largest), c.diameterB), c.pointError), gap);
}

// The box of face f of B, in double.
struct FaceBox {
    double lo[3], hi[3];
};
FaceBox boxOfFace(const Mesh& b, std::uint32_t f)
{
    const Face& face = b.faces[f];
    FaceBox box{{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
    for (int k = 0; k < 3; ++k) {
        const Vector3& v = b.corner(face, k);
        const double x[3] = {v.x, v.y, v.z};
        for (int i = 0; i < 3; ++i)
            box.lo[i] = std::min(box.lo[i], x[i]), box.hi[i] = std::max(box.hi[i], x[i]);
    }
    return box;
}

// Whether face f of B could bring every corner of a piece within
// `threshold`: not when one of them is farther than that from f's box. Only
// a choice of work (a face of B nearest one corner of a large piece of A
// seldom settles it); nothing is bounded by it.
bool mayReach(const Context& c, const CornerPoints& corners, std::uint32_t f, double threshold)
{
    const FaceBox box = boxOfFace(c.b, f);
    for (int k = 0; k < 3; ++k)
        if (boxGapSquared(corners.p[k], box.lo, box.hi) > threshold * threshold)
            return false;
    return true;
}

// Whether face f of B is, from its box alone, surely farther than
// `root` >= sqrt(value) from some corner of a piece: then D(p_k, f) > value
// for that corner (rootBelowFromGap), and so is the largest routine value
// cornerMaximum would find.
bool farFromSomeCorner(const Context& c, const CornerPoints& corners, std::uint32_t f,
                       double root)
{
    const FaceBox box = boxOfFace(c.b, f);
    double gap = 0.0;
    for (int k = 0; k < 3; ++k)
        gap = std::max(gap, boxGapSquared(corners.p[k], box.lo, box.hi));
    return rootBelowFromGap(gap, c.diameterB) > root;
}

// `used` receives the triangle the bound came from (kNoHint for the
// Lipschitz bound).
// `keep`: a bound above it splits the piece whatever its value, so the
// scan need not look for one beyond it.
double pieceUpper(const Context& c, const Piece& piece, double lower, double keep,
                  std::vector<std::uint32_t>& candidates, std::uint32_t& used)
{
    used = kNoHint;
    const CornerPoints corners = cornerPoints(c.a, piece);
    double lipschitz = HUGE_VAL;
    for (int k = 0; k < 3; ++k) {
        const double side = std::max(lengthAbove(corners.p[k], corners.p[(k + 1) % 3]),
                                     lengthAbove(corners.p[k], corners.p[(k + 2) % 3]));
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
    double unused;
    if (piece.depth > 0) {
        if (piece.hint != kNoHint) {
            best = cornerMaximum(c, corners, piece.hint, HUGE_VAL, unused);
            bound = bounded(), used = piece.hint;
            if (!(bound > lower))
                return std::min(lipschitz, bound);
        }
    } else {
        // A face of A first tries the faces of B nearest its corners, each
        // once: where the meshes nearly coincide one of them usually settles
        // it without a radius query.
        const auto& v = c.a.faces[piece.face].vertices;
        const std::uint32_t nearest[3] = {c.nearestFaces[v[0]], c.nearestFaces[v[1]],
                                          c.nearestFaces[v[2]]};
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t f = nearest[k];
            if (f == kNoHint || (k > 0 && f == nearest[0]) || (k > 1 && f == nearest[1]) ||
                !mayReach(c, corners, f, std::max(lower, keep)))
                continue;
            const double m = cornerMaximum(c, corners, f, best, unused);
            if (!(m < best))
                continue;
            best = m;
            bound = bounded(), used = f;
            if (!(bound > lower))
                return std::min(lipschitz, bound);
        }
    }
    // The face the pair and star bounds start from: of the faces the last
    // scan measured within `keep` of the first corner, the one with the
    // least largest corner value (the lower number on a tie). They reach
    // here only after a scan of radius `keep`, and every search hands such a
    // scan each face within its radius (the index perhaps others, the
    // exhaustive loop all): so the choice does not depend on which search
    // ran. Its value is never below `best`, which covers more faces, so
    // measuring each face up to it also gives `best` what it needs.
    std::uint32_t pairFace = kNoHint;
    double pairValue = HUGE_VAL;
    // Scans the faces within `radius` of the first corner, the one whose
    // centroid is nearest the piece's first (it usually settles the piece
    // at once); true once the bound is not above `lower`.
    auto scan = [&](double radius) {
        pairFace = kNoHint, pairValue = HUGE_VAL;
        c.toB.facesWithin(corners.p[0], radius, candidates);
        if (candidates.size() > 1) {
            const Point3d centre = centreOf(corners);
            std::size_t nearest = 0;
            double least = HUGE_VAL;
            for (std::size_t i = 0; i < candidates.size(); ++i) {
                const Face& face = c.b.faces[candidates[i]];
                const Vector3 &ta = c.b.corner(face, 0), &tb = c.b.corner(face, 1),
                              &tc = c.b.corner(face, 2);
                const Point3d middle{(double(ta.x) + tb.x + tc.x) / 3,
                                     (double(ta.y) + tb.y + tc.y) / 3,
                                     (double(ta.z) + tb.z + tc.z) / 3};
                const double d2 = distanceSquaredOf(centre, middle);
                if (d2 < least)
                    least = d2, nearest = i;
            }
            std::swap(candidates[0], candidates[nearest]);
        }
        // pairValue is never below best (each value that sets it meets best
        // too), so a face whose largest corner value is surely above it
        // changes neither and is passed over unmeasured. pairRoot is
        // rootAbove(pairValue) once that is finite.
        double pairRoot = HUGE_VAL;
        for (std::uint32_t f : candidates) {
            if (pairRoot < HUGE_VAL && farFromSomeCorner(c, corners, f, pairRoot))
                continue;
            double first = HUGE_VAL;
            const double m = cornerMaximum(c, corners, f, pairValue, first);
            if ((m < pairValue || (m == pairValue && f < pairFace)) &&
                distanceAbove(std::sqrt(first), c.diameterB) <= keep)
                pairValue = m, pairFace = f, pairRoot = rootAbove(m);
            if (!(m < best))
                continue;
            best = m;
            bound = bounded(), used = f;
            if (!(bound > lower))
                return true;
        }
        return false;
    };
    // A triangle that settles the piece is within `lower` of every corner,
    // so the faces within that radius are tried first: far fewer than
    // within the Lipschitz bound. Only when none settles it does the wider
    // scan look for the least bound, and only as far as it matters: a
    // triangle that improves the best so far is within that best's bound of
    // the first corner, and one whose bound could keep the piece within
    // `keep` of it. Either radius leaves the least bound as the full scan
    // would find it whenever that bound keeps the piece.
    if (!(lower > 0.0 && lower < lipschitz && scan(lower))) {
        const double radius = std::min({lipschitz, bound, keep});
        if (radius > lower)
            scan(radius);
    }
    if (!(bound < lipschitz))
        used = kNoHint;
    const double single = std::min(lipschitz, bound);
    // A piece about to be split may yet be kept on a face and a neighbour,
    // or on the star of one of that face's corners. Not when the corners'
    // own distances already rule that out: either bound is at least the
    // largest of them.
    if (single > lower && single > keep) {
        const double nearest = std::max({piece.d[0], piece.d[1], piece.d[2]});
        const double floor = addUp(distanceAbove(nearest, c.diameterB), c.pointError);
        if (floor <= keep && pairFace != kNoHint) {
            const double pair = std::min(single, pairUpper(c, corners, pairFace, floor, keep));
            return pair <= keep ? pair
                                : std::min(pair, fanUpper(c, corners, pairFace, floor, keep));
        }
    }
    return single;
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

// The part of `parent` with corners (u_k, v_k), first trying triangle `hint`
// of B.
Piece child(const Piece& parent, std::uint32_t hint, const double (&u)[3], const double (&v)[3])
{
    Piece piece;
    piece.face = parent.face;
    piece.depth = parent.depth + 1;
    piece.hint = hint;
    for (int k = 0; k < 3; ++k)
        piece.u[k] = u[k], piece.v[k] = v[k];
    return piece;
}

// Vertex distances not measured yet.
constexpr double kUnknown = -1.0;

// What the search gave for each vertex of A: its distance to B (kUnknown
// until measured) and the face of B it came from, the first hint of the
// pieces at that corner.
struct VertexMeasures {
    explicit VertexMeasures(std::size_t n) : distance(n, kUnknown), face(n, kNoHint) {}
    std::vector<double> distance;
    std::vector<std::uint32_t> face;
};

// Measures the vertices of `which` not measured yet, in one batch, and
// raises the lower bound to the largest (the first in `which` order among
// equals, so the witness does not depend on threads). Returns how many were
// measured. Distances the caller gave are taken as they are, in the same
// order: they are the search's own, so nothing else changes.
std::size_t measureVertices(const Context& c, const std::vector<std::uint32_t>& which,
                            VertexMeasures& measures, double& lower, Point3d& witness)
{
    std::vector<double>& vertexDistance = measures.distance;
    // Reserved: grown by doubling, the first batch (every corner of every
    // face left) copied itself into fresh pages several times over.
    std::vector<std::uint32_t> fresh;
    std::vector<Point3d> points;
    const std::size_t most = std::min(which.size(), vertexDistance.size());
    fresh.reserve(most);
    points.reserve(most);
    for (std::uint32_t i : which)
        if (vertexDistance[i] == kUnknown) {
            vertexDistance[i] = 0.0;  // marks it taken, should it repeat
            fresh.push_back(i);
            points.push_back(toPoint3d(c.a.vertices[i]));
        }
    if (fresh.empty())
        return 0;
    std::vector<double> d;
    std::vector<std::uint32_t> faces;
    if (c.vertexDistances) {
        d.resize(fresh.size());
        faces.resize(fresh.size());
        for (std::size_t k = 0; k < fresh.size(); ++k) {
            d[k] = (*c.vertexDistances)[fresh[k]];
            faces[k] = (*c.vertexFaces)[fresh[k]];
        }
    } else {
        c.toB.distances(points, d, &faces);
    }
    for (std::size_t k = 0; k < fresh.size(); ++k) {
        vertexDistance[fresh[k]] = d[k];
        measures.face[fresh[k]] = faces[k];
        if (d[k] > lower)
            lower = d[k], witness = points[k];
    }
    return fresh.size();
}

// Groups of this many faces or fewer go to the pieces face by face.
constexpr std::uint32_t kGroupLeaf = 4;

// A group of A's faces: a range of the Morton order, its corners' box, and
// its two halves (none for a group of at most kGroupLeaf faces).
// Plain data, every field written by buildGroups, in parallel, into an
// array not cleared first.
struct FaceGroup {
    std::uint32_t first, last;
    std::int32_t left, right;
    float lo[3], hi[3];
    // The mean half diagonal of the boxes of the smallest groups beneath: a
    // bound is at least that much above the representative's distance, so
    // with the lower bound below it the halving settles nothing (meshes
    // that nearly coincide) and the faces go straight to the pieces.
    double leafReach;
    std::uint32_t leaves;
};
using FaceGroups = FillLaterVector<FaceGroup>;

// The levels measured before leafReach may stop the halving: their 2^6
// representatives give the lower bound a fair start.
constexpr std::uint32_t kSurveyDepth = 6;

// How many groups buildGroups makes of n faces. The halves of a level's
// groups differ in size by one at most, so few sizes ever occur.
std::uint32_t groupCount(std::uint32_t n, std::map<std::uint32_t, std::uint32_t>& known)
{
    if (n <= kGroupLeaf)
        return 1;
    auto found = known.find(n);
    if (found != known.end())
        return found->second;
    const std::uint32_t count = 1 + groupCount(n / 2, known) + groupCount(n - n / 2, known);
    known.emplace(n, count);
    return count;
}

// How far ahead in the order buildGroups fetches faces.
constexpr std::size_t kPrefetchFaces = 64;

// Fills groups[at] with the group of faces order[first, last) and the
// groups beneath it after it, depth first (left half, then right), each
// subtree at the place its size gives it, so that halves far apart are
// built in parallel tasks.
void buildGroups(const Mesh& a, const std::vector<std::uint32_t>& order, std::uint32_t first,
                 std::uint32_t last, FaceGroups& groups, std::int32_t at,
                 const std::map<std::uint32_t, std::uint32_t>& counts)
{
    FaceGroup& g = groups[std::size_t(at)];
    g.first = first, g.last = last;
    if (last - first <= kGroupLeaf) {
        g.left = g.right = -1;
        g.leaves = 1;
        for (int i = 0; i < 3; ++i)
            g.lo[i] = HUGE_VALF, g.hi[i] = -HUGE_VALF;
        for (std::uint32_t k = first; k < last; ++k) {
            // The face some groups ahead, which the Morton order scatters
            // over the face array: its load overlaps this group's work.
            if (k + kPrefetchFaces < order.size())
                __builtin_prefetch(&a.faces[order[k + kPrefetchFaces]]);
            for (std::uint32_t v : a.faces[order[k]].vertices) {
                const float x[3] = {a.vertices[v].x, a.vertices[v].y, a.vertices[v].z};
                for (int i = 0; i < 3; ++i)
                    g.lo[i] = std::min(g.lo[i], x[i]), g.hi[i] = std::max(g.hi[i], x[i]);
            }
        }
        double diagonal2 = 0;
        for (int i = 0; i < 3; ++i)
            diagonal2 += (double(g.hi[i]) - g.lo[i]) * (double(g.hi[i]) - g.lo[i]);
        g.leafReach = 0.5 * std::sqrt(diagonal2);
        return;
    }
    const std::uint32_t mid = first + (last - first) / 2;
    const std::uint32_t leftSize = mid - first;
    g.left = at + 1;
    g.right = g.left + std::int32_t(leftSize <= kGroupLeaf ? 1 : counts.at(leftSize));
    constexpr std::uint32_t kTaskFaces = 1u << 14;
    if (last - first >= 2 * kTaskFaces) {
        // Shared, not firstprivate: a task would copy what the references
        // refer to.
#pragma omp task shared(a, order, groups, counts)
        buildGroups(a, order, first, mid, groups, g.left, counts);
        buildGroups(a, order, mid, last, groups, g.right, counts);
#pragma omp taskwait
    } else {
        buildGroups(a, order, first, mid, groups, g.left, counts);
        buildGroups(a, order, mid, last, groups, g.right, counts);
    }
    const FaceGroup &l = groups[std::size_t(g.left)], &r = groups[std::size_t(g.right)];
    for (int i = 0; i < 3; ++i)
        g.lo[i] = std::min(l.lo[i], r.lo[i]), g.hi[i] = std::max(l.hi[i], r.hi[i]);
    g.leaves = l.leaves + r.leaves;
    g.leafReach = (l.leafReach * l.leaves + r.leafReach * r.leaves) / g.leaves;
}

// A's faces in Morton order and their groups, groups[0] holding them all.
struct FaceHierarchy {
    std::vector<std::uint32_t> order;
    FaceGroups groups;
};

// Runs its tasks in the enclosing parallel region, or in one of its own.
FaceHierarchy groupFaces(const Mesh& a)
{
    FaceHierarchy h;
    if (a.faces.empty())
        return h;
    h.order = faceMortonOrder(a);
    std::map<std::uint32_t, std::uint32_t> counts;
    h.groups.resize(groupCount(std::uint32_t(h.order.size()), counts));
    runWithTasks([&] {
        buildGroups(a, h.order, 0, std::uint32_t(h.order.size()), h.groups, 0, counts);
    });
    return h;
}

// Settles whole groups of A's faces by one vertex each before any piece is
// formed: when the maximum is far above most distances (unaligned meshes),
// most of A is dropped after a few thousand measurements instead of one per
// vertex.
//
// Faces are taken in the Morton order of their centroids and halved, level
// by level; a group is represented by a corner r of its middle face. For x
// in the group, d(x, B) <= d(r, B) + |x - r|, and |x - r| is at most the
// distance from r to the farthest corner q of the group's box (the box holds
// the group's triangles, and a distance is convex), so
//     U = d(r, B) + |q - r|
// bounds the group (boxDistanceAbove, with the rounding). A group whose U is not above the lower bound is
// dropped (its U still counts toward the upper bound); small groups that
// stay go to `survivors`, face numbers in Morton order; the others are
// halved (unless halving cannot pay: FaceGroup::leafReach). Every measured
// vertex raises the lower bound and keeps its distance for the pieces.
// Level by level, so the order of every batch and bound, and the result,
// are the same at any thread count.
std::size_t cullFaces(const Context& c, const FaceHierarchy& hierarchy,
                      VertexMeasures& measures, double& lower, Point3d& witness,
                      double& upper, std::vector<std::uint32_t>& survivors)
{
    const Mesh& a = c.a;
    if (a.faces.empty())
        return 0;
    const std::vector<std::uint32_t>& order = hierarchy.order;
    const FaceGroups& groups = hierarchy.groups;

    // A group is first tried with its parent's representative (measured
    // already, so free), and gets its own only when that leaves it open.
    struct Open {
        std::int32_t group;
        std::uint32_t inherited;  // the parent's representative
    };
    auto groupBound = [&](const FaceGroup& g, std::uint32_t representative) {
        return boxDistanceAbove(measures.distance[representative], c.diameterB,
                                toPoint3d(a.vertices[representative]), g.lo, g.hi);
    };
    std::size_t measured = 0;
    std::vector<Open> level, next;
    std::vector<std::uint32_t> representatives;
    level.push_back({0, 0});  // the root inherits nothing
    for (std::uint32_t depth = 0; !level.empty(); ++depth) {
        // The groups the inherited bound does not settle measure their own.
        std::vector<Open> open;
        for (const Open& o : level) {
            if (depth > 0) {
                const double bound = groupBound(groups[std::size_t(o.group)], o.inherited);
                if (!(bound > lower)) {
                    upper = std::max(upper, bound);
                    continue;
                }
            }
            open.push_back(o);
        }
        representatives.clear();
        for (const Open& o : open) {
            const FaceGroup& g = groups[std::size_t(o.group)];
            representatives.push_back(
                a.faces[order[g.first + (g.last - g.first) / 2]].vertices[0]);
        }
        measured += measureVertices(c, representatives, measures, lower, witness);

        next.clear();
        for (std::size_t k = 0; k < open.size(); ++k) {
            const FaceGroup& g = groups[std::size_t(open[k].group)];
            const double bound = groupBound(g, representatives[k]);
            if (!(bound > lower)) {
                upper = std::max(upper, bound);
            } else if (g.left < 0 || (depth >= kSurveyDepth && lower < g.leafReach)) {
                for (std::uint32_t f = g.first; f < g.last; ++f)
                    survivors.push_back(order[f]);
            } else {
                next.push_back({g.left, representatives[k]});
                next.push_back({g.right, representatives[k]});
            }
        }
        level.swap(next);
    }

    // The pieces start from the distances of every corner.
    std::vector<std::uint32_t> corners;
    corners.reserve(3 * survivors.size());
    for (std::uint32_t f : survivors)
        for (std::uint32_t v : a.faces[f].vertices)
            corners.push_back(v);
    return measured + measureVertices(c, corners, measures, lower, witness);
}

// smallestHausdorffError from the largest coordinate magnitudes of A and B.
double smallestErrorFor(double largestA, double largestB)
{
    return (largestA + largestB) * 0x1p-40 + 0x1p-1000;
}

} // namespace

double smallestHausdorffError(const Mesh& a, const Mesh& b)
{
    return smallestErrorFor(largestCoordinate(a), largestCoordinate(b));
}

HausdorffInterval certifiedHausdorff(const Mesh& a, NearestSurfaceSearch& toB, double maxError,
                                     const std::vector<double>* vertexDistances,
                                     const std::vector<std::uint32_t>* vertexFaces)
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
    const double largestA = largestCoordinate(a), largestB = largestCoordinate(b);
    LazyNeighbours neighboursOfB(b);
    VertexMeasures measures(a.vertexCount());
    const bool given = vertexDistances && vertexFaces &&
                       vertexDistances->size() == a.vertexCount() &&
                       vertexFaces->size() == a.vertexCount();
    const Context c{a,
                    b,
                    toB,
                    triangleDiameterBound(largestB),
                    barycentricPointError(largestA),
                    neighboursOfB,
                    given ? vertexDistances : nullptr,
                    given ? vertexFaces : nullptr,
                    measures.face};
    // A's groups are formed while B's index is built, when it is: on two
    // threads neither keeps both busy alone (fresh memory, short serial
    // steps).
    FaceHierarchy hierarchy;
    if (toB.indexed()) {
        hierarchy = groupFaces(a);
    } else {
#pragma omp parallel
#pragma omp single
        {
#pragma omp task shared(hierarchy, a)
            hierarchy = groupFaces(a);
            toB.prepareFacesWithin();
        }
    }

    // The unreferenced vertices are points of A on their own: each is
    // measured, and its distance is its own upper bound (a vertex is exact,
    // so distanceAbove alone covers it).
    const std::vector<double>& vertexDistance = measures.distance;
    double lower = -1.0, upper = 0.0;
    Point3d witness{};
    {
        std::vector<std::uint8_t> referenced(a.vertexCount(), 0);
        const std::ptrdiff_t faces = std::ptrdiff_t(a.faces.size());
#pragma omp parallel for schedule(static) if (faces >= kParallelMeshPass)
        for (std::ptrdiff_t f = 0; f < faces; ++f)
            for (std::uint32_t index : a.faces[std::size_t(f)].vertices) {
#pragma omp atomic write
                referenced[index] = 1;
            }
        std::vector<std::uint32_t> lone;
        for (std::uint32_t i = 0; i < a.vertexCount(); ++i)
            if (!referenced[i])
                lone.push_back(i);
        result.points += measureVertices(c, lone, measures, lower, witness);
        for (std::uint32_t i : lone)
            upper = std::max(upper, distanceAbove(vertexDistance[i], c.diameterB));
    }
    std::vector<std::uint32_t> survivors;
    result.points += cullFaces(c, hierarchy, measures, lower, witness, upper, survivors);

    // The first level's pieces are the survivors' faces, formed where they
    // are bounded: most are settled at once, so only those kept or split
    // are ever stored (and none is formed on one thread for all).
    auto facePiece = [&](std::uint32_t f) {
        Piece piece{};
        piece.face = f;
        piece.hint = kNoHint;  // the corners' nearest faces instead (pieceUpper)
        piece.u[1] = 1.0, piece.v[2] = 1.0;
        for (int k = 0; k < 3; ++k)
            piece.d[k] = vertexDistance[a.faces[f].vertices[std::size_t(k)]];
        return piece;
    };
    Pieces active;
    bool firstLevel = !survivors.empty();
    auto levelSize = [&] { return firstLevel ? survivors.size() : active.size(); };
    // The level's piece i: formed in `formed` on the first level, else
    // the stored one.
    auto levelPiece = [&](std::size_t i, Piece& formed) -> const Piece& {
        if (!firstLevel)
            return active[i];
        formed = facePiece(survivors[i]);
        return formed;
    };

    // Pieces kept unsplit because their bound is within reach of the lower
    // one, with that bound.
    // A deque grows without copying: most pieces can end up here, and each
    // doubling of a vector would write all of them again to fresh pages.
    std::deque<Piece> kept;
    std::vector<double> keptUpper;
    // What certifying the lower bound may take off it, kept back from the
    // error budget; raised if the certification takes more.
    double reserve = c.pointError + smallestErrorFor(largestA, largestB);
    std::vector<double> bounds, midDistance;
    std::vector<std::uint32_t> used;
    std::vector<Point3d> midPoints;
    std::vector<std::uint32_t> splitting;  // the level's pieces to split
    // The next level's pieces: cleared, not freed, from level to level, so
    // that its pages are written once per run and not once per level.
    Pieces next;
    std::vector<std::uint32_t> scratch;
    double certified = 0.0;
    for (;;) {
        while (levelSize() > 0) {
            bounds.resize(levelSize());
            used.resize(levelSize());
            const std::ptrdiff_t count = std::ptrdiff_t(levelSize());
            // A piece whose bound is at most `target` is kept as it is.
            const double target = lower + maxError - reserve;
            // Runs of neighbouring pieces (Morton order) keep a thread in its
            // part of both meshes: on two threads, runs of 16 took 5-10 % more
            // time than runs of 256 on large levels. A run is 16 to 256
            // pieces, and no longer than leaves each thread 64 runs.
            const int run = std::clamp(int(count / (64 * omp_get_max_threads())), 16, 256);
#pragma omp parallel
            {
                std::vector<std::uint32_t> candidates;
                Piece formed;
#pragma omp for schedule(dynamic, run)
                for (std::ptrdiff_t i = 0; i < count; ++i) {
                    const Piece& piece = levelPiece(std::size_t(i), formed);
                    bounds[std::size_t(i)] =
                        pieceUpper(c, piece, lower, piece.depth >= kMaxDepth ? HUGE_VAL : target,
                                   candidates, used[std::size_t(i)]);
                }
            }
            result.pieces += levelSize();

            // Dropped, kept or split, in level order; the split pieces'
            // children and the midpoints of their edges are then formed in
            // parallel, each at the place its parent's rank gives it.
            splitting.clear();
            for (std::size_t i = 0; i < levelSize(); ++i) {
                if (!(bounds[i] > lower)) {
                    upper = std::max(upper, bounds[i]);
                    continue;
                }
                const std::uint32_t depth = firstLevel ? 0 : active[i].depth;
                if (bounds[i] <= target || depth >= kMaxDepth) {
                    Piece formed;
                    kept.push_back(levelPiece(i, formed));
                    keptUpper.push_back(bounds[i]);
                } else {
                    splitting.push_back(std::uint32_t(i));
                }
            }

            const std::ptrdiff_t splits = std::ptrdiff_t(splitting.size());
            next.clear();
            next.resize(4 * splitting.size());
            midPoints.resize(3 * splitting.size());
#pragma omp parallel for schedule(static) if (splits >= 1024)
            for (std::ptrdiff_t s = 0; s < splits; ++s) {
                Piece formed;
                const Piece& parent = levelPiece(splitting[std::size_t(s)], formed);
                const double mu[3] = {0.5 * (parent.u[0] + parent.u[1]),
                                      0.5 * (parent.u[1] + parent.u[2]),
                                      0.5 * (parent.u[2] + parent.u[0])};
                const double mv[3] = {0.5 * (parent.v[0] + parent.v[1]),
                                      0.5 * (parent.v[1] + parent.v[2]),
                                      0.5 * (parent.v[2] + parent.v[0])};
                const std::uint32_t hint = used[splitting[std::size_t(s)]];
                Piece* four = &next[4 * std::size_t(s)];
                // m0 = mid(0, 1), m1 = mid(1, 2), m2 = mid(2, 0); the
                // midpoints' distances follow the batch below.
                four[0] = child(parent, hint, {parent.u[0], mu[0], mu[2]},
                                {parent.v[0], mv[0], mv[2]});
                four[1] = child(parent, hint, {mu[0], parent.u[1], mu[1]},
                                {mv[0], parent.v[1], mv[1]});
                four[2] = child(parent, hint, {mu[2], mu[1], parent.u[2]},
                                {mv[2], mv[1], parent.v[2]});
                four[3] = child(parent, hint, {mu[0], mu[1], mu[2]},
                                {mv[0], mv[1], mv[2]});
                four[0].d[0] = parent.d[0];
                four[1].d[1] = parent.d[1];
                four[2].d[2] = parent.d[2];
                const CornerPoints middle = cornerPoints(c.a, four[3]);
                for (int k = 0; k < 3; ++k)
                    midPoints[3 * std::size_t(s) + std::size_t(k)] = middle.p[k];
            }
            firstLevel = false;
            toB.distances(midPoints, midDistance);
            result.points += midPoints.size();
#pragma omp parallel for schedule(static) if (splits >= 1024)
            for (std::ptrdiff_t s = 0; s < splits; ++s) {
                const double* m = &midDistance[3 * std::size_t(s)];
                Piece* four = &next[4 * std::size_t(s)];
                four[0].d[1] = m[0], four[0].d[2] = m[2];
                four[1].d[0] = m[0], four[1].d[2] = m[1];
                four[2].d[0] = m[2], four[2].d[1] = m[1];
                four[3].d[0] = m[0], four[3].d[1] = m[1], four[3].d[2] = m[2];
            }
            // The first in batch order among equals, as on one thread.
            for (std::size_t k = 0; k < midPoints.size(); ++k)
                if (midDistance[k] > lower)
                    lower = midDistance[k], witness = midPoints[k];
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
        // A reserve of the whole budget leaves no piece within reach of being
        // kept: each one above the lower bound would be split down to
        // kMaxDepth, and along a ridge at that distance their number doubles
        // from level to level (a certification that loses that much happens
        // on slivers of huge coordinates). The interval reached is reported,
        // not converged, instead.
        if (reserve >= maxError)
            break;
        std::deque<Piece> stay;
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
