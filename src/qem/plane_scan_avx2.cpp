// The AVX2 kernel of the filtered exhaustive scan: eight faces per step,
// their corners and normals loaded from the mesh arrays once and tested
// against each query of the group. Each face and each corner is one row of
// plain loads, turned into vectors by shuffles: on AMD's Zen 4 that took half
// the time of AVX2 gathers (13.1 -> 6.1-6.8 ms for 4 queries against 10^6
// faces, meshqem_search_bench). The filter is that of plane_scan.h
// (differences, float products, (x + y) + z, absolute value, minimum over the
// corners): its bound holds for these operations whatever the order of the
// minimum, and every admitted face goes through facePlaneDistance, so the
// result is the portable kernel's and the reference's. The last faces, fewer
// than eight, are computed exactly for eight queries at once instead. No
// fused multiply-add.
#include "qem/plane_scan.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cmath>
#include <immintrin.h>

#include "qem/plane_distance.h"

static_assert(sizeof(Face) == 24 && sizeof(Vector3) == 12, "row layouts");
static_assert(kScanGroup == 8, "a group of queries fills one vector");

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

// facePlaneDistance of one corner for eight queries, the lanes' own
// arithmetic: float differences, products and the two sums in double (the
// products are exact; (x + y) + z as dot adds them), one rounding to float,
// absolute value.
inline __m256 exactCornerValues(__m256 vx, __m256 vy, __m256 vz, const Vector3& c,
                                const Vector3& n)
{
    const __m256 e[3] = {_mm256_sub_ps(vx, _mm256_set1_ps(c.x)),
                         _mm256_sub_ps(vy, _mm256_set1_ps(c.y)),
                         _mm256_sub_ps(vz, _mm256_set1_ps(c.z))};
    const __m256d m[3] = {_mm256_set1_pd(n.x), _mm256_set1_pd(n.y), _mm256_set1_pd(n.z)};
    __m128 half[2];
    for (int h = 0; h < 2; ++h) {
        __m256d sum;
        for (int i = 0; i < 3; ++i) {
            const __m128 part = h ? _mm256_extractf128_ps(e[i], 1) : _mm256_castps256_ps128(e[i]);
            const __m256d product = _mm256_mul_pd(_mm256_cvtps_pd(part), m[i]);
            sum = i ? _mm256_add_pd(sum, product) : product;
        }
        half[h] = _mm256_cvtpd_ps(sum);
    }
    return absps(_mm256_set_m128(half[1], half[0]));
}

// The faces left after the last full step of eight, fewer than eight, with
// the queries in the lanes and no filter: each face's value is computed
// exactly as facePlaneDistance does. The corners are kept by strict
// comparison (min_ps(a, b) is a < b ? a : b) and so is the best, and in the
// domain no value is NaN, so each lane ends with the reference's bits. A
// mesh with fewer than eight faces, the usual lopsided pair's small side,
// takes only this path: every query against every face, eight at a time.
void exactTail(const Mesh& mesh, const Vector3* queries, int count, std::size_t first,
               std::size_t last, float* best)
{
    if (count <= 0)
        return;
    float x[kScanGroup], y[kScanGroup], z[kScanGroup], least[kScanGroup];
    for (int q = 0; q < kScanGroup; ++q) {
        const int from = q < count ? q : 0;  // spare lanes repeat query 0
        x[q] = queries[from].x, y[q] = queries[from].y, z[q] = queries[from].z;
        least[q] = best[from];
    }
    const __m256 vx = _mm256_loadu_ps(x), vy = _mm256_loadu_ps(y), vz = _mm256_loadu_ps(z);
    __m256 b = _mm256_loadu_ps(least);
    for (std::size_t t = first; t < last; ++t) {
        const Face& face = mesh.faces[t];
        __m256 d = exactCornerValues(vx, vy, vz, mesh.corner(face, 0), face.normal);
        d = _mm256_min_ps(exactCornerValues(vx, vy, vz, mesh.corner(face, 1), face.normal), d);
        d = _mm256_min_ps(exactCornerValues(vx, vy, vz, mesh.corner(face, 2), face.normal), d);
        b = _mm256_min_ps(d, b);
    }
    _mm256_storeu_ps(least, b);
    for (int q = 0; q < count; ++q)
        best[q] = least[q];
}

// Four fields of eight records, one record per 128-bit row (rows j and j + 4
// share a register), transposed into four vectors of eight lanes in record
// order.
inline void transpose8x4(const __m128 (&row)[8], __m256 (&field)[4])
{
    __m256 y[4];
    for (int j = 0; j < 4; ++j)
        y[j] = _mm256_insertf128_ps(_mm256_castps128_ps256(row[j]), row[j + 4], 1);
    const __m256 t0 = _mm256_unpacklo_ps(y[0], y[1]), t1 = _mm256_unpackhi_ps(y[0], y[1]);
    const __m256 t2 = _mm256_unpacklo_ps(y[2], y[3]), t3 = _mm256_unpackhi_ps(y[2], y[3]);
    field[0] = _mm256_shuffle_ps(t0, t2, 0x44);
    field[1] = _mm256_shuffle_ps(t0, t2, 0xEE);
    field[2] = _mm256_shuffle_ps(t1, t3, 0x44);
    field[3] = _mm256_shuffle_ps(t1, t3, 0xEE);
}

void scanAvx2(const Mesh& mesh, const Vector3* queries, const float* allow, int count,
              std::size_t first, std::size_t last, float* best)
{
    float threshold[kScanGroup];
    for (int q = 0; q < count; ++q)
        threshold[q] = best[q] + allow[q];
    const float* vertices = reinterpret_cast<const float*>(mesh.vertices.data());
    std::size_t f = first;
    for (; f + 8 <= last; f += 8) {
        const Face* block = mesh.faces.data() + f;
        // Each face's six fields as two overlapping rows: (i0, i1, i2, nx)
        // and (i2, nx, ny, nz).
        __m128 head[8], tail[8];
        for (int j = 0; j < 8; ++j) {
            const float* fields = reinterpret_cast<const float*>(block + j);
            head[j] = _mm_loadu_ps(fields);
            tail[j] = _mm_loadu_ps(fields + 2);
        }
        __m256 h[4], t[4];
        transpose8x4(head, h);
        transpose8x4(tail, t);
        const __m256 nx = h[3], ny = t[2], nz = t[3];
        alignas(32) std::uint32_t index[3][8];
        for (int k = 0; k < 3; ++k)
            _mm256_store_si256(reinterpret_cast<__m256i*>(index[k]), _mm256_castps_si256(h[k]));
        // A corner's (x, y, z) as one row; the fourth lane is masked off, so
        // nothing past the last vertex is read.
        const __m128i xyz = _mm_setr_epi32(-1, -1, -1, 0);
        __m256 c[3][3];
        for (int k = 0; k < 3; ++k) {
            __m128 row[8];
            for (int j = 0; j < 8; ++j)
                row[j] = _mm_maskload_ps(vertices + 3 * std::size_t(index[k][j]), xyz);
            __m256 field[4];
            transpose8x4(row, field);
            c[k][0] = field[0], c[k][1] = field[1], c[k][2] = field[2];
        }
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
    if (f < last)
        exactTail(mesh, queries, count, f, last, best);
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
