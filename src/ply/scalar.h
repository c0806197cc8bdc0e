// The eight storage kinds behind PLY's sixteen scalar type names, and what the
// reader knows about each: its size in a binary body, its name in messages
// and its range of values.
#pragma once

#include <cstddef>

namespace ply_reader {

enum class Scalar : unsigned char { I8, U8, I16, U16, I32, U32, F32, F64 };

// Indexed by Scalar.
inline constexpr unsigned kScalarSize[] = {1, 1, 2, 2, 4, 4, 4, 8};
inline constexpr const char* kScalarName[] = {"int8",  "uint8",  "int16",   "uint16",
                                              "int32", "uint32", "float32", "float64"};
inline constexpr double kScalarMin[] = {-128.0, 0.0, -32768.0, 0.0, -2147483648.0, 0.0};
inline constexpr double kScalarMax[] = {127.0, 255.0, 32767.0, 65535.0, 2147483647.0, 4294967295.0};

constexpr std::size_t index_of(Scalar s) { return static_cast<std::size_t>(s); }
constexpr unsigned size_of(Scalar s) { return kScalarSize[index_of(s)]; }
constexpr const char* name_of(Scalar s) { return kScalarName[index_of(s)]; }
constexpr double min_of(Scalar s) { return kScalarMin[index_of(s)]; }
constexpr double max_of(Scalar s) { return kScalarMax[index_of(s)]; }
constexpr bool is_float(Scalar s) { return s == Scalar::F32 || s == Scalar::F64; }

}  // namespace ply_reader
