#include "report/thresholds.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

Threshold parsed(const std::string& text, Engine engine)
{
    Threshold t;
    std::string error;
    EXPECT_TRUE(parseThreshold(text, engine, true, t, error)) << error;
    return t;
}

TEST(Thresholds, RejectWhatTheModeDoesNotReport)
{
    struct Case {
        const char* text;
        Engine engine;
        bool areaSamples;
        const char* message;
    };
    for (const Case& c : {Case{"qem", Engine::plane, true, "expected FIELD=VALUE"},
                          Case{"foo=1", Engine::plane, true, "unknown field 'foo'"},
                          Case{"mean=1", Engine::plane, true, "mean is not a figure of the default mode"},
                          Case{"qem=1", Engine::surface, true, "qem is not a figure of --surface"},
                          Case{"mean=1", Engine::surface, false, "--samples 0"},
                          Case{"qem=1%", Engine::plane, true, "takes no '%'"},
                          Case{"qem=", Engine::plane, true, "VALUE must be a finite number"},
                          Case{"qem=1x", Engine::plane, true, "got '1x'"},
                          Case{"qem=inf", Engine::plane, true, "finite"},
                          Case{"hausdorff=%", Engine::surface, true, "finite"}}) {
        Threshold t;
        std::string error;
        EXPECT_FALSE(parseThreshold(c.text, c.engine, c.areaSamples, t, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_EQ(thresholdFields(Engine::plane), "qem, s12, s21");
}

// Exceeding is strictly greater; an overflowed (infinite) or NaN figure
// always fails the check.
TEST(Thresholds, ExceedStrictlyAndOnNonFiniteFigures)
{
    Comparison c;
    c.qemError = 2.0f;
    c.firstToSecond.sum = 1.0f;
    const std::vector<Threshold> plane = {parsed("qem=2", Engine::plane), parsed("s12=0.5", Engine::plane),
                                          parsed("s21=-1e-300", Engine::plane)};
    EXPECT_EQ(exceededThresholds(plane, c), (std::vector<std::string>{"s12 = 1 > 0.5", "s21 = 0 > -1e-300"}));
    c.qemError = std::numeric_limits<float>::infinity();
    EXPECT_EQ(exceededThresholds(plane, c).front(), "qem = inf > 2");

    SurfaceComparison s;
    s.diagonal = 2.0;
    s.hausdorffLower = 0.5;
    s.aToB.area.mean = 0.02;
    s.bToA.area.mean = 0.04;
    s.aToB.vertices.p95 = std::nan("");
    EXPECT_EQ(exceededThresholds({parsed("hausdorff=25%", Engine::surface)}, s).size(), 0u);
    EXPECT_EQ(exceededThresholds({parsed("hausdorff=24.9%", Engine::surface)}, s),
              (std::vector<std::string>{"hausdorff = 0.5 (25% of the diagonal) > 24.9%"}));
    EXPECT_EQ(exceededThresholds({parsed("mean=0.03", Engine::surface)}, s),
              (std::vector<std::string>{"mean = 0.04 > 0.03"}));  // the larger direction
    EXPECT_EQ(exceededThresholds({parsed("vertex_p95=1e9", Engine::surface)}, s).size(), 1u);
}

} // namespace
