#include "report/json_report.h"

#include <cstdio>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "helpers.h"

namespace {

std::string written(const std::function<bool(std::FILE*)>& write)
{
    test::TempDir dir;
    const std::string path = dir.path("out.json");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(write(file));
    std::fclose(file);
    return test::readFile(path);
}

// Each float goes out as the double it converts to: read back it is that
// float exactly, so "%f" of it prints the seven lines' digits.
TEST(JsonReport, PlaneFiguresAreTheFloatsBehindTheLines)
{
    Comparison c;
    c.firstToSecond = {642, 80, {}, 258.013458f};
    c.secondToFirst = {42, 1280, {}, 0.1f};
    c.qemError = 97.325943f;
    const std::string text = written([&](std::FILE* f) { return writeJsonReport(c, "a.ply", "b.ply", f); });
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["first"]["vertices"], 642);
    EXPECT_EQ(j["first"]["faces"], 1280);
    EXPECT_EQ(j["second"]["file"], "b.ply");
    EXPECT_EQ(j["second_to_first"]["faces"], 1280);
    EXPECT_EQ(j["first_to_second"]["sum"].get<double>(), double(258.013458f));
    EXPECT_EQ(j["second_to_first"]["sum"].get<double>(), double(0.1f));  // not 0.1
    EXPECT_EQ(j["qem_error"].get<double>(), double(97.325943f));
    EXPECT_EQ(text.back(), '\n');
}

// A sum that overflowed prints "inf" in the lines; JSON has no infinity.
TEST(JsonReport, NonFiniteFiguresAreNullAndBadFileNamesDoNotThrow)
{
    Comparison c;
    c.qemError = HUGE_VALF;
    const std::string text =
        written([&](std::FILE* f) { return writeJsonReport(c, "caf\xE9.ply", "b.ply", f); });
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_TRUE(j["qem_error"].is_null());
    EXPECT_EQ(j["first"]["file"], "caf\xEF\xBF\xBD.ply");  // U+FFFD for the stray byte
}

TEST(JsonReport, SurfaceFiguresWithoutSamplesAreNull)
{
    SurfaceComparison c;
    c.diagonal = 2;
    c.aToB.vertices = {3, 0.5, 1, 0.75, 0.8, 0.1, 0.75, 1, 1, 1};
    c.aToB.max = c.hausdorffLower = 1;
    const nlohmann::json j = nlohmann::json::parse(
        written([&](std::FILE* f) { return writeSurfaceJsonReport(c, "a.ply", "b.ply", f); }));
    EXPECT_EQ(j["a_to_b"]["vertices"]["count"], 3);
    EXPECT_EQ(j["a_to_b"]["vertices"]["min"], 0.5);
    EXPECT_EQ(j["a_to_b"]["vertices"]["max_relative"], 0.5);
    EXPECT_EQ(j["a_to_b"]["area"]["samples"], 0);
    for (const char* key : {"area", "mean", "rms", "std", "max", "p50", "p95", "p99"})
        EXPECT_TRUE(j["a_to_b"]["area"][key].is_null()) << key;
    EXPECT_EQ(j["hausdorff"]["lower"], 1);
    EXPECT_TRUE(j["hausdorff"]["upper"].is_null());
}

} // namespace
