#include "surface/fan_gap.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "surface/distance_bounds.h"

// Why the bound holds. Let v be the point, w_1..w_n the other corners of
// the star S in fan order, so S is the union of the faces (v, w_i, w_i+1).
// - Every y in conv(S) = conv({v} u W) is (1 - s) v + s w for some w in
//   conv(W). Each face holds v and is convex, so if z in S is within t of
//   w, (1 - s) v + s z is in S and within s t <= t of y: the bound over
//   conv(W) is a bound over conv(S).
// - Project along axis a (the largest component of the star's normal) onto
//   the other two coordinates, which is exact on the float corners. When the
//   projected fan triangles all turn the same way, the projected ring turns
//   that way at every corner, and the angles at v sum to one turn (they sum
//   to a whole number of turns; the computed sum is within rounding of it,
//   so below 1.5 turns means one), the ring is a convex polygon that the
//   projected faces tile. So every w in conv(W) has a point z of S with the
//   same projection, and |w - z| = |w_a - z_a|.
// - For any plane x_a = v_a + g1 (x_1 - v_1) + g2 (x_2 - v_2) (g from the
//   star's normal; any g would do), dev(x) = x_a - (that) is affine, and
//   w_a - z_a = dev(w) - dev(z) for points with the same projection. Both
//   lie in conv({v} u W), where dev lies between its least and largest
//   value at the corners. So the bound is max dev - min dev over v and W.
//
// Rounding:
// - An orientation det = fl(fl(l) - fl(r)), l = dx1 dy2 and r = dy1 dx2 of
//   differences of floats, each rounded (ud relative), errs by at most
//   ud |det| + 3.01 ud (|l| + |r|) + 2^-1073 (underflowing products): within
//   the margin 2^-49 (|l| + |r|) + 2^-1000, so a det beyond the margin has
//   the sign of the real one.
// - dev = fl(fl(A - B) - C), A = x_a - v_a, B = g1 (x_1 - v_1), C = g2
//   (x_2 - v_2), errs by at most 4.1 ud (|A| + |B| + |C|) + 2^-1073; the
//   margin 2^-49 (|A| + |B| + |C|) + 2^-1000 covers that and the rounding of
//   adding it. The spread is summed with addUp.
// - The angles only decide the number of turns, which is an integer: their
//   rounding (far below a quarter turn over a fan) cannot change it.

namespace {

constexpr std::size_t kMostFaces = 64;
constexpr double kOneAndAHalfTurns = 3.0 * 3.14159265358979323846;

double coordinate(const Vector3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

} // namespace

int turnSign(const Vector3& p, const Vector3& q, const Vector3& r, int one, int two)
{
    const double dx1 = coordinate(q, one) - coordinate(p, one),
                 dy1 = coordinate(q, two) - coordinate(p, two);
    const double dx2 = coordinate(r, one) - coordinate(p, one),
                 dy2 = coordinate(r, two) - coordinate(p, two);
    const double l = dx1 * dy2, r2 = dy1 * dx2, det = l - r2;
    const double margin = (std::fabs(l) + std::fabs(r2)) * 0x1p-49 + 0x1p-1000;
    return det > margin ? 1 : det < -margin ? -1 : 0;
}

void deviationEnclosure(const Vector3& x, const Vector3& v, double g1, double g2, int axis,
                        int one, int two, double& low, double& high)
{
    const double a = coordinate(x, axis) - coordinate(v, axis);
    const double b = g1 * (coordinate(x, one) - coordinate(v, one));
    const double c = g2 * (coordinate(x, two) - coordinate(v, two));
    const double dev = (a - b) - c;
    const double margin = (std::fabs(a) + std::fabs(b) + std::fabs(c)) * 0x1p-49 + 0x1p-1000;
    low = dev - margin, high = dev + margin;
}

double fanGapAbove(const Mesh& mesh, const EdgeNeighbours& neighbours, std::uint32_t position)
{
    const std::uint32_t* first = neighbours.facesAtBegin(position);
    const std::size_t count = std::size_t(neighbours.facesAtEnd(position) - first);
    if (count < 3 || count > kMostFaces)
        return HUGE_VAL;

    // Each face as (v, a, b) in its own orientation: the edge a -> b of the
    // ring, by position.
    struct Link {
        std::uint32_t from, to;  // positions
        std::uint32_t fromVertex, toVertex;
    };
    std::vector<Link> links;
    links.reserve(count);
    const Vector3* centre = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        const Face& face = mesh.faces[first[i]];
        int at = -1;
        for (int k = 0; k < 3; ++k)
            if (neighbours.positionOf(face.vertices[std::size_t(k)]) == position)
                at = at < 0 ? k : 3;
        if (at < 0 || at == 3)
            return HUGE_VAL;  // the point is two corners of this face
        const std::uint32_t a = face.vertices[std::size_t(at + 1) % 3],
                            b = face.vertices[std::size_t(at + 2) % 3];
        const Link link{neighbours.positionOf(a), neighbours.positionOf(b), a, b};
        if (link.from == link.to)
            return HUGE_VAL;
        links.push_back(link);
        centre = &mesh.vertices[face.vertices[std::size_t(at)]];
    }
    // The ring: from the first face on, each next face starts where the
    // last ended; every face once, and back to the start.
    std::vector<std::uint32_t> ring{links[0].fromVertex};
    std::vector<bool> used(count, false);
    used[0] = true;
    std::uint32_t end = links[0].to, endVertex = links[0].toVertex;
    for (std::size_t step = 1; step < count; ++step) {
        std::size_t next = count;
        for (std::size_t i = 0; i < count; ++i)
            if (!used[i] && links[i].from == end) {
                if (next < count)
                    return HUGE_VAL;  // two ways on: not a fan
                next = i;
            }
        if (next == count)
            return HUGE_VAL;
        used[next] = true;
        ring.push_back(endVertex);
        end = links[next].to, endVertex = links[next].toVertex;
    }
    if (end != links[0].from)
        return HUGE_VAL;

