#include "ply/ascii_block.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "ply/ascii_number.h"

namespace ply_reader {
namespace {

// Fewer values are read value by value: the two passes below would not pay.
constexpr std::uint64_t kMinValues = 1 << 16;

// One token of a record, in file order: a scalar, a list's length or one of
// the list's entries.
struct Slot {
    Scalar type;         // how the token is parsed and stored
    std::size_t offset;  // where it is stored in the binary record
    bool length;         // a list length, which must be `expected` in every record
    double expected;
};

// The tokens that start in [from, to): a token starts at a byte that is not
// blank and follows a blank (`after_blank` for the byte before `from`).
std::uint64_t count_token_starts(const char* from, const char* to, bool after_blank) {
    if (from == to) return 0;
    std::uint64_t n = after_blank && !is_space(*from);
    for (const char* p = from + 1; p < to; ++p)  // branch-free: the text is arbitrary
        n += unsigned{is_space(p[-1])} & unsigned{!is_space(*p)};
    return n;
}

// Past the token at or after p, or `end`.
const char* skip_token(const char* p, const char* end) {
    while (p < end && is_space(*p)) ++p;
    while (p < end && !is_space(*p)) ++p;
    return p;
}

// The token at or after p parsed as `type`, as the value-by-value read parses
// it; returns the position past it, or null when it does not parse.
const char* parse_token(Scalar type, const char* p, const char* end, double& out) {
    if (const char* next = quick_number(type, p, end, out)) return next;
    while (p < end && is_space(*p)) ++p;
    const char* b = p;
    while (p < end && !is_space(*p)) ++p;
    if (p == b) return nullptr;
    const std::string_view token(b, static_cast<std::size_t>(p - b));
    return parse_number(type, token, out) == NumberStatus::ok ? p : nullptr;
}

template <class T>
inline void put(char* at, double value) {
    const T v = static_cast<T>(value);
    std::memcpy(at, &v, sizeof v);
}

// `value` as `type`, which holds it exactly (see the header).
void store(Scalar type, double value, char* at) {
    switch (type) {
        case Scalar::I8: return put<std::int8_t>(at, value);
        case Scalar::U8: return put<std::uint8_t>(at, value);
        case Scalar::I16: return put<std::int16_t>(at, value);
        case Scalar::U16: return put<std::uint16_t>(at, value);
        case Scalar::I32: return put<std::int32_t>(at, value);
        case Scalar::U32: return put<std::uint32_t>(at, value);
        case Scalar::F32: return put<float>(at, value);
        case Scalar::F64: return put<double>(at, value);
    }
}

// The record's tokens and binary fields, from the first record's list
// lengths. False when a length does not parse or is negative, or when
// `count` records of this many tokens need more than `tokens`.
bool plan_record(const BodyCursor& c, long count, std::uint64_t tokens, std::vector<Slot>& slots,
                 std::vector<t_ply_field_>& fields, std::size_t& size) {
    const std::uint64_t most = tokens / static_cast<std::uint64_t>(count);
    const char* p = c.pos;
    size = 0;
    for (const Step& s : c.steps) {
        if (!s.list) {
            fields.push_back({size, s.property->value_type, 1});
            slots.push_back({s.value, size, false, 0});
            size += s.value_size;
            p = skip_token(p, c.end);
            continue;
        }
        double length = 0;
        p = parse_token(s.length, p, c.end, length);
        if (!p || length < 0 || slots.size() + 1 + static_cast<std::uint64_t>(length) > most)
            return false;
        slots.push_back({s.length, size, true, length});
        size += size_of(s.length);
        fields.push_back({size, s.property->value_type, static_cast<long>(length)});
        for (long k = 0; k < static_cast<long>(length); ++k) {
            slots.push_back({s.value, size, false, 0});
            size += s.value_size;
            p = skip_token(p, c.end);
        }
    }
    return slots.size() <= most;
}

}  // namespace

int read_ascii_block(BodyCursor& c, long count) {
    t_ply_element_& element = *c.arg.element;
    if (count <= 0 || sat_mul(static_cast<std::uint64_t>(count), c.steps.size()) < kMinValues)
        return -1;
    const int threads = omp_get_max_threads();
    if (threads < 2 || omp_get_active_level() >= omp_get_max_active_levels()) return -1;

    // Pass 1: the tokens starting in each chunk of the rest of the body.
    const char* begin = c.pos;
    const std::size_t bytes = c.left();
    const std::size_t chunks =
        std::max<std::size_t>(1, std::min<std::size_t>(8 * std::size_t(threads), bytes >> 16));
    std::vector<const char*> bounds(chunks + 1);
    for (std::size_t k = 0; k <= chunks; ++k) bounds[k] = begin + bytes / chunks * k;
    bounds[chunks] = c.end;
    std::vector<std::uint64_t> first(chunks + 1, 0);  // index of each chunk's first token
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t k = 0; k < chunks; ++k) {
        // The element starts right after a blank or after a value.
        const bool after_blank = bounds[k] == begin || is_space(bounds[k][-1]);
        first[k + 1] = count_token_starts(bounds[k], bounds[k + 1], after_blank);
    }
    for (std::size_t k = 0; k < chunks; ++k) first[k + 1] += first[k];

    std::vector<Slot> slots;
    std::vector<t_ply_field_> fields;
    std::size_t size = 0;
    if (!plan_record(c, count, first[chunks], slots, fields, size)) return -1;
    const std::uint64_t record_tokens = slots.size();
    const std::uint64_t total = record_tokens * static_cast<std::uint64_t>(count);
    if (total < kMinValues) return -1;

    // The records take at most the text's size (a value of 8 bytes written
    // in one character is not worth the copy); memory for them may fail.
    if (sat_mul(size, static_cast<std::uint64_t>(count)) > bytes) return -1;
    const std::size_t record_bytes = size * static_cast<std::size_t>(count);
    std::unique_ptr<char[]> records(new (std::nothrow) char[record_bytes]);
    if (!records) return -1;

    // Pass 2: each chunk parses the element's tokens that start in it. Record
    // r's list lengths must be the first record's; then, by induction from
    // record 0, record r + 1 starts at token (r + 1) * record_tokens, so every
    // token lands in its own slot.
    std::atomic<bool> parsed{true};
    const char* element_end = begin;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t k = 0; k < chunks; ++k) {
        std::uint64_t t = first[k];
        if (t >= total || first[k + 1] == t) continue;
        const char* p = bounds[k];
        if (p > begin && !is_space(p[-1]))  // inside the previous chunk's last token
            while (p < c.end && !is_space(*p)) ++p;
        std::uint64_t record = t / record_tokens;
        std::size_t slot = static_cast<std::size_t>(t % record_tokens);
        const std::uint64_t last = std::min(first[k + 1], total);
        for (; t < last; ++t) {
            const Slot& s = slots[slot];
            double value = 0;
            p = parse_token(s.type, p, c.end, value);
            if (!p || (s.length && value != s.expected)) {
                parsed.store(false, std::memory_order_relaxed);
                break;
            }
            store(s.type, value, records.get() + record * size + s.offset);
            if (++slot == record_tokens) {
                slot = 0;
                ++record;
                if (!parsed.load(std::memory_order_relaxed)) break;
            }
        }
        if (t == total) element_end = p;
    }
    if (!parsed || element_end == begin) return -1;

    // The records hold every value now: the text's pages may go first.
    c.ply->file.release(begin, element_end);
    const t_ply_block_ block{&element, records.get(), count, size, 0, fields.data()};
    return c.hand_over(block, element_end);
}

}  // namespace ply_reader
