// The rounding argument of each helper sits beside it.
//
// Notation: ud = 2^-53. Each double +, - or * of doubles rounds once to
// nearest, fl(a op b) = (a op b)(1 + e), |e| <= ud, and k such roundings in a
// row stay within gamma_k = k ud / (1 - k ud). Inside the index's domain no
// double here underflows (every nonzero value is at least 2^-298 until its
// last rounding to float) or overflows (all stay below 2^120).
//
// floatDown and floatUp are exact, so the margin of each helper is the only
// thing that covers the double rounding before it: a double result that lands
// exactly on a float keeps that float, however near the real value lies on
// the wrong side. enclosure_test builds such inputs for every margin.
#include "qem/index/enclosure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Round to nearest, then step one float toward the safe side if that landed
// on the wrong side of x; the nearest float is adjacent to x, so one step
// suffices. A float's neighbour is one bit pattern away: toward -inf the
// pattern minus 1 for a positive float (+inf steps to FLT_MAX), plus 1 for a
// negative one (-0 steps to -2^-149); toward +inf the reverse (+0 steps to
// 2^-149, -inf to -FLT_MAX). +0 never needs a step down, as only x >= 0 rounds
// to it, nor -0 a step up. The step is selected by a comparison mask, not by a
// branch: the comparison goes either way about half the time, and a
// mispredicted branch here once dominated the build. With SSE2 every
// operation stays in vector registers: moving the pattern to a general
// register and back made the whole build 10 % slower.
#if defined(__SSE2__)

namespace {

// The pattern of r moved one float toward -inf (sign -1) or +inf (sign +1)
// where `mask` is all ones.
__m128 stepWhere(__m128 r, __m128d mask, int sign)
{
    const __m128i bits = _mm_castps_si128(r);
    // -1 for a negative pattern, +1 otherwise: the step away from zero.
    const __m128i outward = _mm_or_si128(_mm_srai_epi32(bits, 31), _mm_set1_epi32(1));
    const __m128i step = _mm_and_si128(outward, _mm_castpd_si128(mask));
    return _mm_castsi128_ps(sign > 0 ? _mm_add_epi32(bits, step) : _mm_sub_epi32(bits, step));
}

} // namespace

float floatDown(double x)
{
    const __m128d xd = _mm_set_sd(x);
    const __m128 r = _mm_cvtsd_ss(_mm_setzero_ps(), xd);
    const __m128d above = _mm_cmpgt_sd(_mm_cvtss_sd(_mm_setzero_pd(), r), xd);
    return _mm_cvtss_f32(stepWhere(r, above, -1));
}

float floatUp(double x)
{
    const __m128d xd = _mm_set_sd(x);
    const __m128 r = _mm_cvtsd_ss(_mm_setzero_ps(), xd);
    const __m128d below = _mm_cmplt_sd(_mm_cvtss_sd(_mm_setzero_pd(), r), xd);
    return _mm_cvtss_f32(stepWhere(r, below, +1));
}

#else

float floatDown(double x)
{
    float r = float(x);
    std::uint32_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    const std::uint32_t step = (bits >> 31) * 2u - 1u;  // +1 if negative, else -1
    const std::uint32_t above = 0u - std::uint32_t(double(r) > x);
    bits += step & above;
    std::memcpy(&r, &bits, sizeof r);
    return r;
}

float floatUp(double x)
{
    float r = float(x);
    std::uint32_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    const std::uint32_t step = 1u - (bits >> 31) * 2u;  // -1 if negative, else +1
    const std::uint32_t below = 0u - std::uint32_t(double(r) < x);
    bits += step & below;
    std::memcpy(&r, &bits, sizeof r);
    return r;
}

#endif

// Corner c, real D_i = c_i - p_i, o = sum n_i D_i, S = sum |D_i| |n_i|.
// dx = fl(c_x - p_x) is D_x (1 + e) (exact unless the exponents of c_x and p_x
// are more than 29 apart), the product with the float n_x rounds once more,
// and each of the two additions once: |w - o| <= gamma_4 S. The error is
// relative to the operands, not to w: when w cancels to near 0 it stays
// gamma_4 S. The computed s >= (1 - gamma_4) S, and margin = 2^-48 s (exact)
// = 32 ud s >= 31.9 ud S. Rounding w - margin adds at most
// ud (|w| + margin) <= 1.01 ud S, so
//     fl(w - margin) <= o + (4.01 + 1.01 - 31.9) ud S <= o,
// and floatDown keeps lo below o; hi likewise. rad: fl(s (1 + 2^-48))
// >= (1 - gamma_4)(1 + 32 ud)(1 - ud) S >= S, and floatUp keeps it above.
OffsetRange offsetRange(const Vector3 (&corner)[3], const Vector3& n, const float p[3])
{
    double lo = HUGE_VAL, hi = -HUGE_VAL, rad = 0.0;
    for (const Vector3& c : corner) {
        double dx = double(c.x) - p[0];
        double dy = double(c.y) - p[1];
        double dz = double(c.z) - p[2];
        double w = dx * n.x + dy * n.y + dz * n.z;
        double s = std::fabs(dx) * std::fabs(n.x) + std::fabs(dy) * std::fabs(n.y) +
                   std::fabs(dz) * std::fabs(n.z);
        double margin = s * 0x1p-48;
        lo = std::min(lo, w - margin);
        hi = std::max(hi, w + margin);
        rad = std::max(rad, s * (1.0 + 0x1p-48));
    }
    return {floatDown(lo), floatUp(hi), floatUp(rad)};
}

