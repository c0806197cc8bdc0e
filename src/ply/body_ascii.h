// An ASCII element: whitespace-separated values, line breaks without meaning.
// Each value is read by quick_number when it can be, by parse_number (which
// names the problem) otherwise.
#pragma once

#include "ply/body_cursor.h"

namespace ply_reader {

// Reads `count` instances of the element whose steps and argument the cursor
// holds, from cursor.pos on, calling the handlers in file order. Leaves pos
// just past the last value read. Returns false after reporting the first
// problem or a handler's stop.
bool read_ascii_element(BodyCursor& cursor, long count);

}  // namespace ply_reader
