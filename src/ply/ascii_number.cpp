#include "ply/ascii_number.h"

#include <cmath>

namespace ply_reader {

NumberStatus parse_number(Scalar type, std::string_view token, double& out) {
    const char* b = token.data();
    const char* e = b + token.size();
    if (b != e && *b == '+') {
        ++b;
        if (b == e || *b == '+' || *b == '-') return NumberStatus::invalid;
    }
    if (!is_float(type)) {
        long long v;
        auto r = std::from_chars(b, e, v);
        if (r.ptr == e && r.ec == std::errc()) {
            double d = static_cast<double>(v);  // exact within the checked range
            if (d < min_of(type) || d > max_of(type)) return NumberStatus::out_of_range;
            out = d;
            return NumberStatus::ok;
        }
        if (r.ptr == e && r.ec == std::errc::result_out_of_range) return NumberStatus::out_of_range;
        double d;
        auto rd = std::from_chars(b, e, d);
        if (rd.ptr != e) return NumberStatus::invalid;
        if (rd.ec == std::errc::result_out_of_range) return NumberStatus::out_of_range;
        if (rd.ec != std::errc() || !std::isfinite(d) || d != std::trunc(d))
            return NumberStatus::invalid;
        if (d < min_of(type) || d > max_of(type)) return NumberStatus::out_of_range;
        out = d + 0.0;  // "-0.0" is 0 for an integer
        return NumberStatus::ok;
    }
    if (type == Scalar::F32) {
        float f;
        auto r = std::from_chars(b, e, f);
        if (r.ptr != e) return NumberStatus::invalid;
        if (r.ec == std::errc()) {
            out = f;
            return NumberStatus::ok;
        }
    } else {
        double d;
        auto r = std::from_chars(b, e, d);
        if (r.ptr != e) return NumberStatus::invalid;
        if (r.ec == std::errc()) {
            out = d;
            return NumberStatus::ok;
        }
    }
    // Out of range: overflow is an error, underflow rounds towards zero.
    long double ld;
    auto r = std::from_chars(b, e, ld);
    if (r.ptr != e || r.ec != std::errc() || std::fabs(ld) >= 1.0L) return NumberStatus::out_of_range;
    out = type == Scalar::F32 ? static_cast<double>(static_cast<float>(ld)) : static_cast<double>(ld);
    return NumberStatus::ok;
}

}  // namespace ply_reader
