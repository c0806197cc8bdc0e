// The one value type for positions, normals, offsets and box corners.
//
// Every stored component is a float, and the reported figures are only
// reproducible if each operation rounds exactly as written here:
// add, subtract and scale round each component once; cross forms its products
// and their difference in double and rounds once per component; dot returns
// its double sum of exact products unrounded, and the caller rounds it when it
// stores the value. Build with -ffp-contract=off so no multiply-add is fused.
#pragma once

#include <cmath>

struct Vector3 {
    float x, y, z;

    Vector3& operator+=(const Vector3& w);
    Vector3& operator*=(float s);
    void cross(const Vector3& w, Vector3& out) const;
    void normalize();
};

inline void add(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = a.x + b.x;
    out.y = a.y + b.y;
    out.z = a.z + b.z;
}

inline void subtract(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = a.x - b.x;
    out.y = a.y - b.y;
    out.z = a.z - b.z;
}

// Products of two floats are exact in double; only the two additions round.
inline double dot(const Vector3& a, const Vector3& b)
{
    return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
}

// `out` must not alias `a` or `b`.
inline void cross(const Vector3& a, const Vector3& b, Vector3& out)
{
    out.x = float(double(a.y) * b.z - double(a.z) * b.y);
    out.y = float(double(a.z) * b.x - double(a.x) * b.z);
    out.z = float(double(a.x) * b.y - double(a.y) * b.x);
}

// Squares and partial sums are rounded to float one by one (x² + y² first,
// then + z²); the square root of a float is exact enough in double that
// rounding it to float gives the correctly rounded float root.
inline float magnitude(const Vector3& a)
{
    float xx = a.x * a.x;
    float yy = a.y * a.y;
    float zz = a.z * a.z;
    float sum = xx + yy;
    sum = sum + zz;
    return float(std::sqrt(double(sum)));
}

// A vector whose length rounds to 0 is left as it is (so a zero vector stays
// zero, and one whose squares underflow is not made unit length). Each
// component is divided by the length, not multiplied by a reciprocal.
inline void normalize(const Vector3& src, Vector3& dst)
{
    float len = magnitude(src);
    if (len == 0.0f)
        return;
    dst.x = src.x / len;
    dst.y = src.y / len;
    dst.z = src.z / len;
}

inline void scale(float s, const Vector3& in, Vector3& out)
{
    out.x = s * in.x;
    out.y = s * in.y;
    out.z = s * in.z;
}

inline Vector3& Vector3::operator+=(const Vector3& w)
{
    add(*this, w, *this);
    return *this;
}

inline Vector3& Vector3::operator*=(float s)
{
    scale(s, *this, *this);
    return *this;
}

inline void Vector3::cross(const Vector3& w, Vector3& out) const { ::cross(*this, w, out); }

inline void Vector3::normalize() { ::normalize(*this, *this); }

inline bool operator==(const Vector3& a, const Vector3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
