// An ASCII element handed to its block handler: parsed on every thread into
// the binary records (machine byte order) that a binary file with the same
// header would hold, so the handler sees one layout whatever the format.
//
// The values are parsed as the value-by-value read parses them (quick_number,
// then parse_number), and each is stored in its declared type, which holds it
// exactly (a float property's value is a float, an integer one's is integral
// and in range), so the handler decodes the very doubles the read handlers
// would have received.
#pragma once

#include "ply/body_cursor.h"

namespace ply_reader {

// Tries the element whose steps and argument the cursor holds, `count`
// instances from cursor.pos on. Returns 1 when the block handler read them
// (pos is then just past the last value), 0 after reporting the handler's
// stop, and -1, pos unchanged, when the element is read value by value
// instead: fewer than 2^16 values, no second thread to parse on, records
// whose list lengths differ from the first one's, any value that does not
// parse (the value-by-value read names it), or a handler that declines.
int read_ascii_block(BodyCursor& cursor, long count);

}  // namespace ply_reader
