// Exact sums of doubles, for checking rounded bounds against the real values
// they enclose.
//
// A sum is kept as a nonoverlapping expansion: doubles of increasing
// magnitude whose exact total is the value (Shewchuk, "Adaptive Precision
// Floating-Point Arithmetic and Fast Robust Geometric Predicates", 1997,
// Grow-Expansion with zero elimination). Its sign is the sign of its largest
// component. Two-Sum is exact under round-to-nearest whenever nothing
// overflows, subnormal results included, which holds for every value the
// index handles (below 2^120).
//
// A product of two floats is exact in double (24 + 24 significant bits fit in
// 53, and it is at least 2^-298, far above the double underflow threshold),
// so n . (c - p) = sum_i n_i c_i - n_i p_i over floats is an exact sum of six
// such products.
#pragma once

#include <cassert>
#include <cmath>

#include "geometry/vector3.h"

namespace exact {

// s + e = a + b exactly, s = fl(a + b) (Knuth).
inline void twoSum(double a, double b, double& s, double& e)
{
    s = a + b;
    double bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

class Sum {
public:
    Sum() = default;
    explicit Sum(double x) { add(x); }

    // In place: the i-th output never overtakes the i-th input.
    Sum& add(double x)
    {
        int kept = 0;
        double q = x;
        for (int i = 0; i < count_; ++i) {
            double s, e;
            twoSum(q, parts_[i], s, e);
            if (e != 0.0)
                parts_[kept++] = e;
            q = s;
        }
        if (q != 0.0) {
            assert(kept < kCapacity);
            parts_[kept++] = q;
        }
        count_ = kept;
        return *this;
    }
    Sum& sub(double x) { return add(-x); }
    Sum& addProduct(float a, float b) { return add(double(a) * double(b)); }

    // -1, 0 or 1.
    int sign() const { return count_ == 0 ? 0 : parts_[count_ - 1] > 0.0 ? 1 : -1; }

private:
    // Every sum the tests form has at most a dozen terms.
    static constexpr int kCapacity = 32;
    double parts_[kCapacity] = {};
    int count_ = 0;
};

// Whether the exact value of `a` is at most / at least the double x.
inline bool atMost(Sum a, double x) { return a.sub(x).sign() <= 0; }
inline bool atLeast(Sum a, double x) { return a.sub(x).sign() >= 0; }

// n . (c - p), exactly.
inline Sum offset(const Vector3& n, const Vector3& c, const float p[3])
{
    const float nn[3] = {n.x, n.y, n.z}, cc[3] = {c.x, c.y, c.z};
    Sum s;
    for (int i = 0; i < 3; ++i)
        s.addProduct(nn[i], cc[i]).addProduct(-nn[i], p[i]);
    return s;
}

// sum_i |c_i - p_i| |n_i|, exactly: each term is |n_i| c_i - |n_i| p_i or its
// negation, as c_i >= p_i or not.
inline Sum absOffset(const Vector3& n, const Vector3& c, const float p[3])
{
    const float nn[3] = {n.x, n.y, n.z}, cc[3] = {c.x, c.y, c.z};
    Sum s;
    for (int i = 0; i < 3; ++i) {
        float m = std::fabs(nn[i]);
        if (cc[i] >= p[i])
            s.addProduct(m, cc[i]).addProduct(-m, p[i]);
        else
            s.addProduct(m, p[i]).addProduct(-m, cc[i]);
    }
    return s;
}

} // namespace exact
