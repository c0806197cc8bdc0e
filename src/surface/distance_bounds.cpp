#include "surface/distance_bounds.h"

#include <algorithm>
#include <cmath>

namespace {

struct D3 {
    double x, y, z;
};

inline D3 minus(const Vector3& b, const Vector3& a)
{
    return {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
}
inline double dot(const D3& u, const D3& v) { return u.x * v.x + u.y * v.y + u.z * v.z; }
inline Point3d along(const Vector3& a, const D3& e, double t)
{
    return {a.x + t * e.x, a.y + t * e.y, a.z + t * e.z};
}
inline double distanceSquared(const Point3d& p, const Point3d& q)
{
    const double x = p.x - q.x, y = p.y - q.y, z = p.z - q.z;
    return x * x + y * y + z * z;
}

Point3d closestOnSegment(const Point3d& p, const Vector3& a, const Vector3& b)
{
    const D3 e = minus(b, a);
    const D3 ap{p.x - a.x, p.y - a.y, p.z - a.z};
    const double ee = dot(e, e);
    double t = ee > 0.0 ? dot(ap, e) / ee : 0.0;
    t = t > 0.0 ? (t < 1.0 ? t : 1.0) : 0.0;
    return along(a, e, t);
}

Point3d closestOnEdges(const Point3d& p, const Vector3& a, const Vector3& b, const Vector3& c)
{
    Point3d best = closestOnSegment(p, a, b);
    for (const Point3d& q : {closestOnSegment(p, b, c), closestOnSegment(p, c, a)})
        if (distanceSquared(p, q) < distanceSquared(p, best))
            best = q;
    return best;
}

} // namespace

double largestCoordinate(const Mesh& mesh)
{
    float m = 0.0f;
    for (const Vector3& v : mesh.vertices)
        m = std::max({m, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    return m;
}

double boxDistanceAbove(double d, double diameter, const Point3d& r, const float lo[3],
                        const float hi[3])
{
    const double p[3] = {r.x, r.y, r.z};
    double q[3];
    for (int i = 0; i < 3; ++i)
        q[i] = p[i] - lo[i] > hi[i] - p[i] ? lo[i] : hi[i];
    return addUp(distanceAbove(d, diameter), lengthAbove(r, {q[0], q[1], q[2]}));
}

// gamma is the exact distance from p to the box, G_i its gaps per axis.
// - A gap g_i is a difference of doubles rounded to nearest, or 0: rounding is
//   monotone, so the larger of two rounded differences is the rounded larger
//   one, and g_i <= G_i (1 + ud). The squares round relatively (or underflow
//   by 2^-1074) and so do the two sums, so s <= gamma^2 (1 + ud)^5 + 2^-1071,
//   and r = fl(sqrt(s)) <= gamma (1 + 3.51 ud) + 2^-535: gamma >= r (1 -
//   3.51 ud) - 2^-535.
// - Every point of T is in the box, so dist(p, T) >= gamma, and by the
//   routine's bound sqrt(D) >= (1 - 5 ud) gamma - 9 ud diam(T) - 2^-535
//   >= L := r (1 - 8.51 ud) - 9 ud diameter - 2^-534.
// - Computed: a = fl(r (1 - 2^-49)) <= r (1 - 14.99 ud), b = fl(diameter 2^-49
//   + 2^-530) >= (16 ud diameter + 2^-530)(1 - ud) (the scaling is exact, or
//   underflows by less than 2^-1074), and a positive fl(a - b) <= (a - b)(1 +
//   ud) <= r (1 - 13.98 ud) - (1 - ud^2)(16 ud diameter + 2^-530) <= L. A
//   result of 0 or less is below sqrt(D) >= 0 anyway.
double rootBelowFromGap(double s, double diameter)
{
    return std::sqrt(s) * (1.0 - 0x1p-49) - (diameter * 0x1p-49 + 0x1p-530);
}

Point3d closestPointOnTriangle(const Point3d& p, const Vector3& a, const Vector3& b,
                               const Vector3& c)
{
    const D3 ab = minus(b, a), ac = minus(c, a);
    const D3 ap{p.x - a.x, p.y - a.y, p.z - a.z};
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    const double g11 = dot(ab, ab), g12 = dot(ab, ac), g22 = dot(ac, ac);
    const double det = g11 * g22 - g12 * g12;
    // Inside the face: the orthogonal projection, by Cramer's rule.
    if (det > 0.0) {
        const double v = (d1 * g22 - d2 * g12) / det, w = (d2 * g11 - d1 * g12) / det;
        if (v >= 0.0 && w >= 0.0 && v + w <= 1.0)
            return {a.x + v * ab.x + w * ac.x, a.y + v * ab.y + w * ac.y,
                    a.z + v * ab.z + w * ac.z};
    }
    return closestOnEdges(p, a, b, c);
}

// Rounding of the bound of the header, n = q - p scaled so that its largest
// component is +-1 exactly (n is whatever vector results; the bound holds for
// any n, so the scaling's own rounding does not matter, and |n|^2 >= 1 keeps
// the squares below from underflowing into relevance):
// - w_k = fl(c_k - p) has |w_kj - (c_kj - p_j)| <= ud |w_kj| (1 + ud), the
//   three-term dot product h_k = fl(n . w_k) errs by at most
//   3.01 ud sum_j |n_j w_kj| plus 3 2^-1075 of underflow, so the real
//   n . (c_k - p) >= h_k - 4.02 ud S_k - 2^-1072, S_k = sum_j |n_j w_kj|.
//   The margin 2^-50 fl(S_k) + 2^-1000 is at least that (8 ud (1 - 3.01 ud)
//   >= 4.02 ud), and fl(h_k - margin) >= 0 is at most (1 + ud) times the
//   real difference.
// - |n|^2 <= fl(n . n)(1 + 3.02 ud), so |n| <= fl(sqrt(fl(n . n)))(1 + 2.52 ud),
//   and N = fl(that (1 + 2^-50)) >= it.
// - So dist >= H / ((1 + ud) N) for H = min_k fl(h_k - margin_k) > 0, and
//   fl(fl(H / N)(1 - 2^-50)) <= (H / N)(1 + ud)^2 (1 - 8 ud) < that; the
//   final 2^-1074 covers a quotient that underflows.
double distanceBelow(const Point3d& p, const Vector3& a, const Vector3& b, const Vector3& c)
{
    const Point3d q = closestPointOnTriangle(p, a, b, c);
    double n[3] = {q.x - p.x, q.y - p.y, q.z - p.z};
    const double largest = std::max({std::fabs(n[0]), std::fabs(n[1]), std::fabs(n[2])});
    if (!(largest > 0.0) || !std::isfinite(largest))
        return 0.0;  // p on the triangle, as far as it can tell
    for (double& x : n)
        x /= largest;
    double h = HUGE_VAL;
    for (const Vector3* corner : {&a, &b, &c}) {
        const double w[3] = {corner->x - p.x, corner->y - p.y, corner->z - p.z};
        const double dotted = n[0] * w[0] + n[1] * w[1] + n[2] * w[2];
        const double size = std::fabs(n[0] * w[0]) + std::fabs(n[1] * w[1]) +
                            std::fabs(n[2] * w[2]);
        h = std::min(h, dotted - (size * 0x1p-50 + 0x1p-1000));
    }
    if (!(h > 0.0))
        return 0.0;
    const double norm =
        std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) * (1.0 + 0x1p-50);
    const double bound = h / norm * (1.0 - 0x1p-50) - 0x1p-1074;
    return bound > 0.0 ? bound : 0.0;
}

// The error of barycentricPoint (u and v need not be dyadic), per
// coordinate j, with |a_j|, |b_j|, |c_j| <= m, so |b_j - a_j|, |c_j - a_j|
// <= 2 m: the two differences round
// relatively (ud), the products u e_1, v e_2 too (or by 2^-1075 if they
// underflow), their sum by ud of at most 2.02 m, the last sum by ud of at
// most 3.03 m: |x~_j - x_j| <= 2 ud m (u + v)(1.01) + 2.02 ud m + 3.03 ud m
// + 2^-1074 <= 9.07 ud m + 2^-1074. In norm, at most sqrt(3) times that,
// 15.8 ud m + 2^-1073, half of the bound m 2^-48 + 2^-1060.
Point3d barycentricPoint(const Vector3& a, const Vector3& b, const Vector3& c, double u,
                         double v)
{
    const D3 e1 = minus(b, a), e2 = minus(c, a);
    return {a.x + (u * e1.x + v * e2.x), a.y + (u * e1.y + v * e2.y),
            a.z + (u * e1.z + v * e2.z)};
}

double segmentGapAbove(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d)
{
    // Parameters s on [a, b] and t on [c, d]; a NaN from a degenerate
    // quotient clamps to 0, like any value outside [0, 1].
    auto clamp = [](double x) { return x > 0.0 ? (x < 1.0 ? x : 1.0) : 0.0; };
    const D3 e1 = minus(b, a), e2 = minus(d, c), r = minus(a, c);
    const double l1 = dot(e1, e1), l2 = dot(e2, e2), f = dot(e2, r);
    double s = 0.0, t = 0.0;
    if (l1 == 0.0) {
        t = l2 > 0.0 ? clamp(f / l2) : 0.0;
    } else {
        const double g = dot(e1, r);
        if (l2 == 0.0) {
            s = clamp(-g / l1);
        } else {
            const double h = dot(e1, e2);
            const double denominator = l1 * l2 - h * h;
            s = denominator > 0.0 ? clamp((h * f - g * l2) / denominator) : 0.0;
            const double along = (h * s + f) / l2;
            if (!(along > 0.0))
                s = clamp(-g / l1);
            else if (along > 1.0)
                t = 1.0, s = clamp((h - g) / l1);
            else
                t = along;
        }
    }
    const double m = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z), std::fabs(b.x),
                               std::fabs(b.y), std::fabs(b.z), std::fabs(c.x), std::fabs(c.y),
                               std::fabs(c.z), std::fabs(d.x), std::fabs(d.y), std::fabs(d.z)});
    const Point3d p = barycentricPoint(a, b, b, s, 0.0), q = barycentricPoint(c, d, d, t, 0.0);
    return addUp(lengthAbove(p, q), 2.0 * barycentricPointError(m));
}
