// The reports as one JSON object each (nlohmann-json), for scripts. Numbers
// are written with the shortest digits that read back as the same double;
// a count is an integer. File names that are not valid UTF-8 have the bad
// bytes replaced by U+FFFD. The key names are documented in README.md.
#pragma once

#include <cstdio>
#include <string>

#include "qem/comparison.h"
#include "surface/surface_comparison.h"

// The default mode: both files' vertex and face counts, both directions'
// counts and sums and the QEM Error. Each float is written as the double it
// converts to, so printf("%f") of the value gives the seven lines' digits; a
// float that is not finite is written as null. Returns false when a write
// failed.
bool writeJsonReport(const Comparison& comparison, const std::string& firstFile,
                     const std::string& secondFile, std::FILE* out);

// The surface mode. With no area samples the "area" figures are null.
bool writeSurfaceJsonReport(const SurfaceComparison& comparison, const std::string& fileA,
                            const std::string& fileB, std::FILE* out);

// In place of the surface report of a pair that could not be compared:
// {"a": {"file": fileA}, "b": {"file": fileB}, "error": why}.
bool writeSurfaceJsonFailure(const std::string& fileA, const std::string& fileB,
                             const std::string& error, std::FILE* out);
