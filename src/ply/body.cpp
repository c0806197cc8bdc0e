#include "ply/body.h"

#include "ply/body_ascii.h"
#include "ply/body_binary.h"
#include "ply/body_cursor.h"

namespace ply_reader {
namespace {

void plan(BodyCursor& c, t_ply_element_& element) {
    c.steps.clear();
    c.handlers = false;
    for (t_ply_property_& p : element.properties) {
        c.steps.push_back({p.value, p.length, p.type == PLY_LIST, size_of(p.value), p.read_cb,
                           p.pdata, p.idata, &p});
        c.handlers = c.handlers || p.read_cb;
    }
}

}  // namespace

bool read_body(p_ply ply) {
    BodyCursor cursor(ply);
    const bool swap = ply->mode != PLY_ASCII &&
                      ((ply->mode == PLY_BIG_ENDIAN) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__));
    for (t_ply_element_& element : ply->elements) {
        if (element.properties.empty()) continue;  // nothing to read or deliver
        plan(cursor, element);
        cursor.arg = t_ply_argument_();
        cursor.arg.element = &element;
        const char* start = cursor.pos;
        const bool ok = ply->mode == PLY_ASCII
                            ? read_ascii_element(cursor, element.ninstances)
                            : read_binary_element(cursor, element.ninstances, swap);
        if (!ok) return false;
        // Whatever the handlers kept, they kept as their own copy.
        ply->file.release(start, cursor.pos);
    }
    // Whitespace after the last ASCII value is how text files end; anything
    // else is data no element declared: perhaps a truncated header count, or
    // a second file appended. Still read, since many tools ignore it.
    std::size_t trailing = cursor.left();
    if (ply->mode == PLY_ASCII) {
        const char* p = cursor.pos;
        while (p < cursor.end && is_space(*p)) ++p;
        trailing = p == cursor.end ? 0 : static_cast<std::size_t>(cursor.end - cursor.pos);
    }
    if (trailing > 0)
        warn(ply, "%zu bytes after the last element were ignored", trailing);
    return true;
}

}  // namespace ply_reader
