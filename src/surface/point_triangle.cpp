#include "surface/point_triangle.h"

#include <algorithm>
#include <limits>

namespace {

// (2 area)^2 / longest^4 below which a triangle counts as thin.
constexpr double kThinTriangle = 0x1p-6;

struct D3 {
    double x, y, z;
};

inline D3 minus(const Point3d& p, const Vector3& a) { return {p.x - a.x, p.y - a.y, p.z - a.z}; }
inline D3 minus(const Vector3& b, const Vector3& a)
{
    return {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
}
inline double dot(const D3& u, const D3& v) { return u.x * v.x + u.y * v.y + u.z * v.z; }
inline D3 cross(const D3& u, const D3& v)
{
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

// |p - (a + t e)|², with ap = p - a.
inline double distanceSquaredAlong(const D3& ap, const D3& e, double t)
{
    D3 r{ap.x - t * e.x, ap.y - t * e.y, ap.z - t * e.z};
    return dot(r, r);
}

// The segment from a to a + e; a zero-length one is the point a.
inline double segmentDistanceSquared(const D3& ap, const D3& e)
{
    double ee = dot(e, e);
    double t = 0.0;
    if (ee > 0.0) {
        t = dot(ap, e) / ee;
        t = t > 0.0 ? (t < 1.0 ? t : 1.0) : 0.0;  // NaN-safe clamp to [0, 1]
    }
    return distanceSquaredAlong(ap, e, t);
}

double edgesDistanceSquared(const Point3d& p, const Vector3& a, const Vector3& b,
                            const Vector3& c)
{
    double ab = segmentDistanceSquared(minus(p, a), minus(b, a));
    double bc = segmentDistanceSquared(minus(p, b), minus(c, b));
    double ca = segmentDistanceSquared(minus(p, c), minus(a, c));
    double d = ab < bc ? ab : bc;
    return ca < d ? ca : d;
}

// A thin triangle measured from the corner o opposite its longest edge, with
// edges e1, e2 from o: the angle at o is the largest, so the normal
// n = e1 x e2 has an error relative to |n| of a few ud / sin O, and the
// weights solved from it by cross products, v = ((op x e2) . n) / n.n and
// w = ((e1 x op) . n) / n.n, are good where Ericson's are not (a needle,
// whose angle at a may be the small one). Only a cap, whose largest angle is
// near 180 degrees, keeps an ill-conditioned normal; it is then within its
// own height of its longest edge, which the caller measures too. Weights
// outside the triangle (the query projects beside it) give +inf: the edges
// decide. The point o + v e1 + w e2 with v, w >= 0 and fl(v + w) <= 1 is a
// point of the triangle and r is formed as in the face region, so the value
// keeps the routine's lower bound (surface/index/kernels.h, analysis 1).
double thinFaceDistanceSquared(const Point3d& p, const Vector3& o, const D3& e1, const D3& e2)
{
    const D3 op = minus(p, o), n = cross(e1, e2);
    const double nn = dot(n, n);
    const double v = dot(cross(op, e2), n) / nn, w = dot(cross(e1, op), n) / nn;
    if (!(v >= 0.0 && w >= 0.0 && v + w <= 1.0))  // also when nn is 0 or inf
        return std::numeric_limits<double>::infinity();
    const D3 r{op.x - e1.x * v - e2.x * w, op.y - e1.y * v - e2.y * w,
               op.z - e1.z * v - e2.z * w};
    return dot(r, r);
}

} // namespace

double pointTriangleDistanceSquared(const Point3d& p, const Vector3& a, const Vector3& b,
                                    const Vector3& c)
{
    const D3 ab = minus(b, a), ac = minus(c, a), ap = minus(p, a);
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0)
        return dot(ap, ap);  // vertex region of a

    const D3 bp = minus(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0.0 && d4 <= d3)
        return dot(bp, bp);  // vertex region of b

    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
        const double den = d1 - d3;
        if (!(den > 0.0))
            return edgesDistanceSquared(p, a, b, c);
        return distanceSquaredAlong(ap, ab, d1 / den);  // edge region of ab
    }

    const D3 cp = minus(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0.0 && d5 <= d6)
        return dot(cp, cp);  // vertex region of c

    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
        const double den = d2 - d6;
        if (!(den > 0.0))
            return edgesDistanceSquared(p, a, b, c);
        return distanceSquaredAlong(ap, ac, d2 / den);  // edge region of ac
    }

    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && d4 - d3 >= 0.0 && d5 - d6 >= 0.0) {
        const double den = (d4 - d3) + (d5 - d6);
        if (!(den > 0.0))
            return edgesDistanceSquared(p, a, b, c);
        return distanceSquaredAlong(bp, minus(c, b), (d4 - d3) / den);  // edge region of bc
    }

    // Inside the face: the barycentric weights (u, v, w) = (va, vb, vc) / sum.
    // A sum that is not positive means the region tests could not place p,
    // which happens only for a degenerate or nearly degenerate triangle.
    const double sum = va + vb + vc;
    if (!(sum > 0.0) || va < 0.0 || vb < 0.0 || vc < 0.0)
        return edgesDistanceSquared(p, a, b, c);
    const double v = vb / sum, w = vc / sum;
    D3 r{ap.x - ab.x * v - ac.x * w, ap.y - ab.y * v - ac.y * w, ap.z - ab.z * v - ac.z * w};
    const double face = dot(r, r);
    // The weights are quotients of differences of products that cancel down
    // to (2 area)^2, with an error relative to it that grows as 1 / sin^2 of
    // the angle at a: off by up to 16 ud (dist + diam) / sin^2 A, a few ulps
    // when every angle is wide. A thin triangle (some angle below about 7
    // degrees) is measured again by thinFaceDistanceSquared.
    const D3 bc = minus(c, b);
    const double ab2 = dot(ab, ab), ac2 = dot(ac, ac), bc2 = dot(bc, bc);
    const double longest = std::max({ab2, ac2, bc2});
    if (sum > kThinTriangle * longest * longest)
        return face;
    const double thin = bc2 == longest   ? thinFaceDistanceSquared(p, a, ab, ac)
                        : ac2 == longest ? thinFaceDistanceSquared(p, b, bc, minus(a, b))
                                         : thinFaceDistanceSquared(p, c, minus(a, c), minus(b, c));
    const double edges = edgesDistanceSquared(p, a, b, c);
    const double best = thin < face ? thin : face;
    return edges < best ? edges : best;
}
