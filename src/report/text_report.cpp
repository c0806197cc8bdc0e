#include "report/text_report.h"

namespace {

// Counts are below INT_MAX: the loader refuses larger meshes.
bool writeDirection(const DirectedDistances& directed, std::FILE* out)
{
    return std::fprintf(out, "Number of vertecies of first mesh is %d\n", int(directed.vertexCount)) > 0 &&
           std::fprintf(out, "Number of faces of second mesh is %d\n", int(directed.faceCount)) > 0 &&
           std::fprintf(out, "Result of Point to Face is %f\n", double(directed.sum)) > 0;
}

} // namespace

bool writeTextReport(const Comparison& comparison, std::FILE* out)
{
    return writeDirection(comparison.firstToSecond, out) &&
           writeDirection(comparison.secondToFirst, out) &&
           std::fprintf(out, "QEM Error is %f\n", double(comparison.qemError)) > 0;
}
