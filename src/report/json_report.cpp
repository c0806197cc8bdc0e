#include "report/json_report.h"

#include "surface/onet.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;  // keys in the order written here

Json number(double value)
{
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

bool write(const Json& report, std::FILE* out)
{
    const std::string text =
        report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

Json planeDirection(const DirectedDistances& d)
{
    return {{"vertices", d.vertexCount}, {"faces", d.faceCount}, {"sum", number(d.sum)}};
}

Json point(const double p[3]) { return Json::array({p[0], p[1], p[2]}); }

Json surfaceMesh(const std::string& file, const SurfaceMeshInfo& m)
{
    return {{"file", file},         {"vertices", m.vertices},     {"faces", m.faces},
            {"area", m.area},       {"bbox_min", point(m.bboxMin)}, {"bbox_max", point(m.bboxMax)}};
}

Json surfaceDirection(const SurfaceDirection& d, double diagonal)
{
    const VertexStatistics& v = d.vertices;
    Json vertices = {{"count", v.count}, {"unreferenced", d.unreferenced},
                     {"min", v.min},     {"max", v.max},
                     {"mean", v.mean},   {"rms", v.rms},
                     {"std", v.std},     {"p50", v.p50},
                     {"p90", v.p90},     {"p95", v.p95},
                     {"p99", v.p99},     {"max_relative", number(v.max / diagonal)}};
    const WeightedStatistics& a = d.area;
    const bool sampled = a.count > 0;
    auto figure = [sampled](double value) { return sampled ? number(value) : Json(nullptr); };
    Json area = {{"samples", a.count},     {"area", figure(d.meshArea)},
                 {"mean", figure(a.mean)}, {"rms", figure(a.rms)},
                 {"std", figure(a.std)},   {"max", figure(a.max)},
                 {"p50", figure(a.p50)},   {"p95", figure(a.p95)},
                 {"p99", figure(a.p99)},   {"max_relative", figure(a.max / diagonal)}};
    return {{"vertices", vertices}, {"area", area}, {"max", d.max},
            {"max_relative", number(d.max / diagonal)}};
}

Json interval(const HausdorffInterval& h, double diagonal)
{
    return {{"lower", number(h.lower)},
            {"upper", number(h.upper)},
            {"lower_relative", number(h.lower / diagonal)},
            {"upper_relative", number(h.upper / diagonal)},
            {"witness", Json::array({h.witness.x, h.witness.y, h.witness.z})},
            {"witness_distance", number(h.witnessDistance)},
            {"converged", h.converged},
            {"pieces", h.pieces},
            {"points", h.points}};
}

Json hausdorff(const SurfaceComparison& c)
{
    if (!c.certified)
        return {{"lower", c.hausdorffLower},
                {"upper", nullptr},
                {"lower_relative", number(c.hausdorffLower / c.diagonal)}};
    const SurfaceComparison::Certified& h = *c.certified;
    return {{"lower", number(h.lower)},
            {"upper", number(h.upper)},
            {"lower_relative", number(h.lower / c.diagonal)},
            {"upper_relative", number(h.upper / c.diagonal)},
            {"error_bound", h.maxError},
            {"sampled_lower", c.hausdorffLower},
            {"a_to_b_interval", interval(h.aToB, c.diagonal)},
            {"b_to_a_interval", interval(h.bToA, c.diagonal)}};
}

Json defined(double value, const char* definition)
{
    return {{"value", number(value)}, {"definition", definition}};
}

Json reconstruction(const ReconstructionFigures& r, double diagonal)
{
    Json thresholds = Json::array();
    for (const ThresholdFigures& t : r.thresholds)
        thresholds.push_back({{"tau", t.tau},
                              {"tau_relative", number(t.tau / diagonal)},
                              {"precision", defined(t.precision, kPrecisionDefinition)},
                              {"recall", defined(t.recall, kRecallDefinition)},
                              {"f_score", defined(t.fScore, kFScoreDefinition)}});
    return {{"reconstruction", "a"},
            {"reference", "b"},
            {"accuracy", defined(r.accuracy, kAccuracyDefinition)},
            {"completeness", defined(r.completeness, kCompletenessDefinition)},
            {"chamfer_l1", defined(r.chamferL1, kChamferL1Definition)},
            {"chamfer_l2", defined(r.chamferL2, kChamferL2Definition)},
            {"normal_consistency", defined(r.normalConsistency, kNormalConsistencyDefinition)},
            {"thresholds", thresholds}};
}

Json onet(const ReconstructionFigures& r, std::uint64_t seed)
{
    Json thresholds = Json::array();
    for (const ThresholdFigures& t : r.thresholds)
        thresholds.push_back({{"tau", t.tau},
                              {"precision", defined(t.precision, kOnetPrecisionDefinition)},
                              {"recall", defined(t.recall, kOnetRecallDefinition)},
                              {"f_score", defined(t.fScore, kOnetFScoreDefinition)}});
    return {{"protocol", "onet"},
            {"seed", Json(seed)},
            {"samples", Json(std::uint64_t(kOnetSampleCount))},
            {"frame", std::string(kOnetFrameDefinition)},
            {"sampling", std::string(kOnetSamplingDefinition)},
            {"reconstruction", "a"},
            {"reference", "b"},
            {"accuracy", defined(r.accuracy, kOnetAccuracyDefinition)},
            {"completeness", defined(r.completeness, kOnetCompletenessDefinition)},
            {"chamfer_l1", defined(r.chamferL1, kOnetChamferL1Definition)},
            {"chamfer_l2", defined(r.chamferL2, kOnetChamferL2Definition)},
            {"normal_consistency", defined(r.normalConsistency, kOnetNormalConsistencyDefinition)},
            {"thresholds", thresholds}};
}

} // namespace

bool writeJsonReport(const Comparison& c, const std::string& firstFile,
                     const std::string& secondFile, std::FILE* out)
{
    // firstToSecond holds the first file's vertex count and the second's
    // face count; secondToFirst the other two.
    Json report = {
        {"first",
         {{"file", firstFile},
          {"vertices", c.firstToSecond.vertexCount},
          {"faces", c.secondToFirst.faceCount}}},
        {"second",
         {{"file", secondFile},
          {"vertices", c.secondToFirst.vertexCount},
          {"faces", c.firstToSecond.faceCount}}},
        {"first_to_second", planeDirection(c.firstToSecond)},
        {"second_to_first", planeDirection(c.secondToFirst)},
        {"qem_error", number(c.qemError)},
    };
    return write(report, out);
}

bool writeSurfaceJsonReport(const SurfaceComparison& c, const std::string& fileA,
                            const std::string& fileB, std::FILE* out)
{
    Json report = {
        {"units", "input coordinates, meshes as loaded"},
        {"a", surfaceMesh(fileA, c.a)},
        {"b", surfaceMesh(fileB, c.b)},
        {"diagonal", c.diagonal},
        {"a_to_b", surfaceDirection(c.aToB, c.diagonal)},
        {"b_to_a", surfaceDirection(c.bToA, c.diagonal)},
        {"hausdorff", hausdorff(c)},
    };
    if (c.reconstruction)
        report["reconstruction"] = reconstruction(*c.reconstruction, c.diagonal);
    if (c.onet)
        report["onet"] = onet(*c.onet, c.onetSeed);
    return write(report, out);
}

bool writeSurfaceJsonFailure(const std::string& fileA, const std::string& fileB,
                             const std::string& error, std::FILE* out)
{
    Json report = {{"a", {{"file", fileA}}}, {"b", {{"file", fileB}}}, {"error", error}};
    return write(report, out);
}