// Lane j, real D_i = p_j,i - P_i, nmax_i = max(|nlo_i|, |nhi_i|), and
// Mag = |olo_j| + |ohi_j| + sum nmax_i |D_i|. d_i = fl(D_i) = D_i (1 + e) has
// the sign of D_i, and rounding is monotone, so min(a, b) takes the same end
// of [nlo_i, nhi_i] as the real least m_i of n_i D_i over the box, within
// gamma_2 of it, |m_i| <= nmax_i |D_i|. low adds olo_j and the three in turn:
// each term meets at most three more roundings, so with L = olo_j + sum m_i
// (the contract's least value) |low - L| <= gamma_5 Mag, again relative to
// the operands when low cancels. The computed mag >= (1 - gamma_6) Mag, and
//     fl(low - 2^-48 mag) <= L + (5.01 + 1.01 - 31.9) ud Mag <= L;
// floatDown keeps it; hi likewise. rad: the computed spread >= (1 - gamma_4)
// sum nmax_i |D_i|, and fl(fl(rad_j + spread)(1 + 2^-48))
// >= (1 - gamma_6)(1 + 32 ud)(rad_j + sum nmax_i |D_i|), at least the real
// value; floatUp keeps it.
OffsetRange deriveOffsets(const PlaneNode& node, const float P[3])
{
    double lo = HUGE_VAL, hi = -HUGE_VAL, rad = 0.0;
    for (int j = 0; j < node.count; ++j) {
        const double d[3] = {double(node.px[j]) - P[0], double(node.py[j]) - P[1],
                             double(node.pz[j]) - P[2]};
        const float nlo[3] = {node.nlox[j], node.nloy[j], node.nloz[j]};
        const float nhi[3] = {node.nhix[j], node.nhiy[j], node.nhiz[j]};
        double low = node.olo[j], high = node.ohi[j];
        double mag = std::fabs(double(node.olo[j])) + std::fabs(double(node.ohi[j]));
        double spread = 0.0;
        for (int i = 0; i < 3; ++i) {
            double a = nlo[i] * d[i], b = nhi[i] * d[i];
            low += std::min(a, b);
            high += std::max(a, b);
            spread += std::max(std::fabs(double(nlo[i])), std::fabs(double(nhi[i]))) *
                      std::fabs(d[i]);
        }
        mag += spread;
        lo = std::min(lo, low - mag * 0x1p-48);
        hi = std::max(hi, high + mag * 0x1p-48);
        rad = std::max(rad, (double(node.rad[j]) + spread) * (1.0 + 0x1p-48));
    }
    return {floatDown(lo), floatUp(hi), floatUp(rad)};
}

// fl(lo + hi) / 2 is exact halving, and rounding is monotone, so
// lo <= mid <= hi. hi - mid and mid - lo are differences of two floats, exact
// in double unless their exponents are more than 29 apart: lo = -2^-100 and
// hi = 1 give mid = 1/2, and mid - lo rounds down to 1/2, below the real
// width. Either is then within ud of its real value, so
// fl(max(...)(1 + 2^-45)) >= (1 - ud)^2 (1 + 256 ud) max(hi - mid, mid - lo)
// >= the real maximum, and floatUp keeps hw above it.
LeafOffsets leafOffsets(float lo, float hi)
{
    float mid = float(0.5 * (double(lo) + double(hi)));
    double half = std::max(double(hi) - mid, mid - double(lo)) * (1.0 + 0x1p-45);
    return {mid, floatUp(half)};
}

// For each face, below = fl(mid - hw) is within ud |mid - hw| of it, exact
// unless the exponents are more than 29 apart (mid = 1, hw = 2^-40 rounds to
// 1). The subtraction of 2^-45 |below| (exact) rounds once more, so
//     fl(below - 2^-45 |below|) <= (mid - hw) - (256 - 3) ud |mid - hw|,
// below mid - hw; above likewise. floatDown is monotone, so rounding the
// least of these once gives the least of their roundings: one rounding per
// leaf, not two per face. The pairs leafOffsets makes never come that far
// apart (hw is 0 or at least about 2^-25 |mid|, and mid is 0 or at least
// about 2^-25 hw), but the contract holds for any pairs.
OffsetInterval leafLaneOffsets(const PlaneLeaf& leaf)
{
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (int m = 0; m < kLanes; ++m) {
        double below = double(leaf.omid[m]) - double(leaf.hw[m]);
        double above = double(leaf.omid[m]) + double(leaf.hw[m]);
        lo = std::min(lo, below - std::fabs(below) * 0x1p-45);
        hi = std::max(hi, above + std::fabs(above) * 0x1p-45);
    }
    return {floatDown(lo), floatUp(hi)};
}
