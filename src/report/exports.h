// The per-vertex exports of a comparison, the same for both engines: a CSV of
// every vertex's distance, each mesh as a coloured binary PLY, and a CSV
// histogram. Each file is written in full or not at all (OutputFile), PLY
// through writePly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "geometry/mesh.h"
#include "qem/comparison.h"
#include "surface/surface_comparison.h"

// One mesh of a comparison as the exports see it.
struct ExportMesh {
    std::string label;              // "a" for the first file, "b" for the second
    const Mesh* mesh = nullptr;     // coordinates as loaded, and the faces
    std::vector<double> distances;  // of each vertex to the other mesh
    bool singlePrecision = false;   // the distances are floats (the plane engine)
    // The mesh's area samples, when the engine placed any: their distances
    // and the area each stands for (the histogram's area share).
    std::vector<double> sampleDistances;
    std::vector<double> sampleWeights;
};

// The plane engine: each vertex's nearest-plane distance, the values the sums
// add up, measured in the normalised frame. `loadedFirst` and `loadedSecond`
// are the meshes before normalisation; comparison.firstToSecond belongs to
// the first.
std::vector<ExportMesh> exportMeshes(const Comparison& comparison, const Mesh& loadedFirst,
                                     const Mesh& loadedSecond);
// The surface engine: each vertex's exact surface distance, and the area
// samples with their weights.
std::vector<ExportMesh> exportMeshes(const SurfaceComparison& comparison, const Mesh& a,
                                     const Mesh& b);

struct ValueRange {
    double min = 0, max = 0;
};

// 0 to the largest distance of any vertex or sample: the larger one-sided
// maximum.
ValueRange defaultRange(const std::vector<ExportMesh>& meshes);

struct Rgb {
    std::uint8_t red, green, blue;
};

// Viridis (van der Walt, Smith and Firing's perceptually uniform ramp for
// matplotlib, CC0), linearly interpolated between 17 of its 256 entries and
// rounded to bytes: t = 0 dark violet, t = 1 yellow; t is clamped to [0, 1].
Rgb rampColor(double t);
// The ramp position of `value`: 0 at or below range.min, 1 at or above
// range.max, linear in between.
double rampPosition(double value, const ValueRange& range);

struct HistogramBin {
    double lower = 0, upper = 0;
    std::size_t vertices = 0;
    double areaShare = 0;
};

// `bins` equal bins from range.min to range.max; bin i holds the values v
// with lower <= v < upper, the last one also v == range.max; values below
// the range count in the first bin, values above it in the last. The area
// share of a bin is the part of the mesh's area whose distance falls in it:
// the weights of the area samples in the bin over their sum when the mesh
// has samples, otherwise the vertex areas (one third of the area of every
// face using the vertex) of the vertices in it over their sum. It is 0 when
// the mesh has no area.
std::vector<HistogramBin> histogram(const ExportMesh& mesh, const ValueRange& range,
                                    std::size_t bins);

// What the command line asks to export; empty strings and 0 bins mean none.
struct ExportRequest {
    std::string perVertexPath;          // --per-vertex FILE.csv
    std::string colorPlyPrefix;         // --color-ply PREFIX
    std::optional<ValueRange> range;    // --color-range MIN MAX
    std::size_t histogramBins = 0;      // --histogram BINS FILE.csv
    std::string histogramPath;
    bool any() const
    {
        return !perVertexPath.empty() || !colorPlyPrefix.empty() || histogramBins > 0;
    }
};

// The largest --histogram BINS accepted.
constexpr std::size_t kMaxHistogramBins = 1000000;

// Writes every file asked for, in the order above. `distanceName` says in the
// coloured PLY headers what the distances are. Returns false at the first
// file that could not be written, with `error` naming it and why: that file
// is not left behind (nor the other PLY of the pair), the complete files
// written before it stay.
bool writeExports(const ExportRequest& request, const std::vector<ExportMesh>& meshes,
                  const std::string& distanceName, std::string& error);

// Whether every file asked for can be created, tried before the comparison
// so that a wrong path fails at once rather than after a long run: each
// destination is opened as writeExports would and dropped again, leaving
// nothing behind (pipes and devices are not tried). Returns false with
// `error` as writeExports does.
bool exportsWritable(const ExportRequest& request, std::string& error);

// The single files, for tests and callers of their own.
bool writePerVertexCsv(const std::string& path, const std::vector<ExportMesh>& meshes,
                       std::string& error);
bool writeColorPly(const std::string& prefix, const std::vector<ExportMesh>& meshes,
                   const ValueRange& range, const std::string& distanceName,
                   std::string& error);
bool writeHistogramCsv(const std::string& path, const std::vector<ExportMesh>& meshes,
                       const ValueRange& range, std::size_t bins, std::string& error);
