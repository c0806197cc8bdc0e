#include "ply/text.h"

#include <cstdio>

namespace ply_reader {

std::string shown(std::string_view s) {
    constexpr std::size_t kMax = 64;
    std::string out;
    for (std::size_t i = 0; i < s.size() && i < kMax; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (s.size() > kMax) out += "...";
    return out;
}

}  // namespace ply_reader
