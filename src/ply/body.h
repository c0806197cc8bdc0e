// The body: every element's instances in declared order, each instance's
// properties in declared order, delivered to the registered handlers.
#pragma once

#include "ply/reader_internal.h"

namespace ply_reader {

// Reads the body that starts at ply->body, after a successful read_header.
// For each instance (counted from 0) of each element, calls the handler of
// each registered property in declared order: a scalar once (length 1, value
// index 0); a list first with its length (value index -1), then once per
// entry (value index 0, 1, ...). Elements without properties are passed over,
// bytes after the last element are ignored with a warning that counts them
// (none for an ASCII body followed by whitespace only). Returns false after
// reporting the first problem or a handler's stop.
bool read_body(p_ply ply);

}  // namespace ply_reader
