// Saturating arithmetic for size estimates: a saturated result is simply
// "more than any file holds".
#pragma once

#include <cstdint>

namespace ply_reader {

inline std::uint64_t sat_mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

inline std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

}  // namespace ply_reader
