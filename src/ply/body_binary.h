// A binary element: its instances are read from the cursor in one of five
// ways, each with its bounds checks hoisted as far as the layout allows.
// - An element with a block handler whose records all repeat the first
//   one's list lengths: one call with the whole element (unless declined).
// - Only scalars, none registered: one jump over all of them.
// - Only scalars, all in the file: records of one size, checked once for the
//   whole element; no per-value checks, skipped properties cost nothing.
// - Just one registered list (faces, nearly always): checked once per
//   instance, with the common length and entry types as template arguments.
// - Anything else, or from the first instance the faster ways cannot take:
//   every value checked, so that an error names the first value missing.
#pragma once

#include "ply/body_cursor.h"

namespace ply_reader {

// Reads `count` instances of the element whose steps and argument the cursor
// holds, from cursor.pos on, calling the handlers in file order; `swap` when
// the file's byte order is not the machine's. Leaves pos just past them.
// Returns false after reporting the first problem or a handler's stop.
bool read_binary_element(BodyCursor& cursor, long count, bool swap);

}  // namespace ply_reader
