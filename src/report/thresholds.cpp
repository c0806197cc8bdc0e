#include "report/thresholds.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

using PlaneFigure = double (*)(const Comparison&);
using SurfaceFigure = double (*)(const SurfaceComparison&);

struct Field {
    const char* name;
    Engine engine;
    bool needsAreaSamples;
    PlaneFigure plane;
    SurfaceFigure surface;
};

template <typename Get>
double larger(const SurfaceComparison& c, Get get)
{
    return std::max(get(c.aToB), get(c.bToA));
}

#define AREA(figure) \
    [](const SurfaceComparison& c) { \
        return larger(c, [](const SurfaceDirection& d) { return d.area.figure; }); \
    }
#define VERTEX(figure) \
    [](const SurfaceComparison& c) { \
        return larger(c, [](const SurfaceDirection& d) { return d.vertices.figure; }); \
    }

const Field kFields[] = {
    {"qem", Engine::plane, false, [](const Comparison& c) { return double(c.qemError); }, nullptr},
    {"s12", Engine::plane, false, [](const Comparison& c) { return double(c.firstToSecond.sum); },
     nullptr},
    {"s21", Engine::plane, false, [](const Comparison& c) { return double(c.secondToFirst.sum); },
     nullptr},
    {"hausdorff", Engine::surface, false, nullptr,
     [](const SurfaceComparison& c) { return c.hausdorffLower; }},
    {"mean", Engine::surface, true, nullptr, AREA(mean)},
    {"rms", Engine::surface, true, nullptr, AREA(rms)},
    {"p50", Engine::surface, true, nullptr, AREA(p50)},
    {"p95", Engine::surface, true, nullptr, AREA(p95)},
    {"p99", Engine::surface, true, nullptr, AREA(p99)},
    {"vertex_max", Engine::surface, false, nullptr, VERTEX(max)},
    {"vertex_mean", Engine::surface, false, nullptr, VERTEX(mean)},
    {"vertex_rms", Engine::surface, false, nullptr, VERTEX(rms)},
    {"vertex_p50", Engine::surface, false, nullptr, VERTEX(p50)},
    {"vertex_p90", Engine::surface, false, nullptr, VERTEX(p90)},
    {"vertex_p95", Engine::surface, false, nullptr, VERTEX(p95)},
    {"vertex_p99", Engine::surface, false, nullptr, VERTEX(p99)},
};

#undef AREA
#undef VERTEX

const char* engineName(Engine engine) { return engine == Engine::plane ? "the default mode" : "--surface"; }

std::string describe(const Threshold& t, double figure, double diagonal)
{
    char text[160];
    if (t.relative)
        std::snprintf(text, sizeof text, "%s = %.9g (%.9g%% of the diagonal) > %.9g%%",
                      kFields[t.field].name, figure, 100.0 * figure / diagonal, t.value);
    else
        std::snprintf(text, sizeof text, "%s = %.9g > %.9g", kFields[t.field].name, figure, t.value);
    return text;
}

bool exceeds(double figure, double limit) { return !(figure <= limit); }

} // namespace

std::string thresholdFields(Engine engine)
{
    std::string names;
    for (const Field& field : kFields)
        if (field.engine == engine)
            names += (names.empty() ? "" : ", ") + std::string(field.name);
    return names;
}

bool parseThreshold(const std::string& text, Engine engine, bool areaSamples, Threshold& out,
                    std::string& error)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        error = "--fail-above: expected FIELD=VALUE, got '" + text + "'";
        return false;
    }
    const std::string name = text.substr(0, equals);
    std::string value = text.substr(equals + 1);
    Threshold t;
    t.text = text;
    if (!value.empty() && value.back() == '%') {
        t.relative = true;
        value.pop_back();
    }
    for (int i = 0; i < int(std::size(kFields)); ++i)
        if (name == kFields[i].name)
            t.field = i;
    if (t.field < 0) {
        error = "--fail-above: unknown field '" + name + "'; the fields of " + engineName(engine) +
                " are " + thresholdFields(engine);
        return false;
    }
    const Field& field = kFields[t.field];
    if (field.engine != engine) {
        error = "--fail-above: " + name + " is not a figure of " + engineName(engine) +
                "; its fields are " + thresholdFields(engine);
        return false;
    }
    if (field.needsAreaSamples && !areaSamples) {
        error = "--fail-above: " + name + " is a figure of the area samples, and --samples 0 "
                "places none";
        return false;
    }
    if (t.relative && engine == Engine::plane) {
        error = "--fail-above: " + name + " is not a distance, so it takes no '%'";
        return false;
    }
    const char* end = value.data() + value.size();
    auto [ptr, ec] = std::from_chars(value.data(), end, t.value);
    if (value.empty() || ec != std::errc() || ptr != end || !std::isfinite(t.value)) {
        error = "--fail-above: " + name + ": VALUE must be a finite number" +
                (engine == Engine::surface ? " (optionally followed by %)" : "") + ", got '" +
                text.substr(equals + 1) + "'";
        return false;
    }
    out = t;
    return true;
}

std::vector<std::string> exceededThresholds(const std::vector<Threshold>& thresholds,
                                            const Comparison& comparison)
{
    std::vector<std::string> exceeded;
    for (const Threshold& t : thresholds) {
        const double figure = kFields[t.field].plane(comparison);
        if (exceeds(figure, t.value))
            exceeded.push_back(describe(t, figure, 1.0));
    }
    return exceeded;
}

std::vector<std::string> exceededThresholds(const std::vector<Threshold>& thresholds,
                                            const SurfaceComparison& comparison)
{
    std::vector<std::string> exceeded;
    for (const Threshold& t : thresholds) {
        const double figure = kFields[t.field].surface(comparison);
        const double compared = t.relative ? 100.0 * figure / comparison.diagonal : figure;
        if (exceeds(compared, t.value))
            exceeded.push_back(describe(t, figure, comparison.diagonal));
    }
    return exceeded;
}
