// Text helpers shared by the header and the ASCII body.
#pragma once

#include <string>
#include <string_view>

namespace ply_reader {

// PLY's word separators: blank, tab, and the line breaks \n \v \f \r.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Names and tokens in messages come from untrusted files: returns at most 64
// characters of `s` (then "..."), control characters written as \xNN.
std::string shown(std::string_view s);

}  // namespace ply_reader
