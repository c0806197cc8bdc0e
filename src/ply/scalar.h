// The eight storage kinds behind PLY's sixteen scalar type names, and what the
// reader knows about each: its size in a binary body, its name in messages
// and its range of values.
#pragma once

#include <cfloat>
#include <cstddef>

namespace ply_reader {

enum class Scalar : unsigned char { I8, U8, I16, U16, I32, U32, F32, F64 };

// F64 stays last: the count of kinds is taken from it.
inline constexpr std::size_t kScalarKinds = static_cast<std::size_t>(Scalar::F64) + 1;

// Each table has one entry per kind, in the order of Scalar.
inline constexpr unsigned kScalarSize[] = {1, 1, 2, 2, 4, 4, 4, 8};
inline constexpr const char* kScalarName[] = {"int8",  "uint8",  "int16",   "uint16",
                                              "int32", "uint32", "float32", "float64"};
// The smallest and largest finite values, each exact as a double. The float
// kinds' limits are not needed by the number parser (from_chars reports their
// overflow), but every kind has its entry, so no index runs past a table.
inline constexpr double kScalarMin[] = {-128.0,        0.0, -32768.0, 0.0,
                                        -2147483648.0, 0.0, -FLT_MAX, -DBL_MAX};
inline constexpr double kScalarMax[] = {127.0,        255.0,        32767.0, 65535.0,
                                        2147483647.0, 4294967295.0, FLT_MAX, DBL_MAX};

static_assert(sizeof kScalarSize / sizeof kScalarSize[0] == kScalarKinds);
static_assert(sizeof kScalarName / sizeof kScalarName[0] == kScalarKinds);
static_assert(sizeof kScalarMin / sizeof kScalarMin[0] == kScalarKinds);
static_assert(sizeof kScalarMax / sizeof kScalarMax[0] == kScalarKinds);

constexpr std::size_t index_of(Scalar s) { return static_cast<std::size_t>(s); }
constexpr unsigned size_of(Scalar s) { return kScalarSize[index_of(s)]; }
constexpr const char* name_of(Scalar s) { return kScalarName[index_of(s)]; }
constexpr double min_of(Scalar s) { return kScalarMin[index_of(s)]; }
constexpr double max_of(Scalar s) { return kScalarMax[index_of(s)]; }
constexpr bool is_float(Scalar s) { return s == Scalar::F32 || s == Scalar::F64; }

}  // namespace ply_reader
