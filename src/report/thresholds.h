// Thresholds for pipelines (--fail-above FIELD=VALUE): a figure of the report
// above its VALUE makes the run exit with status 3.
//
// Fields of the default (nearest-plane) engine, in its normalised frame:
//   qem     the QEM Error
//   s12     the first file's sum (first -> second)
//   s21     the second file's sum
// Fields of the surface engine, each the larger of the two directions:
//   hausdorff                       the sampled lower bound of the Hausdorff distance
//   mean, rms, p50, p95, p99        area-weighted figures of the area samples
//                                   (not with --samples 0)
//   vertex_max, vertex_mean, vertex_rms, vertex_p50, vertex_p90, vertex_p95,
//   vertex_p99                      the vertex figures
// A surface field's VALUE may end in '%': it is then compared with
// 100 * figure / diagonal (the diagonal of the union of both boxes).
#pragma once

#include <string>
#include <vector>

#include "qem/comparison.h"
#include "surface/surface_comparison.h"

struct Threshold {
    std::string text;   // FIELD=VALUE as given
    int field = -1;     // into the table of fields
    double value = 0;   // VALUE without the '%'
    bool relative = false;
};

enum class Engine { plane, surface };

// Parses FIELD=VALUE (VALUE a finite decimal number, optionally followed by
// '%'). Returns false and sets `error` for a malformed text, a field the
// engine does not report, an area field when there are no area samples, or
// '%' on a field that is not a distance.
bool parseThreshold(const std::string& text, Engine engine, bool areaSamples, Threshold& out,
                    std::string& error);

// The field names of an engine, comma-separated, for messages.
std::string thresholdFields(Engine engine);

// The thresholds the figures exceed: for each, a line such as
// "hausdorff = 0.7 > 0.5" (the figure with 9 significant digits). A figure
// that is not a number (a float overflow) counts as exceeding.
std::vector<std::string> exceededThresholds(const std::vector<Threshold>& thresholds,
                                            const Comparison& comparison);
std::vector<std::string> exceededThresholds(const std::vector<Threshold>& thresholds,
                                            const SurfaceComparison& comparison);
