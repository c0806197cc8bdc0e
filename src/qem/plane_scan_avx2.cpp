// The AVX2 kernel of the filtered exhaustive scan: eight faces per step,
// their corners and normals gathered from the mesh arrays once and tested
// against each query of the group. The filter is that of plane_scan.h
// (differences, float products, (x + y) + z, absolute value, minimum over the
// corners): its bound holds for these operations whatever the order of the
// minimum, and every admitted face goes through facePlaneDistance, so the
// result is the portable kernel's and the reference's. No fused multiply-add.
#include "qem/plane_scan.h"

#if defined(__x86_64__) || defined(__i386__)

#include <climits>
#include <cmath>
#include <immintrin.h>

#include "qem/plane_distance.h"

static_assert(sizeof(Face) == 24 && sizeof(Vector3) == 12, "gather strides");

// clang ignores GCC's target pragma and needs its own form.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace {

inline __m256 absps(__m256 a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }

// |s| of plane_scan.h for one corner in eight lanes.
inline __m256 cornerGaps(__m256 vx, __m256 vy, __m256 vz, __m256 cx, __m256 cy, __m256 cz,
                         __m256 nx, __m256 ny, __m256 nz)
{
    __m256 px = _mm256_mul_ps(_mm256_sub_ps(vx, cx), nx);
    __m256 py = _mm256_mul_ps(_mm256_sub_ps(vy, cy), ny);
    __m256 pz = _mm256_mul_ps(_mm256_sub_ps(vz, cz), nz);
    return absps(_mm256_add_ps(_mm256_add_ps(px, py), pz));
}

void scanAvx2(const Mesh& mesh, const Vector3* queries, const float* allow, int count,
              std::size_t first, std::size_t last, float* best)
{
    // Vertex offsets are gathered as 32-bit element indices (3 per vertex).
    if (mesh.vertices.size() > std::size_t(INT_MAX / 3)) {
        portablePlaneScanKernel().scan(mesh, queries, allow, count, first, last, best);
        return;
    }
    float threshold[kScanGroup];
    for (int q = 0; q < count; ++q)
        threshold[q] = best[q] + allow[q];
    const float* vertices = reinterpret_cast<const float*>(mesh.vertices.data());
    const __m256i stride = _mm256_setr_epi32(0, 6, 12, 18, 24, 30, 36, 42);
    std::size_t f = first;
    for (; f + 8 <= last; f += 8) {
        const Face* block = mesh.faces.data() + f;
        const int* ints = reinterpret_cast<const int*>(block);
        const float* floats = reinterpret_cast<const float*>(block);
        __m256i corner[3];
        for (int k = 0; k < 3; ++k) {
            __m256i index = _mm256_i32gather_epi32(ints + k, stride, 4);
            corner[k] = _mm256_add_epi32(_mm256_add_epi32(index, index), index);
        }
        __m256 nx = _mm256_i32gather_ps(floats + 3, stride, 4);
        __m256 ny = _mm256_i32gather_ps(floats + 4, stride, 4);
        __m256 nz = _mm256_i32gather_ps(floats + 5, stride, 4);
        __m256 c[3][3];
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                c[k][i] = _mm256_i32gather_ps(vertices + i, corner[k], 4);
        for (int q = 0; q < count; ++q) {
            __m256 vx = _mm256_set1_ps(queries[q].x);
            __m256 vy = _mm256_set1_ps(queries[q].y);
            __m256 vz = _mm256_set1_ps(queries[q].z);
            __m256 g = cornerGaps(vx, vy, vz, c[0][0], c[0][1], c[0][2], nx, ny, nz);
            g = _mm256_min_ps(g, cornerGaps(vx, vy, vz, c[1][0], c[1][1], c[1][2], nx, ny, nz));
            g = _mm256_min_ps(g, cornerGaps(vx, vy, vz, c[2][0], c[2][1], c[2][2], nx, ny, nz));
            unsigned mask = unsigned(_mm256_movemask_ps(
                _mm256_cmp_ps(g, _mm256_set1_ps(threshold[q]), _CMP_LE_OQ)));
            for (; mask; mask &= mask - 1) {
                std::uint32_t face = std::uint32_t(f) + std::uint32_t(__builtin_ctz(mask));
                float d = facePlaneDistance(queries[q], mesh, face);
                if (d < best[q]) {
                    best[q] = d;
                    threshold[q] = d + allow[q];
                }
            }
        }
    }
    for (int q = 0; q < count; ++q)
        for (std::size_t t = f; t < last; ++t) {
            std::uint32_t face = std::uint32_t(t);
            if (!(planeScanGap(queries[q], mesh, face) <= threshold[q]))
                continue;
            float d = facePlaneDistance(queries[q], mesh, face);
            if (d < best[q]) {
                best[q] = d;
                threshold[q] = d + allow[q];
            }
        }
}

} // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const PlaneScanKernel* avx2PlaneScanKernel()
{
    static const PlaneScanKernel kernel{scanAvx2, "avx2"};
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &kernel : nullptr;
}

#else

const PlaneScanKernel* avx2PlaneScanKernel() { return nullptr; }

#endif
