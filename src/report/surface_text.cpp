#include "report/surface_text.h"

#include "surface/onet.h"

#include <cstdarg>

namespace {

// Collects the write status, so that the report reads as a list of lines.
class Writer {
public:
    explicit Writer(std::FILE* out) : out_(out) {}
    [[gnu::format(printf, 2, 3)]] void line(const char* format, ...)
    {
        std::va_list args;
        va_start(args, format);
        if (std::vfprintf(out_, format, args) < 0 || std::fputc('\n', out_) == EOF)
            ok_ = false;
        va_end(args);
    }
    bool ok() const { return ok_; }

private:
    std::FILE* out_;
    bool ok_ = true;
};

void meshLines(Writer& w, const char* role, const std::string& file, const SurfaceMeshInfo& mesh)
{
    w.line("%s  %s", role, file.c_str());
    w.line("   vertices %zu, faces %zu, area %.6g", mesh.vertices, mesh.faces, mesh.area);
    w.line("   bounding box (%.6g, %.6g, %.6g) to (%.6g, %.6g, %.6g)", mesh.bboxMin[0],
           mesh.bboxMin[1], mesh.bboxMin[2], mesh.bboxMax[0], mesh.bboxMax[1], mesh.bboxMax[2]);
}

void figure(Writer& w, const char* name, double value)
{
    w.line("    %-6s %14.6g", name, value);
}

void maximum(Writer& w, const char* name, double value, double diagonal)
{
    w.line("    %-6s %14.6g   %.6g of the diagonal", name, value, value / diagonal);
}

void directionLines(Writer& w, const char* title, const SurfaceDirection& d, double diagonal)
{
    w.line("%s", title);
    w.line("  vertices: %zu (%zu unreferenced: on no face)", d.vertices.count, d.unreferenced);
    figure(w, "min", d.vertices.min);
    maximum(w, "max", d.vertices.max, diagonal);
    figure(w, "mean", d.vertices.mean);
    figure(w, "rms", d.vertices.rms);
    figure(w, "std", d.vertices.std);
    figure(w, "p50", d.vertices.p50);
    figure(w, "p90", d.vertices.p90);
    figure(w, "p95", d.vertices.p95);
    figure(w, "p99", d.vertices.p99);
    if (d.area.count == 0) {
        w.line("  area samples: none (--samples 0)");
    } else {
        w.line("  area samples: %zu over area %.6g, each weighted by the area it stands for",
               d.area.count, d.meshArea);
        figure(w, "mean", d.area.mean);
        figure(w, "rms", d.area.rms);
        figure(w, "std", d.area.std);
        maximum(w, "max", d.area.max, diagonal);
        figure(w, "p50", d.area.p50);
        figure(w, "p95", d.area.p95);
        figure(w, "p99", d.area.p99);
    }
    w.line("  one-sided maximum (lower bound: sampled): %.6g   %.6g of the diagonal", d.max,
           d.max / diagonal);
}

void intervalLine(Writer& w, const char* title, const HausdorffInterval& h, double diagonal)
{
    w.line("  %s  [%.9g, %.9g]   [%.6g, %.6g] of the diagonal%s", title, h.lower, h.upper,
           h.lower / diagonal, h.upper / diagonal,
           h.converged ? "" : "   (not within the error bound)");
    w.line("          witness (%.9g, %.9g, %.9g) at distance %.9g", h.witness.x, h.witness.y,
           h.witness.z, h.witnessDistance);
}

void certifiedLines(Writer& w, const SurfaceComparison::Certified& h, double diagonal)
{
    w.line("%s", "");
    w.line("Hausdorff (certified): [%.9g, %.9g]   [%.6g, %.6g] of the diagonal", h.lower,
           h.upper, h.lower / diagonal, h.upper / diagonal);
    w.line("  the exact Hausdorff distance over both whole surfaces lies in the interval,");
    w.line("  rounding included; error bound %.6g (upper - lower <= it)", h.maxError);
    intervalLine(w, "A -> B", h.aToB, diagonal);
    intervalLine(w, "B -> A", h.bToA, diagonal);
}

void defined(Writer& w, const char* name, double value, const char* definition)
{
    w.line("  %-19s %14.6g   %s", name, value, definition);
}

void reconstructionLines(Writer& w, const ReconstructionFigures& r, double diagonal)
{
    w.line("%s", "");
    w.line("Reconstruction figures: A the reconstruction, B the reference, from the area samples");
    defined(w, "accuracy", r.accuracy, kAccuracyDefinition);
    defined(w, "completeness", r.completeness, kCompletenessDefinition);
    defined(w, "chamfer-L1", r.chamferL1, kChamferL1Definition);
    defined(w, "chamfer-L2", r.chamferL2, kChamferL2Definition);
    defined(w, "normal consistency", r.normalConsistency, kNormalConsistencyDefinition);
    w.line("  precision: %s", kPrecisionDefinition);
    w.line("  recall:    %s", kRecallDefinition);
    w.line("  F-score:   %s", kFScoreDefinition);
    for (const ThresholdFigures& t : r.thresholds)
        w.line("  tau %-12.6g (%.6g of the diagonal)  precision %.6g  recall %.6g  F-score %.6g",
               t.tau, t.tau / diagonal, t.precision, t.recall, t.fScore);
}

void onetLines(Writer& w, const ReconstructionFigures& r, std::uint64_t seed)
{
    w.line("%s", "");
    w.line("Reconstruction figures, Occupancy Networks protocol (seed %llu): A the "
           "reconstruction, B the reference", static_cast<unsigned long long>(seed));
    w.line("  frame:    %s", kOnetFrameDefinition);
    w.line("  sampling: %s", kOnetSamplingDefinition);
    defined(w, "accuracy", r.accuracy, kOnetAccuracyDefinition);
    defined(w, "completeness", r.completeness, kOnetCompletenessDefinition);
    defined(w, "chamfer-L1", r.chamferL1, kOnetChamferL1Definition);
    defined(w, "chamfer-L2", r.chamferL2, kOnetChamferL2Definition);
    defined(w, "normal consistency", r.normalConsistency, kOnetNormalConsistencyDefinition);
    w.line("  precision: %s", kOnetPrecisionDefinition);
    w.line("  recall:    %s", kOnetRecallDefinition);
    w.line("  F-score:   %s", kOnetFScoreDefinition);
    for (const ThresholdFigures& t : r.thresholds)
        w.line("  tau %-12.6g  precision %.6g  recall %.6g  F-score %.6g", t.tau, t.precision,
               t.recall, t.fScore);
}

} // namespace

