#include "ply/body_ascii.h"

#include <cstdint>
#include <string_view>

#include "ply/ascii_block.h"
#include "ply/ascii_number.h"

namespace ply_reader {
namespace {

// The whitespace-separated token at pos, or an empty view at the end.
std::string_view token(BodyCursor& c) {
    const char* p = c.pos;
    while (p < c.end && is_space(*p)) ++p;
    const char* b = p;
    while (p < c.end && !is_space(*p)) ++p;
    c.pos = p;
    return std::string_view(b, static_cast<std::size_t>(p - b));
}

// The value of `s` (entry < 0) or of its list entry `entry`, as `type`.
// Flattened, as is ascii_length: the integer parse inside quick_number must be
// inlined here, and the compiler's size limits leave it out of line otherwise
// (15 % slower on whole ASCII files).
__attribute__((flatten)) bool ascii_value(BodyCursor& c, const Step& s, Scalar type, long entry,
                                          double& out) {
    if (const char* next = quick_number(type, c.pos, c.end, out)) {
        c.pos = next;
        return true;
    }
    std::string_view t = token(c);
    if (t.empty()) {
        c.value_error(s, entry, "unexpected end of file");
        return false;
    }
    switch (parse_number(type, t, out)) {
        case NumberStatus::ok: return true;
        case NumberStatus::invalid:
            c.value_error(s, entry, "invalid number '%s'", shown(t).c_str());
            return false;
        case NumberStatus::out_of_range:
            c.value_error(s, entry, "%s is out of range for %s", shown(t).c_str(), name_of(type));
            return false;
    }
    return false;
}

// A list length: an integer in its type's range and not negative.
__attribute__((flatten)) bool ascii_length(BodyCursor& c, const Step& s, double& out) {
    const char* next = quick_number(s.length, c.pos, c.end, out);
    if (next && out >= 0) {
        c.pos = next;
        return true;
    }
    std::string_view t = token(c);
    if (t.empty()) {
        c.value_error(s, -1, "unexpected end of file");
        return false;
    }
    NumberStatus r = parse_number(s.length, t, out);
    double wide = 0;
    if ((r == NumberStatus::ok && out < 0) ||
        (r == NumberStatus::out_of_range && parse_number(Scalar::F64, t, wide) == NumberStatus::ok &&
         wide < 0)) {
        c.negative_list(s, shown(t).c_str());
        return false;
    }
    if (r == NumberStatus::invalid) c.value_error(s, -1, "invalid number '%s'", shown(t).c_str());
    if (r == NumberStatus::out_of_range)
        c.value_error(s, -1, "%s is out of range for %s", shown(t).c_str(), name_of(s.length));
    return r == NumberStatus::ok;
}

// A skipped value: any token will do.
bool skip_value(BodyCursor& c, const Step& s, long entry) {
    if (!token(c).empty()) return true;
    c.value_error(s, entry, "unexpected end of file");
    return false;
}

}  // namespace

bool read_ascii_element(BodyCursor& c, long count) {
    if (c.arg.element->block_cb) {
        const int block = read_ascii_block(c, count);
        if (block >= 0) return block == 1;
    }
    double value = 0;
    for (long i = 0; i < count; ++i) {
        c.arg.instance_index = i;
        for (const Step& s : c.steps) {
            if (!s.list) {
                if (!s.cb) {
                    if (!skip_value(c, s, -1)) return false;
                    continue;
                }
                if (!ascii_value(c, s, s.value, -1, value)) return false;
                c.enter(s, 1, 0);
                if (!c.deliver(s, value)) return false;
                continue;
            }
            if (!ascii_length(c, s, value)) return false;
            const long length = static_cast<long>(value);
            // Each entry takes at least a separator before it and a character.
            if (c.list_too_long(s, static_cast<std::uint64_t>(length), 2)) return false;
            if (s.cb) {
                c.enter(s, length, -1);
                if (!c.deliver(s, value)) return false;
            }
            for (long k = 0; k < length; ++k) {
                if (!s.cb) {
                    if (!skip_value(c, s, k)) return false;
                    continue;
                }
                if (!ascii_value(c, s, s.value, k, value)) return false;
                c.arg.value_index = k;
                if (!c.deliver(s, value)) return false;
            }
        }
    }
    return true;
}

}  // namespace ply_reader
