// One scalar of a binary body, decoded as a double. Inline and with the byte
// order a template argument: the body's inner loops call it for every value.
#pragma once

#include <cstdint>
#include <cstring>

#include "ply/reader.h"
#include "ply/scalar.h"

namespace ply_reader {

// Decodes the size_of(s) bytes at `p`; Swap reverses their order first (the
// file's byte order is not the machine's).
template <bool Swap>
inline __attribute__((always_inline)) double load(Scalar s, const char* p) {
    switch (s) {
        case Scalar::I8: return static_cast<signed char>(*p);
        case Scalar::U8: return static_cast<unsigned char>(*p);
        case Scalar::I16: {
            std::uint16_t u;
            std::memcpy(&u, p, 2);
            if (Swap) u = __builtin_bswap16(u);
            std::int16_t v;
            std::memcpy(&v, &u, 2);
            return v;
        }
        case Scalar::U16: {
            std::uint16_t u;
            std::memcpy(&u, p, 2);
            if (Swap) u = __builtin_bswap16(u);
            return u;
        }
        case Scalar::I32: {
            std::uint32_t u;
            std::memcpy(&u, p, 4);
            if (Swap) u = __builtin_bswap32(u);
            std::int32_t v;
            std::memcpy(&v, &u, 4);
            return v;
        }
        case Scalar::U32: {
            std::uint32_t u;
            std::memcpy(&u, p, 4);
            if (Swap) u = __builtin_bswap32(u);
            return u;
        }
        case Scalar::F32: {
            std::uint32_t u;
            std::memcpy(&u, p, 4);
            if (Swap) u = __builtin_bswap32(u);
            float v;
            std::memcpy(&v, &u, 4);
            return v;
        }
        case Scalar::F64: {
            std::uint64_t u;
            std::memcpy(&u, p, 8);
            if (Swap) u = __builtin_bswap64(u);
            double v;
            std::memcpy(&v, &u, 8);
            return v;
        }
    }
    return 0.0;
}

// The storage kind of a scalar type name (PLY_LIST, which has none, maps to
// I8).
constexpr Scalar scalar_of(e_ply_type type) {
    switch (type) {
        case PLY_UINT8: case PLY_UCHAR: return Scalar::U8;
        case PLY_INT16: case PLY_SHORT: return Scalar::I16;
        case PLY_UINT16: case PLY_USHORT: return Scalar::U16;
        case PLY_INT32: case PLY_INT: return Scalar::I32;
        case PLY_UIN32: case PLY_UINT: return Scalar::U32;
        case PLY_FLOAT32: case PLY_FLOAT: return Scalar::F32;
        case PLY_FLOAT64: case PLY_DOUBLE: return Scalar::F64;
        default: return Scalar::I8;
    }
}

}  // namespace ply_reader
