#include "geometry/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <omp.h>

namespace {

// The box includeInBox widens to, one vertex after another, is the first
// vertex (in order, the box's own corner counted first) of the least value
// on each axis: a vertex replaces the corner only when strictly less, so ties
// (-0 and +0 among them) and NaN keep the corner. A part of the vertices
// folded from an empty box (+inf, -inf) yields its own first least value, and
// folding the parts' boxes into the corner in order gives the same first
// least value overall, as the one serial fold does.
struct Bounds {
    Vector3 lo{HUGE_VALF, HUGE_VALF, HUGE_VALF};
    Vector3 hi{-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};

    void include(const Vector3& v)
    {
        lo = {boxMin(lo.x, v.x), boxMin(lo.y, v.y), boxMin(lo.z, v.z)};
        hi = {boxMax(hi.x, v.x), boxMax(hi.y, v.y), boxMax(hi.z, v.z)};
    }
};

} // namespace

void Mesh::includeInBox(const Vector3& v)
{
    bboxMin.x = boxMin(bboxMin.x, v.x);
    bboxMin.y = boxMin(bboxMin.y, v.y);
    bboxMin.z = boxMin(bboxMin.z, v.z);
    bboxMax.x = boxMax(bboxMax.x, v.x);
    bboxMax.y = boxMax(bboxMax.y, v.y);
    bboxMax.z = boxMax(bboxMax.z, v.z);
}

void Mesh::includeVerticesInBox()
{
    const std::ptrdiff_t count = std::ptrdiff_t(vertices.size());
    const int parts = count >= kParallelMeshPass ? omp_get_max_threads() : 1;
    std::vector<Bounds> bounds(std::size_t(std::max(parts, 1)));
#pragma omp parallel for num_threads(parts) schedule(static, 1) if (parts > 1)
    for (int part = 0; part < parts; ++part) {
        const std::ptrdiff_t first = count * part / parts, last = count * (part + 1) / parts;
        Bounds& b = bounds[std::size_t(part)];
        for (std::ptrdiff_t i = first; i < last; ++i)
            b.include(vertices[std::size_t(i)]);
    }
    for (const Bounds& b : bounds) {
        bboxMin = {boxMin(bboxMin.x, b.lo.x), boxMin(bboxMin.y, b.lo.y), boxMin(bboxMin.z, b.lo.z)};
        bboxMax = {boxMax(bboxMax.x, b.hi.x), boxMax(bboxMax.y, b.hi.y), boxMax(bboxMax.z, b.hi.z)};
    }
}

void Mesh::translate(const Vector3& t)
{
    const std::ptrdiff_t count = std::ptrdiff_t(vertices.size());
#pragma omp parallel for schedule(static) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        vertices[std::size_t(i)] += t;
    bboxMin += t;
    bboxMax += t;
}

void Mesh::scale(float s)
{
    const std::ptrdiff_t count = std::ptrdiff_t(vertices.size());
#pragma omp parallel for schedule(static) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        vertices[std::size_t(i)] *= s;
    includeVerticesInBox();
}
