// Targets and query sets for the nearest-surface search tests: each case at a
// scale where rounding is relative (centred meshes), absolute-dominated (a
// small mesh far from the origin) or extreme, with queries placed in double
// on the faces, their edges and corners, near them and far away.
#pragma once

#include <cmath>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "qem/plane_cases.h"
#include "surface/point_triangle.h"

namespace test {

inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline std::vector<Point3d> toPoints(PointSpan v)
{
    std::vector<Point3d> points;
    for (const Vector3& x : v)
        points.push_back(toPoint3d(x));
    return points;
}

inline std::vector<Point3d> concat(std::vector<Point3d> a, const std::vector<Point3d>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Points of the faces in double: inside (kind 0), on an edge (1), at a corner
// (2), moved along the face normal by up to `off` (the values there are
// rounding noise, where a thin allowance shows).
inline std::vector<Point3d> surfacePoints(std::mt19937& rng, const Mesh& mesh, int count,
                                          double off)
{
    std::vector<Point3d> points;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < count; ++i) {
        const Face& f = mesh.faces[std::size_t(rng() % mesh.faces.size())];
        const Point3d c[3] = {toPoint3d(mesh.corner(f, 0)), toPoint3d(mesh.corner(f, 1)),
                              toPoint3d(mesh.corner(f, 2))};
        double w[3];
        switch (i % 3) {
        case 0: w[0] = unit(rng), w[1] = unit(rng) * (1 - w[0]), w[2] = 1 - w[0] - w[1]; break;
        case 1: w[0] = unit(rng), w[1] = 1 - w[0], w[2] = 0; break;
        default: w[0] = 1, w[1] = 0, w[2] = 0; break;
        }
        const int r = int(rng() % 3);  // which corner gets which weight
        Point3d p{0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            const Point3d& x = c[(k + r) % 3];
            p.x += w[k] * x.x, p.y += w[k] * x.y, p.z += w[k] * x.z;
        }
        if (i % 3 == 2)
            p = c[r];  // exactly the corner
        const double s = (i % 4 == 0) ? 0.0 : off * (2 * unit(rng) - 1);
        points.push_back({p.x + s * f.normal.x, p.y + s * f.normal.y, p.z + s * f.normal.z});
    }
    return points;
}

inline std::vector<Point3d> cubePoints(std::mt19937& rng, int count, double centre, double size)
{
    std::uniform_real_distribution<double> d(-size, size);
    std::vector<Point3d> points;
    for (int i = 0; i < count; ++i)
        points.push_back({centre + d(rng), centre + d(rng), centre + d(rng)});
    return points;
}

inline Mesh scaled(Mesh mesh, float factor)
{
    for (Vector3& v : mesh.vertices)
        v = {v.x * factor, v.y * factor, v.z * factor};
    return mesh;
}

// Collapses every `every`-th face: two corners equal, then three equal, then
// collinear (the third corner on the line of the first two).
inline Mesh withDegenerateFaces(Mesh mesh, int every)
{
    for (std::size_t f = 0; f < mesh.faces.size(); f += std::size_t(every)) {
        auto& v = mesh.faces[f].vertices;
        switch (f / std::size_t(every) % 3) {
        case 0: v[1] = v[0]; break;
        case 1: v[1] = v[2] = v[0]; break;
        default: {
            const Vector3 a = mesh.vertices[v[0]], b = mesh.vertices[v[1]];
            mesh.vertices.push_back({a.x + 2 * (b.x - a.x), a.y + 2 * (b.y - a.y),
                                     a.z + 2 * (b.z - a.z)});
            v[2] = std::uint32_t(mesh.vertices.size() - 1);
        }
        }
        mesh.faces[f].normal = faceNormal(mesh.vertices[v[0]], mesh.vertices[v[1]],
                                          mesh.vertices[v[2]]);
    }
    return mesh;
}

struct SurfacePair {
    std::vector<Point3d> queries;
    Mesh target;
};

struct SurfaceCase {
    std::string name;
    std::function<SurfacePair(std::mt19937&)> make;
};

inline void PrintTo(const SurfaceCase& c, std::ostream* os) { *os << c.name; }

inline std::vector<SurfaceCase> surfaceCases()
{
    auto soupCase = [](float centre, float size) {
        return [=](std::mt19937& rng) {
            Mesh to = soup(rng, 1200, centre, size);
            return SurfacePair{concat(cubePoints(rng, 500, centre, 1.5 * size),
                                      surfacePoints(rng, to, 700, size * 1e-4)),
                               to};
        };
    };
    auto scaledCase = [](float factor) {
        return [=](std::mt19937& rng) {
            Mesh to = scaled(torus(rng, 40, 16, 0, 30, 0.3f), factor);
            return SurfacePair{concat(cubePoints(rng, 400, 0, 50.0 * factor),
                                      surfacePoints(rng, to, 800, 1e-3 * factor)),
                               to};
        };
    };
    return {
        {"soup", soupCase(0, 60)},
        {"soupFarFromOrigin", soupCase(3000, 1)},
        {"torusPair",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 60, 30, 0, 30, 0.2f);
             Mesh from = torus(rng, 40, 24, 0.5f, 30, 0.3f);
             return SurfacePair{concat(toPoints(from.vertices), surfacePoints(rng, to, 600, 1e-2)),
                                to};
         }},
        {"torusFarFromOrigin",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 50, 20, 500, 2, 0.01f);
             return SurfacePair{surfacePoints(rng, to, 1500, 1e-5), to};
         }},
        {"identical",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 50, 24, 0, 40, 0.5f);
             return SurfacePair{toPoints(to.vertices), to};
         }},
        // Runs of one repeated point fill whole packets: the one case
        // where the queries of a packet share a traversal.
        {"repeatedQueries",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 40, 20, 0, 20, 0.2f);
             std::vector<Point3d> q;
             for (const Point3d& p : concat(cubePoints(rng, 12, 0, 30), surfacePoints(rng, to, 12, 1e-3)))
                 q.insert(q.end(), 40, p);
             return SurfacePair{q, to};
         }},
        {"parallelPlanes",
         [](std::mt19937& rng) {
             Mesh to = parallelPlanes(rng, 1500);
             return SurfacePair{concat(cubePoints(rng, 600, 0, 12), surfacePoints(rng, to, 900, 0.3)),
                                to};
         }},
        {"degenerateFaces",
         [](std::mt19937& rng) {
             Mesh to = withDegenerateFaces(torus(rng, 40, 20, 0, 10, 0.1f), 3);
             return SurfacePair{concat(cubePoints(rng, 500, 0, 15), surfacePoints(rng, to, 900, 1e-4)),
                                to};
         }},
        {"farAway",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 30, 12, 0, 1, 0.01f);
             std::vector<Point3d> q = cubePoints(rng, 300, 0, 1e6);
             for (Point3d& p : cubePoints(rng, 300, 0, 1e9))
                 q.push_back(p);
             return SurfacePair{q, to};
         }},
        {"huge", scaledCase(1e30f / 50)},
        {"tiny", scaledCase(1e-30f)},
        // Corners in the float subnormal range, where roundings are absolute.
        {"subnormal", scaledCase(0x1p-140f)},
        // Nodes with fewer than 8 children.
        {"fewFaces",
         [](std::mt19937& rng) {
             Mesh to = soup(rng, 45, 0, 20);
             return SurfacePair{concat(cubePoints(rng, 300, 0, 30), surfacePoints(rng, to, 300, 1e-4)),
                                to};
         }},
    };
}

} // namespace test
