// The report of a comparison as text: the seven lines scripts parse.
#pragma once

#include <cstdio>

#include "qem/comparison.h"

// Writes, for each direction, its vertex count, its face count and its sum
// ("first" and "second" in these lines name the two roles of one direction,
// not the file order), then the QEM Error. Returns false when a write failed.
bool writeTextReport(const Comparison& comparison, std::FILE* out);
