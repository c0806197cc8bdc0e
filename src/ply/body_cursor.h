// What the binary and ASCII body readers share while they read an element:
// the one position in the body, the element's properties flattened into
// steps, and the argument handed to the handlers, with the messages that
// name a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ply/reader_internal.h"
#include "ply/saturating.h"
#include "ply/text.h"

namespace ply_reader {

// One property of the element being read, registered or skipped.
struct Step {
    Scalar value;   // the scalar type, or the list entry type
    Scalar length;  // lists only
    bool list;
    unsigned value_size;
    p_ply_read_cb cb;  // null when skipped
    void* pdata;
    long idata;
    p_ply_property property;
};

// Invariant: pos <= end. pos is the only position in the body that outlives a
// call: the element readers advance it past what they have read.
struct BodyCursor {
    p_ply ply;
    const char* pos;
    const char* end;                // one past the file's last byte
    std::vector<Step> steps;        // the current element's, in declared order
    bool handlers = false;          // some step has a handler
    t_ply_argument_ arg{};          // element and instance_index: where pos is

    explicit BodyCursor(p_ply reader)
        : ply(reader), pos(reader->data + reader->body), end(reader->data + reader->size) {}

    std::size_t left() const { return static_cast<std::size_t>(end - pos); }

    // Points the argument at a value of `s`: a list entry at `index`, the
    // list's length at -1, a scalar (length 1) at 0.
    void enter(const Step& s, long length, long index) {
        arg.property = s.property;
        arg.pdata = s.pdata;
        arg.idata = s.idata;
        arg.length = length;
        arg.value_index = index;
    }

    // Hands `value` to the handler of `s`. Returns false, after reporting,
    // when the handler asked to stop.
    bool deliver(const Step& s, double value) {
        arg.value = value;
        if (s.cb(&arg)) return true;
        report(ply, "Reading aborted by the handler of '%s' of '%s' number %ld",
               shown(s.property->name).c_str(), shown(arg.element->name).c_str(),
               arg.instance_index);
        return false;
    }

    // Reports "Error reading ..." naming a value of `s` in the current
    // instance: entry < 0 is the property itself (a scalar or a list length),
    // otherwise a list entry counted from 0.
    void value_error(const Step& s, long entry, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));

    // Returns true, after reporting, when `length` list entries of at least
    // `min_bytes` each cannot fit in the bytes left. Inline: it runs once per
    // list.
    bool list_too_long(const Step& s, std::uint64_t length, std::uint64_t min_bytes) {
        if (sat_mul(length, min_bytes) <= left()) return false;
        report_list_too_long(s, length);
        return true;
    }

    void report_list_too_long(const Step& s, std::uint64_t length);

    // Reports a negative list length of `s`, as the file writes it.
    void negative_list(const Step& s, const char* length);

    // Hands `block` (the element's records, ending at `end`) to the element's
    // block handler. Returns 1 with pos at `end` when it read them, 0 after
    // reporting its stop, and -1, pos unchanged, when it declined them.
    int hand_over(const t_ply_block_& block, const char* end);
};

}  // namespace ply_reader
