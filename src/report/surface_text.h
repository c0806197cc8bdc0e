// The surface comparison as an aligned, readable text report: what was
// measured and in which units, then both directions and the sampled lower
// bound of the Hausdorff distance. Numbers are printed with 6 significant
// digits (the JSON report has every digit); the decimal point is '.' in any
// locale, since meshqem never calls setlocale.
#pragma once

#include <cstdio>
#include <string>

#include "surface/surface_comparison.h"

// `fileA` and `fileB` name the meshes compared as A and B. Returns false
// when a write failed.
bool writeSurfaceTextReport(const SurfaceComparison& comparison, const std::string& fileA,
                            const std::string& fileB, std::FILE* out);