    const Vector3& v = *centre;
    auto corner = [&](std::size_t i) -> const Vector3& { return mesh.vertices[ring[i % count]]; };
    // The star's normal, for the axis and the plane.
    double normal[3] = {0, 0, 0};
    for (std::size_t i = 0; i < count; ++i) {
        const Vector3 &a = corner(i), &b = corner(i + 1);
        const double ax = double(a.x) - v.x, ay = double(a.y) - v.y, az = double(a.z) - v.z;
        const double bx = double(b.x) - v.x, by = double(b.y) - v.y, bz = double(b.z) - v.z;
        normal[0] += ay * bz - az * by;
        normal[1] += az * bx - ax * bz;
        normal[2] += ax * by - ay * bx;
    }
    int axis = 0;
    for (int i = 1; i < 3; ++i)
        if (std::fabs(normal[i]) > std::fabs(normal[axis]))
            axis = i;
    if (!(std::fabs(normal[axis]) > 0.0) || !std::isfinite(normal[axis]))
        return HUGE_VAL;
    // (one, two, axis) in cyclic order, so that a projected triangle turns
    // the way the normal's axis component says.
    const int one = (axis + 1) % 3, two = (axis + 2) % 3;
    const int turn = normal[axis] > 0.0 ? 1 : -1;
    auto orientation = [&](const Vector3& p, const Vector3& q, const Vector3& r) {
        return turnSign(p, q, r, one, two);
    };
    double angles = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Vector3 &a = corner(i), &b = corner(i + 1), &c = corner(i + 2);
        if (orientation(v, a, b) != turn || orientation(a, b, c) != turn)
            return HUGE_VAL;
        const double ax = coordinate(a, one) - coordinate(v, one),
                     ay = coordinate(a, two) - coordinate(v, two);
        const double bx = coordinate(b, one) - coordinate(v, one),
                     by = coordinate(b, two) - coordinate(v, two);
        angles += std::atan2(turn * (ax * by - ay * bx), ax * bx + ay * by);
    }
    if (!(angles < kOneAndAHalfTurns))
        return HUGE_VAL;

    const double g1 = -normal[one] / normal[axis], g2 = -normal[two] / normal[axis];
    double highest = 0.0, lowest = 0.0;  // v's own deviation is 0
    for (std::size_t i = 0; i < count; ++i) {
        double low, high;
        deviationEnclosure(corner(i), v, g1, g2, axis, one, two, low, high);
        highest = std::max(highest, high);
        lowest = std::min(lowest, low);
    }
    const double spread = addUp(highest, -lowest);
    return std::isfinite(spread) ? spread : HUGE_VAL;
}
