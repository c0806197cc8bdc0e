// AVX2 kernels (avx2_bounds.h) and the traversal compiled over them.
// Everything after the target pragma below is compiled for AVX2 (as if each
// function carried __attribute__((target("avx2")))), the rest of the binary
// for the baseline x86-64, and these run only after
// __builtin_cpu_supports("avx2"). Headers are included before the pragma so
// that no inline function or template they define is compiled for AVX2 and
// then shared with baseline code; traversal.h and avx2_bounds.h, included
// after it, give everything they define internal linkage for the same
// reason.
#include "qem/index/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <immintrin.h>
#include <vector>

#include "qem/plane_distance.h"

// clang ignores GCC's target pragma and needs its own form.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "qem/index/traversal.h"
#include "qem/index/avx2_bounds.h"

namespace {

void searchPacketAvx2(const PlaneIndex& index, const Mesh& mesh, PlanePacket& packet,
                      std::vector<StackEntry>& stack)
{
    searchPacketWith<Avx2>(index, mesh, packet, stack);
}

} // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const PlaneKernels* avx2PlaneKernels()
{
    static const PlaneKernels kernels{nodeBoundsAvx2,   leafBoxGapsAvx2, Avx2::leafBoxMask,
                                       leafGapsAvx2,     Avx2::leafMask,  Avx2::leafAny,
                                       searchPacketAvx2, Avx2::kPacketSize, "avx2"};
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &kernels : nullptr;
}

#else

const PlaneKernels* avx2PlaneKernels() { return nullptr; }

#endif
