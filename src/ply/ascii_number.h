// One ASCII number read as a value of a scalar type, delivered as a double.
// Integer types take integral values in their range, written as integers or
// as decimals ("7", "+7", "7.0", "7e0"; not "7.5"). Float types take decimal
// numbers, nan and inf, rounded to the declared precision; a magnitude beyond
// the type's largest finite value is out of range, one below its smallest
// subnormal rounds towards zero, keeping its sign.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

#include "ply/scalar.h"
#include "ply/text.h"

namespace ply_reader {

enum class NumberStatus { ok, invalid, out_of_range };

// Reads the whole of `token` (no leading or trailing blanks) as a value of
// `type`. Sets `out` when it returns ok; otherwise `out` may have changed.
NumberStatus parse_number(Scalar type, std::string_view token, double& out);

// The common case in one pass, for the body's inner loop: skips blanks from
// `p`, then reads an unsigned-or-minus number that ends at a blank or at
// `end` and needs no range handling. Returns the position just past the
// number, with `out` set to what parse_number gives for it. Returns null for
// anything else (a '+', "7.0" for an integer, out of range, invalid, no
// number before `end`), which parse_number then decides; `out` may have
// changed.
inline const char* quick_number(Scalar type, const char* p, const char* end, double& out) {
    while (p < end && is_space(*p)) ++p;
    const char* next;
    if (type == Scalar::F32) {
        float f;
        auto r = std::from_chars(p, end, f);
        if (r.ec != std::errc()) return nullptr;
        out = f;
        next = r.ptr;
    } else if (type == Scalar::F64) {
        auto r = std::from_chars(p, end, out);
        if (r.ec != std::errc()) return nullptr;
        next = r.ptr;
    } else {
        long long v;
        auto r = std::from_chars(p, end, v);
        if (r.ec != std::errc()) return nullptr;
        out = static_cast<double>(v);
        if (out < min_of(type) || out > max_of(type)) return nullptr;
        next = r.ptr;
    }
    if (next != end && !is_space(*next)) return nullptr;
    return next;
}

}  // namespace ply_reader