bool writeSurfaceTextReport(const SurfaceComparison& c, const std::string& fileA,
                            const std::string& fileB, std::FILE* out)
{
    Writer w(out);
    w.line("Surface distance: from points of each mesh to the nearest point of the other's surface");
    w.line("Units: those of the input coordinates (meshes as loaded, not centred or scaled)");
    w.line("Relative figures: divided by the diagonal of the union of both bounding boxes");
    w.line("%s", "");
    meshLines(w, "A", fileA, c.a);
    meshLines(w, "B", fileB, c.b);
    w.line("diagonal of the union box: %.6g", c.diagonal);
    w.line("%s", "");
    directionLines(w, "A -> B", c.aToB, c.diagonal);
    w.line("%s", "");
    directionLines(w, "B -> A", c.bToA, c.diagonal);
    w.line("%s", "");
    w.line("Hausdorff (lower bound: sampled): %.6g   %.6g of the diagonal", c.hausdorffLower,
           c.hausdorffLower / c.diagonal);
    w.line("  the larger of the two one-sided maxima; the Hausdorff distance itself");
    w.line("  can be larger where the farthest point of a surface was not sampled");
    if (c.certified)
        certifiedLines(w, *c.certified, c.diagonal);
    if (c.reconstruction)
        reconstructionLines(w, *c.reconstruction, c.diagonal);
    if (c.onet)
        onetLines(w, *c.onet, c.onetSeed);
    return w.ok();
}
