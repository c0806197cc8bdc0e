// AVX-512 kernels and the traversal compiled over them: the AVX2 bounds
// (avx2_bounds.h), except leafAny, the filter that most leaves a packet
// visits stop at, which takes its packets of 64 queries in four vectors of 16
// where the AVX2 set takes eight vectors of 8. It performs the same IEEE
// operations per (face, query) in the same order, so every kernel set
// returns the same bits.
// Compiled for AVX2 and AVX-512F, and run only after
// __builtin_cpu_supports("avx512f"); headers are included before the target
// region for the reason kernels_avx2.cpp gives. No fused multiply-add: no
// fma target is enabled, the build has -ffp-contract=off, and no fmadd
// intrinsic is used.
#include "qem/index/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <immintrin.h>
#include <vector>

#include "qem/plane_distance.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f")
#endif

#include "qem/index/traversal.h"
#include "qem/index/avx2_bounds.h"

namespace {

struct Avx512 : Avx2 {
    // As Avx2::leafAny, over the faces of `faces`, 16 queries a vector, in
    // packets of 64 (1.1x the speed of 32 on the real scans): |s| clears the
    // sign bit, as absps does.
    static constexpr int kPacketSize = 64;
    static bool leafAny(const PlaneLeaf& leaf, const PlanePacket& packet, float allow,
                        unsigned faces)
    {
        constexpr int kVectors = kPacketSize / 16;
        static_assert(kPacketSize % 16 == 0 && kPacketSize <= kMaxPacket, "whole vectors");
        const __m512 a = _mm512_set1_ps(allow);
        const __m512i magnitude = _mm512_set1_epi32(0x7fffffff);
        __m512 v[kVectors][3];
        __m512 threshold[kVectors];
        for (int h = 0; h < kVectors; ++h) {
            v[h][0] = _mm512_sub_ps(_mm512_loadu_ps(packet.x + 16 * h), _mm512_set1_ps(leaf.px));
            v[h][1] = _mm512_sub_ps(_mm512_loadu_ps(packet.y + 16 * h), _mm512_set1_ps(leaf.py));
            v[h][2] = _mm512_sub_ps(_mm512_loadu_ps(packet.z + 16 * h), _mm512_set1_ps(leaf.pz));
            threshold[h] = _mm512_add_ps(_mm512_loadu_ps(packet.best + 16 * h), a);
        }
        __mmask16 any = 0;
        for (; faces; faces &= faces - 1) {
            const int j = __builtin_ctz(faces);
            const __m512 nx = _mm512_set1_ps(leaf.nx[j]);
            const __m512 ny = _mm512_set1_ps(leaf.ny[j]);
            const __m512 nz = _mm512_set1_ps(leaf.nz[j]);
            const __m512 omid = _mm512_set1_ps(leaf.omid[j]);
            const __m512 hw = _mm512_set1_ps(leaf.hw[j]);
            for (int h = 0; h < kVectors; ++h) {
                const __m512 x = _mm512_mul_ps(nx, v[h][0]);
                const __m512 y = _mm512_mul_ps(ny, v[h][1]);
                const __m512 z = _mm512_mul_ps(nz, v[h][2]);
                const __m512 s = _mm512_sub_ps(_mm512_add_ps(_mm512_add_ps(x, y), z), omid);
                const __m512 abs = _mm512_castsi512_ps(
                    _mm512_and_si512(_mm512_castps_si512(s), magnitude));
                const __m512 gap = _mm512_sub_ps(abs, hw);
                any |= _mm512_cmp_ps_mask(gap, threshold[h], _CMP_LE_OQ);
            }
        }
        return any != 0;
    }
};

void searchPacketAvx512(const PlaneIndex& index, const Mesh& mesh, PlanePacket& packet,
                        std::vector<StackEntry>& stack)
{
    searchPacketWith<Avx512>(index, mesh, packet, stack);
}

} // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const PlaneKernels* avx512PlaneKernels()
{
    static const PlaneKernels kernels{nodeBoundsAvx2,     leafBoxGapsAvx2, Avx512::leafBoxMask,
                                       leafGapsAvx2,       Avx512::leafMask, Avx512::leafAny,
                                       searchPacketAvx512, Avx512::kPacketSize, "avx512"};
    static const bool supported = __builtin_cpu_supports("avx512f");
    return supported ? &kernels : nullptr;
}

#else

const PlaneKernels* avx512PlaneKernels() { return nullptr; }

#endif
