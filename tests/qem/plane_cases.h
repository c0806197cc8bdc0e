// Meshes and query sets for the nearest-plane search tests: each case at a
// scale where rounding is relative (centred meshes), absolute-dominated (a
// small mesh far from the origin) or extreme.
#pragma once

#include <omp.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "geometry/mesh.h"
#include "qem/index/kernels.h"
#include "qem/index/plane_index.h"

namespace test {

using Triangles = std::vector<std::array<std::uint32_t, 3>>;

inline Mesh makeMesh(std::vector<Vector3> vertices, const Triangles& triangles)
{
    Mesh mesh;
    mesh.vertices.assign(vertices.begin(), vertices.end());
    for (const auto& t : triangles)
        mesh.faces.push_back({t, faceNormal(mesh.vertices[t[0]], mesh.vertices[t[1]],
                                            mesh.vertices[t[2]])});
    return mesh;
}

inline Mesh pointsOnly(std::vector<Vector3> points)
{
    Mesh mesh;
    mesh.vertices.assign(points.begin(), points.end());
    return mesh;
}

inline float uniform(std::mt19937& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

inline Vector3 randomPoint(std::mt19937& rng, float centre, float size)
{
    return {centre + uniform(rng, -size, size), centre + uniform(rng, -size, size),
            centre + uniform(rng, -size, size)};
}

// Small independent triangles scattered through a cube.
inline Mesh soup(std::mt19937& rng, int faces, float centre, float size)
{
    std::vector<Vector3> v;
    Triangles t;
    for (int f = 0; f < faces; ++f) {
        Vector3 c = randomPoint(rng, centre, size);
        for (int k = 0; k < 3; ++k)
            v.push_back({c.x + uniform(rng, -size, size) * 0.1f,
                         c.y + uniform(rng, -size, size) * 0.1f,
                         c.z + uniform(rng, -size, size) * 0.1f});
        t.push_back({std::uint32_t(3 * f), std::uint32_t(3 * f + 1), std::uint32_t(3 * f + 2)});
    }
    return makeMesh(v, t);
}

// A closed torus, optionally with jittered vertices.
inline Mesh torus(std::mt19937& rng, int major, int minor, float centre, float radius, float jitter)
{
    std::vector<Vector3> v;
    Triangles t;
    for (int i = 0; i < major; ++i)
        for (int j = 0; j < minor; ++j) {
            double a = 2 * M_PI * i / major, b = 2 * M_PI * j / minor;
            double r = radius * (1 + 0.4 * std::cos(b));
            v.push_back({centre + float(r * std::cos(a)) + uniform(rng, -jitter, jitter),
                         centre + float(r * std::sin(a)) + uniform(rng, -jitter, jitter),
                         centre + float(0.4 * radius * std::sin(b))});
            auto at = [&](int ii, int jj) {
                return std::uint32_t((ii % major) * minor + jj % minor);
            };
            t.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            t.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    return makeMesh(v, t);
}

// Triangles lying exactly in a few planes z = k/2 (and, every third one,
// x = k/2), so that many faces share a plane and an axis-aligned normal.
inline Mesh parallelPlanes(std::mt19937& rng, int faces, bool withVertical = true)
{
    std::vector<Vector3> v;
    Triangles t;
    for (int f = 0; f < faces; ++f) {
        float level = float(int(uniform(rng, 0, 8))) * 0.5f;
        bool vertical = withVertical && f % 3 == 0;
        for (int k = 0; k < 3; ++k) {
            float a = uniform(rng, -10, 10), b = uniform(rng, -10, 10);
            v.push_back(vertical ? Vector3{level, a, b} : Vector3{a, b, level});
        }
        t.push_back({std::uint32_t(3 * f), std::uint32_t(3 * f + 1), std::uint32_t(3 * f + 2)});
    }
    return makeMesh(v, t);
}

// Points on the faces of `mesh` (inside and on the corners) and near them:
// the values there are rounding noise, where a thin allowance shows.
inline std::vector<Vector3> onFaces(std::mt19937& rng, const Mesh& mesh, int count, float off)
{
    std::vector<Vector3> points;
    for (int i = 0; i < count; ++i) {
        const Face& f = mesh.faces[std::size_t(rng() % mesh.faces.size())];
        float a = uniform(rng, 0, 1), b = uniform(rng, 0, 1 - a);
        const Vector3 &c0 = mesh.corner(f, 0), &c1 = mesh.corner(f, 1), &c2 = mesh.corner(f, 2);
        Vector3 p = i % 5 == 0 ? c0
                               : Vector3{c0.x + a * (c1.x - c0.x) + b * (c2.x - c0.x),
                                         c0.y + a * (c1.y - c0.y) + b * (c2.y - c0.y),
                                         c0.z + a * (c1.z - c0.z) + b * (c2.z - c0.z)};
        float s = uniform(rng, -off, off);
        points.push_back({p.x + s * f.normal.x, p.y + s * f.normal.y, p.z + s * f.normal.z});
    }
    return points;
}

inline std::vector<Vector3> inCube(std::mt19937& rng, int count, float centre, float size)
{
    std::vector<Vector3> points;
    for (int i = 0; i < count; ++i)
        points.push_back(randomPoint(rng, centre, size));
    return points;
}

inline std::vector<Vector3> concat(std::vector<Vector3> a, const std::vector<Vector3>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Pair {
    Mesh from, to;
};

struct Case {
    std::string name;
    std::function<Pair(std::mt19937&)> make;
};

// Test names and failure messages show the case by name.
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

inline std::vector<Case> cases()
{
    auto soupCase = [](float centre, float size) {
        return [=](std::mt19937& rng) {
            Mesh to = soup(rng, 1500, centre, size);
            return Pair{pointsOnly(concat(inCube(rng, 700, centre, 1.5f * size),
                                          onFaces(rng, to, 700, size * 1e-3f))),
                        to};
        };
    };
    return {
        {"soup", soupCase(0, 60)},
        {"soupFarFromOrigin", soupCase(3000, 1)},
        {"soupTiny", soupCase(0, 1e-20f)},
        // As large as faceNormal allows: its float squares overflow beyond.
        {"soupHuge", soupCase(0, 1e8f)},
        {"soupHugeFarFromOrigin", soupCase(1e12f, 1e6f)},
        // Nodes with fewer than 8 children (the index is used from 9 faces).
        {"fewFaces",
         [=](std::mt19937& rng) {
             Mesh to = soup(rng, 45, 0, 20);
             return Pair{pointsOnly(concat(inCube(rng, 300, 0, 30), onFaces(rng, to, 300, 1e-4f))),
                         to};
         }},
        {"soupSubnormal",
         [=](std::mt19937& rng) {
             // Scaled after the normals were computed: coordinates near and
             // below FLT_MIN, where roundings are absolute, not relative.
             Pair pair = soupCase(0, 60)(rng);
             for (Mesh* m : {&pair.from, &pair.to})
                 for (Vector3& v : m->vertices)
                     v = {v.x * 0x1p-140f, v.y * 0x1p-140f, v.z * 0x1p-140f};
             return pair;
         }},
        {"torusPair",
         [](std::mt19937& rng) {
             return Pair{torus(rng, 40, 24, 0.5f, 30, 0.3f), torus(rng, 60, 30, 0, 30, 0.2f)};
         }},
        {"torusFarFromOrigin",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 50, 20, 500, 2, 0.01f);
             return Pair{pointsOnly(onFaces(rng, to, 1500, 1e-4f)), to};
         }},
        {"identical",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 50, 24, 0, 40, 0.5f);
             return Pair{to, to};
         }},
        {"parallelPlanes",
         [](std::mt19937& rng) {
             Mesh to = parallelPlanes(rng, 1500);
             return Pair{pointsOnly(concat(inCube(rng, 800, 0, 12), onFaces(rng, to, 800, 0.3f))),
                         to};
         }},
        {"fartherThan1000",
         [](std::mt19937& rng) {
             // Planes within a few degrees of z = const near the origin, and
             // queries thousands above and below: many keep kFarDistance.
             Mesh to = parallelPlanes(rng, 900, false);
             for (Vector3& v : to.vertices)
                 v.z += 0.02f * v.x - 0.01f * v.y;
             to = makeMesh({to.vertices.begin(), to.vertices.end()}, [&] {
                 Triangles t;
                 for (const Face& f : to.faces)
                     t.push_back(f.vertices);
                 return t;
             }());
             std::vector<Vector3> q;
             for (int i = 0; i < 600; ++i)
                 q.push_back({uniform(rng, -5, 5), uniform(rng, -5, 5),
                              (i % 2 ? 1 : -1) * uniform(rng, 900, 3000)});
             return Pair{pointsOnly(q), to};
         }},
    };
}

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Runs `body` with `threads` OpenMP threads, then restores the count.
template <class F>
inline void withThreads(int threads, F body)
{
    int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    body();
    omp_set_num_threads(saved);
}

inline std::vector<bool> kernelChoices()
{
    std::vector<bool> portable{true};
    if (avx2PlaneKernels())
        portable.push_back(false);
    return portable;
}

// Every plane index kernel set this CPU can run.
inline std::vector<const PlaneKernels*> indexKernelSets()
{
    std::vector<const PlaneKernels*> sets{&portablePlaneKernels()};
    for (const PlaneKernels* set : {avx2PlaneKernels(), avx512PlaneKernels()})
        if (set)
            sets.push_back(set);
    return sets;
}
// Whether the indexed search may be called directly for this pair.
inline bool indexApplies(const Mesh& from, const Mesh& to)
{
    return to.faces.size() > std::size_t(kLanes) && inPlaneIndexDomain(to) &&
           inPlaneIndexDomain(from.vertices);
}

} // namespace test
