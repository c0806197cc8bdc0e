#include "qem/index/enclosure.h"

#include <algorithm>
#include <cmath>

// Floats on the safe side of a double, without a data-dependent branch (a
// comparison here mispredicts half the time and dominated the build). Moving
// x out by 2^-23 |x| + 2^-149 before rounding to nearest is enough: the float
// rounding error is at most 2^-24 |x'| for a normal result and 2^-150 for a
// subnormal one, and the double operations add only about 2^-52 |x|.
float floatDown(double x)
{
    return float(x - std::fabs(x) * 0x1p-23 - 0x1p-149);
}

float floatUp(double x)
{
    return float(x + std::fabs(x) * 0x1p-23 + 0x1p-149);
}

// In double, fl(c_i - p_i) has relative error ud (it is a rounded difference,
// so the error is relative to the result); the product with the float n_i and
// the two additions bring the error of w to at most 4.01 ud S
// (S = sum |c_i - p_i| |n_i|, computed with the same relative error). The
// margin 2^-48 S = 32 ud S covers this, the rounding of w -/+ margin, and
// floatDown/floatUp round outwards.
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

// For a face under lane j, exactly,
//     n . (c - P) = n . (c - p_j) + n . d,   d = p_j - P,
// with n . (c - p_j) in [olo_j, ohi_j] and n in lane j's normal box, and
//     sum |c_i - P_i| |n_i| <= rad_j + sum_i max|n_i| |d_i|.
// In double, d_i and each product and sum round with relative error ud:
// at most 6 ud of mag_j below, covered by the margin 2^-48 mag_j, and the
// float results round outwards.
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

// Differences of two floats in double are exact unless their exponents are
// far apart; the factor covers that rounding.
LeafOffsets leafOffsets(float lo, float hi)
{
    float mid = float(0.5 * (double(lo) + double(hi)));
    double half = std::max(double(hi) - mid, mid - double(lo)) * (1.0 + 0x1p-45);
    return {mid, floatUp(half)};
}

OffsetInterval leafLaneOffsets(LeafOffsets face)
{
    double below = double(face.mid) - double(face.hw);
    double above = double(face.mid) + double(face.hw);
    return {floatDown(below - std::fabs(below) * 0x1p-45),
            floatUp(above + std::fabs(above) * 0x1p-45)};
}
