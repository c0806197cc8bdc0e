// parse_number and quick_number on their own: the range of every integer
// kind at its edges, in both spellings the reader accepts, the float limits,
// and what the quick path must leave to the full parse.
#include "ply/ascii_number.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

namespace ply_reader {

// Found by argument-dependent lookup, so that failures print the verdict.
void PrintTo(NumberStatus s, std::ostream* os) {
    *os << (s == NumberStatus::ok        ? "ok"
            : s == NumberStatus::invalid ? "invalid"
                                         : "out_of_range");
}

}  // namespace ply_reader

namespace {

using ply_reader::NumberStatus;
using ply_reader::parse_number;
using ply_reader::quick_number;
using ply_reader::Scalar;

// ---- integer kinds: the edges of the range, stated here rather than taken
// from the reader's tables

struct IntegerRange {
    const char* name;
    Scalar type;
    double min, max;
    const char *below, *above;  // the integers just outside
};
std::ostream& operator<<(std::ostream& os, const IntegerRange& r) { return os << r.name; }

class IntegerEdges : public ::testing::TestWithParam<IntegerRange> {};

TEST_P(IntegerEdges, AcceptTheLimitsAndRejectTheNextIntegerInBothSpellings) {
    const IntegerRange& r = GetParam();
    for (double limit : {r.min, r.max}) {
        char integer[32], decimal[32];
        std::snprintf(integer, sizeof integer, "%.0f", limit);
        std::snprintf(decimal, sizeof decimal, "%.1f", limit);  // the floating-point path
        for (const char* text : {integer, decimal}) {
            double out = -1;
            EXPECT_EQ(parse_number(r.type, text, out), NumberStatus::ok) << text;
            EXPECT_EQ(out, limit) << text;
        }
        double quick = -1;
        EXPECT_EQ(quick_number(r.type, integer, integer + std::strlen(integer), quick),
                  integer + std::strlen(integer));
        EXPECT_EQ(quick, limit);
    }
    for (const std::string outside : {r.below, r.above}) {
        double out = 0;
        for (const std::string& text : {outside, outside + ".0", outside + "e0"})
            EXPECT_EQ(parse_number(r.type, text, out), NumberStatus::out_of_range) << text;
        const char* end = outside.data() + outside.size();
        EXPECT_EQ(quick_number(r.type, outside.data(), end, out), nullptr)
            << outside << " must be left to parse_number";
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsciiNumber, IntegerEdges,
    ::testing::Values(IntegerRange{"int8", Scalar::I8, -128, 127, "-129", "128"},
                      IntegerRange{"uint8", Scalar::U8, 0, 255, "-1", "256"},
                      IntegerRange{"int16", Scalar::I16, -32768, 32767, "-32769", "32768"},
                      IntegerRange{"uint16", Scalar::U16, 0, 65535, "-1", "65536"},
                      IntegerRange{"int32", Scalar::I32, -2147483648.0, 2147483647.0,
                                   "-2147483649", "2147483648"},
                      IntegerRange{"uint32", Scalar::U32, 0, 4294967295.0, "-1", "4294967296"}),
    [](const ::testing::TestParamInfo<IntegerRange>& param) { return param.param.name; });

// ---- one token, one verdict

struct TokenCase {
    Scalar type;
    const char* text;
    NumberStatus status;
    double value;  // when ok; compared with its sign
};
std::ostream& operator<<(std::ostream& os, const TokenCase& c) { return os << c.text; }

class ParseNumber : public ::testing::TestWithParam<TokenCase> {};

TEST_P(ParseNumber, GivesItsVerdict) {
    const TokenCase& c = GetParam();
    double out = 12345;
    ASSERT_EQ(parse_number(c.type, c.text, out), c.status);
    if (c.status != NumberStatus::ok) return;
    if (std::isnan(c.value)) {
        EXPECT_TRUE(std::isnan(out));
        return;
    }
    EXPECT_EQ(out, c.value);
    EXPECT_EQ(std::signbit(out), std::signbit(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    AsciiNumber, ParseNumber,
    ::testing::Values(
        // Float limits: the largest finite value reads, the next decade does not;
        // a value below the smallest subnormal keeps its sign.
        TokenCase{Scalar::F32, "3.4028235e38", NumberStatus::ok, FLT_MAX},
        TokenCase{Scalar::F32, "-3.5e38", NumberStatus::out_of_range, 0},
        TokenCase{Scalar::F32, "-1e-46", NumberStatus::ok, -0.0},
        TokenCase{Scalar::F64, "1.7976931348623157e308", NumberStatus::ok, DBL_MAX},
        TokenCase{Scalar::F64, "1.8e308", NumberStatus::out_of_range, 0},
        TokenCase{Scalar::F64, "+inf", NumberStatus::ok, HUGE_VAL},
        TokenCase{Scalar::F32, "nan", NumberStatus::ok, NAN},
        // An integer kind takes no infinity, nan or fraction, whatever the spelling.
        TokenCase{Scalar::I32, "inf", NumberStatus::invalid, 0},
        TokenCase{Scalar::I32, "nan", NumberStatus::invalid, 0},
        TokenCase{Scalar::I32, "2.5e0", NumberStatus::invalid, 0},
        TokenCase{Scalar::U32, "1e300", NumberStatus::out_of_range, 0},
        TokenCase{Scalar::I32, "99999999999999999999", NumberStatus::out_of_range, 0},
        TokenCase{Scalar::I32, "1e400", NumberStatus::out_of_range, 0},
        // One '+' at most, and then a number.
        TokenCase{Scalar::I32, "+", NumberStatus::invalid, 0},
        TokenCase{Scalar::I32, "++1", NumberStatus::invalid, 0},
        TokenCase{Scalar::F64, "+-1", NumberStatus::invalid, 0},
        // Nothing but a decimal number.
        TokenCase{Scalar::F64, "0x10", NumberStatus::invalid, 0},
        TokenCase{Scalar::F64, "1.5.2", NumberStatus::invalid, 0},
        TokenCase{Scalar::U8, "7,", NumberStatus::invalid, 0}));

// ---- the quick path: stops at a blank, declines what it cannot finish

struct QuickCase {
    Scalar type;
    const char* text;
    long stops_at;  // offset of the returned position, -1 for null
    double value;
};
std::ostream& operator<<(std::ostream& os, const QuickCase& c) {
    return os << '"' << c.text << '"';
}

class QuickNumber : public ::testing::TestWithParam<QuickCase> {};

TEST_P(QuickNumber, StopsAtTheBlankOrDeclines) {
    const QuickCase& c = GetParam();
    const char* end = c.text + std::strlen(c.text);
    double out = 0;
    const char* next = quick_number(c.type, c.text, end, out);
    if (c.stops_at < 0) {
        EXPECT_EQ(next, nullptr);
        return;
    }
    ASSERT_EQ(next, c.text + c.stops_at);
    EXPECT_EQ(out, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    AsciiNumber, QuickNumber,
    ::testing::Values(QuickCase{Scalar::I32, " \t\r\n-12 7", 7, -12},
                      QuickCase{Scalar::F32, "0.5\n", 3, 0.5},
                      QuickCase{Scalar::F64, "-2e3", 4, -2000},
                      QuickCase{Scalar::I32, "12x", -1, 0},     // not a whole token
                      QuickCase{Scalar::F64, "1.5,", -1, 0},
                      QuickCase{Scalar::I32, "7.0", -1, 0},     // an integer in decimal spelling
                      QuickCase{Scalar::U8, "+7", -1, 0},       // a '+'
                      QuickCase{Scalar::F32, "1e39", -1, 0},    // out of range
                      QuickCase{Scalar::I32, "   ", -1, 0},     // no number before the end
                      QuickCase{Scalar::I32, "", -1, 0}));

}  // namespace
