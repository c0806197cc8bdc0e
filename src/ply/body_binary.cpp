#include "ply/body_binary.h"

#include <cstdint>
#include <string>
#include <vector>

#include "ply/binary_value.h"
#include "ply/saturating.h"

namespace ply_reader {
namespace {

// ---------------------------------------------------------------- skipped

// Every property a scalar, none registered: one jump (the header check bounds
// it, but earlier lists may have used more than their minimum).
bool skip_records(BodyCursor& c, long count, std::uint64_t record) {
    const std::uint64_t bytes = sat_mul(record, static_cast<std::uint64_t>(count));
    const std::uint64_t left = c.left();
    if (bytes > left) {
        // Name the first value that is cut off.
        c.arg.instance_index = static_cast<long>(left / record);
        std::uint64_t offset = left % record;
        std::size_t k = 0;
        while (offset >= c.steps[k].value_size) offset -= c.steps[k++].value_size;
        c.value_error(c.steps[k], -1, "unexpected end of file");
        return false;
    }
    c.pos += bytes;
    return true;
}

// ---------------------------------------------------------------- fixed records

// A registered scalar at a fixed offset in its instance's record.
struct Slot {
    std::size_t offset;
    const Step* step;
};

constexpr int kMixed = -1;

// T is the scalar type every slot has, or kMixed.
template <bool Swap, int T>
bool fixed_records(BodyCursor& c, const std::vector<Slot>& slots, long count, std::size_t record) {
    c.arg.length = 1;
    c.arg.value_index = 0;
    for (long i = 0; i < count; ++i, c.pos += record) {
        c.arg.instance_index = i;
        for (const Slot& slot : slots) {
            const Step& s = *slot.step;
            c.arg.property = s.property;
            c.arg.pdata = s.pdata;
            c.arg.idata = s.idata;
            const Scalar type = T == kMixed ? s.value : static_cast<Scalar>(T);
            if (!c.deliver(s, load<Swap>(type, c.pos + slot.offset))) return false;
        }
    }
    return true;
}

// Scalars only, some registered, all `count` records of `record` bytes in
// the file.
template <bool Swap>
bool read_fixed(BodyCursor& c, long count, std::size_t record) {
    std::vector<Slot> slots;
    std::size_t offset = 0;
    bool uniform = true;
    for (const Step& s : c.steps) {
        if (s.cb) {
            uniform = uniform && (slots.empty() || s.value == slots[0].step->value);
            slots.push_back({offset, &s});
        }
        offset += s.value_size;
    }
    constexpr int f32 = static_cast<int>(Scalar::F32), f64 = static_cast<int>(Scalar::F64);
    const int type = uniform ? static_cast<int>(slots[0].step->value) : kMixed;
    return type == f32   ? fixed_records<Swap, f32>(c, slots, count, record)
           : type == f64 ? fixed_records<Swap, f64>(c, slots, count, record)
                         : fixed_records<Swap, kMixed>(c, slots, count, record);
}

// ---------------------------------------------------------------- checked

// List entries with the type switch hoisted out of the loop; the caller has
// checked that they are in the file.
template <bool Swap, Scalar S>
bool entries_of(BodyCursor& c, const Step& s, long length) {
    constexpr unsigned size = size_of(S);
    for (long k = 0; k < length; ++k, c.pos += size) {
        c.arg.value_index = k;
        if (!c.deliver(s, load<Swap>(S, c.pos))) return false;
    }
    return true;
}

template <bool Swap>
bool list_entries(BodyCursor& c, const Step& s, long length) {
    switch (s.value) {
        case Scalar::I8: return entries_of<Swap, Scalar::I8>(c, s, length);
        case Scalar::U8: return entries_of<Swap, Scalar::U8>(c, s, length);
        case Scalar::I16: return entries_of<Swap, Scalar::I16>(c, s, length);
        case Scalar::U16: return entries_of<Swap, Scalar::U16>(c, s, length);
        case Scalar::I32: return entries_of<Swap, Scalar::I32>(c, s, length);
        case Scalar::U32: return entries_of<Swap, Scalar::U32>(c, s, length);
        case Scalar::F32: return entries_of<Swap, Scalar::F32>(c, s, length);
        case Scalar::F64: return entries_of<Swap, Scalar::F64>(c, s, length);
    }
    return false;
}

// Instances `first` to `count` - 1 with every value bounds-checked: lists, or
// a scalar element the file cuts short, so that an error names the first
// value missing.
template <bool Swap>
bool checked_records(BodyCursor& c, long first, long count) {
    for (long i = first; i < count; ++i) {
        c.arg.instance_index = i;
        for (const Step& s : c.steps) {
            if (!s.list) {
                if (c.left() < s.value_size) {
                    c.value_error(s, -1, "unexpected end of file");
                    return false;
                }
                if (s.cb) {
                    c.enter(s, 1, 0);
                    if (!c.deliver(s, load<Swap>(s.value, c.pos))) return false;
                }
                c.pos += s.value_size;
                continue;
            }
            const unsigned lsize = size_of(s.length);
            if (c.left() < lsize) {
                c.value_error(s, -1, "unexpected end of file");
                return false;
            }
            // Integer length types only, so the double is exact.
            double raw = load<Swap>(s.length, c.pos);
            c.pos += lsize;
            if (raw < 0) {
                c.negative_list(s, std::to_string(static_cast<long long>(raw)).c_str());
                return false;
            }
            const long length = static_cast<long>(raw);
            if (c.list_too_long(s, static_cast<std::uint64_t>(length), s.value_size)) return false;
            if (!s.cb) {
                c.pos += static_cast<std::size_t>(length) * s.value_size;
                continue;
            }
            c.enter(s, length, -1);
            if (!c.deliver(s, raw)) return false;
            if (!list_entries<Swap>(c, s, length)) return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- one list

// Anything irregular (a cut-off length, a negative one, entries beyond the
// end) hands over to checked_records at that instance, which finds and names
// the problem.
template <bool Swap, Scalar L, Scalar V>
bool list_records(BodyCursor& c, long count) {
    constexpr std::size_t lsize = size_of(L);
    constexpr std::size_t vsize = size_of(V);
    const Step& s = c.steps[0];
    c.arg.property = s.property;
    c.arg.pdata = s.pdata;
    c.arg.idata = s.idata;
    for (long i = 0; i < count; ++i) {
        const std::size_t left = c.left();
        if (left < lsize) return checked_records<Swap>(c, i, count);
        const double raw = load<Swap>(L, c.pos);
        // Non-negative and in the file: the test is false for negatives.
        if (!(raw >= 0 && raw * vsize <= static_cast<double>(left - lsize)))
            return checked_records<Swap>(c, i, count);
        const long length = static_cast<long>(raw);
        c.pos += lsize;
        c.arg.instance_index = i;
        c.arg.length = length;
        c.arg.value_index = -1;
        if (!c.deliver(s, raw)) return false;
        for (long k = 0; k < length; ++k, c.pos += vsize) {
            c.arg.value_index = k;
            if (!c.deliver(s, load<Swap>(V, c.pos))) return false;
        }
    }
    return true;
}

template <bool Swap>
bool one_list(BodyCursor& c, long count) {
    using S = Scalar;
    const Step& s = c.steps[0];
    if (s.length == S::U8 && s.value == S::I32) return list_records<Swap, S::U8, S::I32>(c, count);
    if (s.length == S::U8 && s.value == S::U32) return list_records<Swap, S::U8, S::U32>(c, count);
    if (s.length == S::I8 && s.value == S::I32) return list_records<Swap, S::I8, S::I32>(c, count);
    return checked_records<Swap>(c, 0, count);
}

// ---------------------------------------------------------------- block

// A list length at a fixed offset in every record.
struct LengthSlot {
    std::size_t offset;
    unsigned size;
};

// Hands the element to its block handler when every record has the layout of
// the first: the first record's list lengths (non-negative, in the file) give
// the record size, and every other record must repeat them byte for byte,
// which by induction puts each record at a multiple of that size. Returns 1
// when the handler read the records, 0 after reporting its stop, and -1 when
// the records are not uniform or the handler declined them.
template <bool Swap>
int read_block(BodyCursor& c, long count) {
    t_ply_element_& element = *c.arg.element;
    if (count <= 0) return -1;
    std::vector<t_ply_field_> fields(c.steps.size());
    std::vector<LengthSlot> lengths;
    std::uint64_t size = 0;
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
        const Step& s = c.steps[k];
        if (!s.list) {
            fields[k] = {static_cast<std::size_t>(size), s.property->value_type, 1};
            size += s.value_size;
            continue;
        }
        const unsigned lsize = size_of(s.length);
        if (sat_add(size, lsize) > c.left()) return -1;
        const double raw = load<Swap>(s.length, c.pos + size);
        if (!(raw >= 0)) return -1;
        lengths.push_back({static_cast<std::size_t>(size), lsize});
        size += lsize;
        const long length = static_cast<long>(raw);
        fields[k] = {static_cast<std::size_t>(size), s.property->value_type, length};
        size = sat_add(size, sat_mul(static_cast<std::uint64_t>(length), s.value_size));
        if (size > c.left()) return -1;
    }
    if (sat_mul(size, static_cast<std::uint64_t>(count)) > c.left()) return -1;
    const std::size_t record = static_cast<std::size_t>(size);
    const char* first = c.pos;
    bool uniform = true;
    const bool parallel = !lengths.empty() && count >= (1 << 16);
#pragma omp parallel for schedule(static) reduction(&& : uniform) if (parallel)
    for (long i = 1; i < count; ++i) {
        const char* here = first + static_cast<std::size_t>(i) * record;
        bool same = true;
        for (const LengthSlot& l : lengths)
            for (unsigned b = 0; b < l.size; ++b)
                same = same && here[l.offset + b] == first[l.offset + b];
        uniform = uniform && same;
    }
    if (!uniform) return -1;
    const t_ply_block_ block{&element, c.pos, count, record, Swap ? 1 : 0, fields.data()};
    return c.hand_over(block, c.pos + record * static_cast<std::size_t>(count));
}

// ---------------------------------------------------------------- choice

template <bool Swap>
bool read_element(BodyCursor& c, long count) {
    if (c.arg.element->block_cb) {
        const int block = read_block<Swap>(c, count);
        if (block >= 0) return block == 1;
    }
    bool fixed = true;
    std::uint64_t record = 0;
    for (const Step& s : c.steps) {
        fixed = fixed && !s.list;
        record += s.value_size;
    }
    if (fixed && !c.handlers) return skip_records(c, count, record);
    if (fixed && sat_mul(record, static_cast<std::uint64_t>(count)) <= c.left())
        return read_fixed<Swap>(c, count, static_cast<std::size_t>(record));
    if (c.steps.size() == 1 && c.steps[0].list && c.steps[0].cb) return one_list<Swap>(c, count);
    return checked_records<Swap>(c, 0, count);
}

}  // namespace

bool read_binary_element(BodyCursor& cursor, long count, bool swap) {
    return swap ? read_element<true>(cursor, count) : read_element<false>(cursor, count);
}

}  // namespace ply_reader
