// The header: the magic line, the format, each element with its properties in
// declared order, then the end_header line. Accepted input is described in
// reader.h.
#pragma once

#include "ply/reader_internal.h"

namespace ply_reader {

// Parses the header at the start of ply->data, setting ply->mode,
// ply->elements and ply->body (the offset just past the end_header line's
// LF), then checks the declared counts: every instance needs at least the
// bytes of its scalars and list lengths in a binary body, at least two bytes
// per value (a character and a separator, none after the last value) in an
// ASCII one, and all instances together must fit in the bytes after the
// header. Returns false after reporting the first problem; ply->elements then
// holds what was parsed before it.
bool read_header(p_ply ply);

}  // namespace ply_reader
