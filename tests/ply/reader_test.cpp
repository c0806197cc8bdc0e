#include "ply/reader.h"

#include "helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <algorithm>
#include <omp.h>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- fixtures: capture errors and record every handler call

struct Call {
    std::string element, property;
    long instance, length, index;
    double value;
    long idata;
    bool operator==(const Call& o) const {
        return element == o.element && property == o.property && instance == o.instance &&
               length == o.length && index == o.index &&
               (value == o.value || (std::isnan(value) && std::isnan(o.value))) && idata == o.idata;
    }
};
std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << c.element << "." << c.property << "#" << c.instance << " len=" << c.length
              << " idx=" << c.index << " v=" << c.value << " idata=" << c.idata;
}

struct Trace {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    std::vector<Call> calls;
    long abort_after = -1;  // handler returns 0 on this call
    // With an answer, read_all also registers replay_block for every element:
    // 1 replays each block as calls, -1 declines it, 0 aborts.
    std::optional<int> block_answer;
    bool big = false;  // the file's byte order, for replay_block
    long blocks = 0;   // blocks handed over
};

void collect_error(p_ply ply, const char* message) {
    void* pdata = nullptr;
    ASSERT_TRUE(ply_get_ply_user_data(ply, &pdata, nullptr));
    static_cast<Trace*>(pdata)->errors.emplace_back(message);
}

void collect_warning(p_ply ply, const char* message) {
    void* pdata = nullptr;
    ASSERT_TRUE(ply_get_ply_user_data(ply, &pdata, nullptr));
    static_cast<Trace*>(pdata)->warnings.emplace_back(message);
}

int record(p_ply_argument arg) {
    void* pdata = nullptr;
    long idata = 0;
    p_ply_element element = nullptr;
    p_ply_property property = nullptr;
    const char *ename = nullptr, *pname = nullptr;
    Call c{};
    ply_get_argument_user_data(arg, &pdata, &idata);
    ply_get_argument_element(arg, &element, &c.instance);
    ply_get_argument_property(arg, &property, &c.length, &c.index);
    ply_get_element_info(element, &ename, nullptr);
    ply_get_property_info(property, &pname, nullptr, nullptr, nullptr);
    c.element = ename;
    c.property = pname;
    c.value = ply_get_argument_value(arg);
    c.idata = idata;
    Trace* run = static_cast<Trace*>(pdata);
    run->calls.push_back(c);
    return static_cast<long>(run->calls.size()) != run->abort_after;
}

int type_size(e_ply_type type) {
    switch (type) {
        case PLY_INT8: case PLY_CHAR: case PLY_UINT8: case PLY_UCHAR: return 1;
        case PLY_INT16: case PLY_SHORT: case PLY_UINT16: case PLY_USHORT: return 2;
        case PLY_FLOAT64: case PLY_DOUBLE: return 8;
        default: return 4;
    }
}

// A value of `type` at `p`, assembled by shifts in the file's byte order.
double get(const char* p, e_ply_type type, bool big) {
    const int size = type_size(type);
    std::uint64_t bits = 0;
    for (int i = 0; i < size; ++i)
        bits |= std::uint64_t(static_cast<unsigned char>(p[big ? size - 1 - i : i])) << (8 * i);
    switch (type) {
        case PLY_INT8: case PLY_CHAR: return static_cast<std::int8_t>(bits);
        case PLY_INT16: case PLY_SHORT: return static_cast<std::int16_t>(bits);
        case PLY_INT32: case PLY_INT: return static_cast<std::int32_t>(bits);
        case PLY_FLOAT32: case PLY_FLOAT: {
            float f;
            std::uint32_t u = static_cast<std::uint32_t>(bits);
            std::memcpy(&f, &u, 4);
            return f;
        }
        case PLY_FLOAT64: case PLY_DOUBLE: {
            double d;
            std::memcpy(&d, &bits, 8);
            return d;
        }
        default: return static_cast<double>(bits);
    }
}

// Turns a block into the calls the read handlers would have received.
int replay_block(p_ply_block block, void* pdata) {
    Trace& run = *static_cast<Trace*>(pdata);
    ++run.blocks;
    if (*run.block_answer != 1) return *run.block_answer;
    const char* ename = nullptr;
    ply_get_element_info(block->element, &ename, nullptr);
    for (long i = 0; i < block->count; ++i) {
        const char* record = block->data + static_cast<std::size_t>(i) * block->size;
        const t_ply_field_* field = block->fields;
        for (p_ply_property p = ply_get_next_property(block->element, nullptr); p;
             p = ply_get_next_property(block->element, p), ++field) {
            const char* pname = nullptr;
            e_ply_type type;
            ply_get_property_info(p, &pname, &type, nullptr, nullptr);
            EXPECT_NE(ply_get_block_field(block, pname), nullptr);
            const bool list = type == PLY_LIST;
            if (list) run.calls.push_back({ename, pname, i, field->length, -1, double(field->length), 0});
            for (long e = 0; e < field->length; ++e) {
                const char* at = record + field->offset + e * type_size(field->type);
                run.calls.push_back({ename, pname, i, list ? field->length : 1, list ? e : 0,
                                     get(at, field->type, run.big), 0});
            }
        }
    }
    return 1;
}

// Reads `file` from an exactly sized heap copy (so ASan sees any over-read),
// registering every property except those of elements named "skip...".
// Returns ply_read_header && ply_read.
bool read_all(const std::string& file, Trace& run) {
    std::vector<char> copy(file.begin(), file.end());
    p_ply ply = ply_open_from_memory(copy.empty() ? nullptr : copy.data(), copy.size(),
                                     collect_error, 0, &run);
    ply_set_warning_cb(ply, collect_warning);
    bool ok = ply && ply_read_header(ply);
    for (p_ply_element e = ok ? ply_get_next_element(ply, nullptr) : nullptr; e;
         e = ply_get_next_element(ply, e)) {
        const char* ename;
        ply_get_element_info(e, &ename, nullptr);
        if (std::string(ename).rfind("skip", 0) == 0) continue;
        for (p_ply_property p = ply_get_next_property(e, nullptr); p;
             p = ply_get_next_property(e, p)) {
            const char* pname;
            ply_get_property_info(p, &pname, nullptr, nullptr, nullptr);
            ply_set_read_cb(ply, ename, pname, record, &run, 0);
        }
        if (run.block_answer) ply_set_block_cb(ply, ename, replay_block, &run);
    }
    ok = ok && ply_read(ply);
    ply_close(ply);
    return ok;
}

std::string first_error(const Trace& run) { return run.errors.empty() ? "" : run.errors[0]; }

// Reads `file` again with block handlers answering `answer` and expects what
// the read handlers alone gave: the same result, errors and calls.
void expect_same_with_blocks(const std::string& file, const Trace& plain, int answer) {
    Trace run;
    run.block_answer = answer;
    run.big = file.find("format binary_big_endian") != std::string::npos;
    EXPECT_EQ(read_all(file, run), plain.errors.empty()) << "block answer " << answer;
    EXPECT_EQ(run.errors, plain.errors) << "block answer " << answer;
    EXPECT_EQ(run.calls, plain.calls) << "block answer " << answer;
}

// Appends `v` as `type` in the given byte order, built from shifts so the test
// does not share the reader's byte-order logic.
void put(std::string& out, const std::string& type, double v, bool big) {
    std::uint64_t bits;
    int size;
    if (type == "float" || type == "float32") {
        float f = static_cast<float>(v);
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        bits = u, size = 4;
    } else if (type == "double" || type == "float64") {
        std::memcpy(&bits, &v, 8), size = 8;
    } else {
        bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        size = type.find('8') != std::string::npos || type == "char" || type == "uchar" ? 1
               : type.find("16") != std::string::npos || type.find("short") != std::string::npos
                   ? 2
                   : 4;
    }
    for (int i = 0; i < size; ++i)
        out += static_cast<char>(bits >> (8 * (big ? size - 1 - i : i)) & 0xff);
}

std::string header(const std::string& format, const std::string& rest) {
    return "ply\nformat " + format + " 1.0\n" + rest + "end_header\n";
}

class OnDisk : public ::testing::Test {
protected:
    std::string path(const std::string& name) { return dir_.path(name); }
    std::string write(const std::string& name, const std::string& data) {
        return dir_.write(name, data);
    }
    bool read_file(const std::string& p, Trace& run) {
        p_ply ply = ply_open(p.c_str(), collect_error, 0, &run);
        if (!ply) return false;
        bool ok = ply_read_header(ply);
        ok = ok && ply_set_read_cb(ply, "v", "a", record, &run, 0) &&
             ply_set_read_cb(ply, "v", "b", record, &run, 0) && ply_read(ply);
        ply_close(ply);
        return ok;
    }
    test::TempDir dir_;
};

// ---- the callback contract

TEST(PlyReader, DeliversValuesInFileOrderWithListLengthFirst) {
    const std::string file = header("ascii",
                                    "element vertex 2\nproperty float x\nproperty float y\n"
                                    "element face 2\nproperty uchar flags\n"
                                    "property list uchar int vertex_indices\n") +
                             "1 2\n3 4\n7 3 0 1 2\n8 0\n";
    Trace run;
    p_ply ply = ply_open_from_memory(file.data(), file.size(), collect_error, 0, &run);
    ASSERT_TRUE(ply_read_header(ply));
    EXPECT_EQ(ply_set_read_cb(ply, "face", "vertex_indices", record, &run, 0), 2);
    EXPECT_EQ(ply_set_read_cb(ply, "vertex", "x", record, &run, 5), 2);
    EXPECT_EQ(ply_set_read_cb(ply, "vertex", "x", record, &run, 6), 2);  // replaces
    EXPECT_EQ(ply_set_read_cb(ply, "vertex", "z", record, &run, 0), 0);
    EXPECT_EQ(ply_set_read_cb(ply, "edge", "x", record, &run, 0), 0);
    ASSERT_TRUE(ply_read(ply));
    ply_close(ply);
    const std::vector<Call> expected = {
        {"vertex", "x", 0, 1, 0, 1, 6},  {"vertex", "x", 1, 1, 0, 3, 6},
        {"face", "vertex_indices", 0, 3, -1, 3, 0}, {"face", "vertex_indices", 0, 3, 0, 0, 0},
        {"face", "vertex_indices", 0, 3, 1, 1, 0},  {"face", "vertex_indices", 0, 3, 2, 2, 0},
        {"face", "vertex_indices", 1, 0, -1, 0, 0},
    };
    EXPECT_EQ(run.calls, expected);
    EXPECT_TRUE(run.errors.empty());
}

TEST(PlyReader, HandlerReturningZeroAbortsRead) {
    const std::string file =
        header("ascii", "element v 3\nproperty int a\n") + "1 2 3\n";
    Trace run;
    run.abort_after = 2;
    EXPECT_FALSE(read_all(file, run));
    EXPECT_EQ(run.calls.size(), 2u);
    EXPECT_EQ(first_error(run), "Reading aborted by the handler of 'a' of 'v' number 1");
}

// A handler's 0 stops the read at that value in every format, inside a
// list as well as at a scalar.
class AbortsAt : public ::testing::TestWithParam<const char*> {};

TEST_P(AbortsAt, TheValueWhoseHandlerReturnedZero) {
    const std::string format = GetParam();
    std::string body;
    if (format == "ascii") {
        body = "1 2\n3 4\n3 0 1 0\n3 1 0 1\n";
    } else {
        const bool big = format == "binary_big_endian";
        for (double v : {1, 2, 3, 4}) put(body, "float", v, big);
        for (double v : {3, 0, 1, 0, 3, 1, 0, 1}) put(body, v == 3 ? "uchar" : "int", v, big);
    }
    const std::string file =
        header(format, "element v 2\nproperty float a\nproperty float b\n"
                       "element face 2\nproperty list uchar int idx\n") + body;
    for (const auto& [after, message] :
         {std::pair<long, std::string>{3, "Reading aborted by the handler of 'a' of 'v' number 1"},
          {11, "Reading aborted by the handler of 'idx' of 'face' number 1"}}) {
        Trace run;
        run.abort_after = after;
        EXPECT_FALSE(read_all(file, run));
        EXPECT_EQ(run.calls.size(), static_cast<std::size_t>(after));
        EXPECT_EQ(first_error(run), message);
    }
}

INSTANTIATE_TEST_SUITE_P(PlyReader, AbortsAt,
                         ::testing::Values("ascii", "binary_little_endian", "binary_big_endian"));

TEST(PlyReader, IntrospectionReportsDeclaredTypes) {
    const std::string file = header("binary_little_endian",
                                    "element v 0\nproperty int8 a\nproperty uint b\n"
                                    "property list uint16 float64 c\nelement w 0\n");
    p_ply ply = ply_open_from_memory(file.data(), file.size(), nullptr, 0, nullptr);
    ASSERT_TRUE(ply_read_header(ply));
    p_ply_element v = ply_get_next_element(ply, nullptr);
    p_ply_property p = ply_get_next_property(v, nullptr);
    e_ply_type t, lt, vt;
    ply_get_property_info(p, nullptr, &t, nullptr, nullptr);
    EXPECT_EQ(t, PLY_INT8);
    ply_get_property_info(ply_get_next_property(v, p), nullptr, &t, nullptr, nullptr);
    EXPECT_EQ(t, PLY_UINT);
    p = ply_get_next_property(v, ply_get_next_property(v, p));
    ply_get_property_info(p, nullptr, &t, &lt, &vt);
    EXPECT_EQ(t, PLY_LIST);
    EXPECT_EQ(lt, PLY_UINT16);
    EXPECT_EQ(vt, PLY_FLOAT64);
    EXPECT_EQ(ply_get_next_property(v, p), nullptr);
    p_ply_element w = ply_get_next_element(ply, v);
    const char* name;
    ply_get_element_info(w, &name, nullptr);
    EXPECT_STREQ(name, "w");
    EXPECT_EQ(ply_get_next_element(ply, w), nullptr);
    EXPECT_EQ(ply_get_next_property(w, nullptr), nullptr);
    ply_close(ply);
}

// ---- every type in every format delivers the same values

struct TypeCase {
    const char* type;
    std::vector<double> values;  // as the file states them
};
const TypeCase kTypes[] = {
    {"char", {-128, 127, 0}},      {"int8", {-128, 127, -1}},
    {"uchar", {0, 255, 7}},        {"uint8", {0, 255, 128}},
    {"short", {-32768, 32767, 3}}, {"int16", {-32768, 32767, -300}},
    {"ushort", {0, 65535, 256}},   {"uint16", {0, 65535, 4096}},
    {"int", {-2147483648.0, 2147483647.0, 66000}},
    {"int32", {-2147483648.0, 2147483647.0, -70000}},
    {"uint", {0, 4294967295.0, 3000000000.0}},
    {"uint32", {0, 4294967295.0, 65536}},
    {"float", {0.1, -2.5e-3, 3.4e38}},   {"float32", {1e-45, 16777217, -0.0}},
    {"double", {0.1, -1e-300, 1.7e308}}, {"float64", {1.0 / 3, 5e-324, -7}},
};
void PrintTo(const TypeCase& tc, std::ostream* os) { *os << tc.type; }

class EveryType : public ::testing::TestWithParam<std::tuple<TypeCase, const char*>> {};

TEST_P(EveryType, SameValuesInEveryFormat) {
    const auto& [tc, format] = GetParam();
    const std::string type = tc.type;
    const bool is_float = type.rfind("float", 0) == 0 || type == "double";
    const bool single = type == "float" || type == "float32";
    // The type as a scalar, as list entries, and (when integral) as list length.
    const std::string length_type = is_float ? "uchar" : type;
    std::string file = header(format, "element e 1\nproperty " + type + " s\nproperty list " +
                                          length_type + " " + type + " l\n");
    const bool ascii = std::string(format) == "ascii";
    const bool big = std::string(format) == "binary_big_endian";
    auto emit = [&](double v, const std::string& as) {
        if (!ascii) return put(file, as, v, big);
        char buf[64];
        if (!is_float) std::snprintf(buf, sizeof buf, "%.0f ", v);
        else std::snprintf(buf, sizeof buf, single ? "%.9g " : "%.17g ", v);
        file += buf;
    };
    emit(tc.values[0], type);
    emit(static_cast<double>(tc.values.size()), length_type);
    for (double v : tc.values) emit(v, type);
    Trace run;
    ASSERT_TRUE(read_all(file, run)) << first_error(run);
    auto stored = [&](double v) { return single ? static_cast<double>(static_cast<float>(v)) : v; };
    const long n = static_cast<long>(tc.values.size());
    std::vector<Call> expected = {{"e", "s", 0, 1, 0, stored(tc.values[0]), 0},
                                  {"e", "l", 0, n, -1, static_cast<double>(n), 0}};
    for (long i = 0; i < n; ++i) expected.push_back({"e", "l", 0, n, i, stored(tc.values[i]), 0});
    EXPECT_EQ(run.calls, expected);
    EXPECT_EQ(std::signbit(run.calls.back().value), std::signbit(tc.values.back()));
    // The instance is one block in binary; ASCII bodies are never handed over.
    Trace blocks;
    blocks.block_answer = 1;
    blocks.big = big;
    ASSERT_TRUE(read_all(file, blocks)) << first_error(blocks);
    EXPECT_EQ(blocks.calls, expected);
    EXPECT_EQ(blocks.blocks, ascii ? 0 : 1);
    EXPECT_EQ(std::signbit(blocks.calls.back().value), std::signbit(tc.values.back()));
}

INSTANTIATE_TEST_SUITE_P(PlyReader, EveryType,
                         ::testing::Combine(::testing::ValuesIn(kTypes),
                                            ::testing::Values("ascii", "binary_little_endian",
                                                              "binary_big_endian")),
                         [](const ::testing::TestParamInfo<EveryType::ParamType>& param) {
                             return std::string(std::get<0>(param.param).type) + "_" +
                                    std::get<1>(param.param);
                         });

TEST(PlyReader, TolerantAsciiLayout) {
    // CRLF, comments, obj_info, a free-text line without a keyword, blank and
    // padded header lines, '+', an instance split over lines, values glued by
    // tabs, trailing garbage.
    const std::string file =
        "ply\r\nformat   ascii 1.0  \r\ncomment made by hand\r\nobj_info x\r\n\r\n"
        "Created by Blender3D 247 - www.blender.org, source file: \r\n"
        "element v 2\r\n\tproperty int a\r\nproperty list uchar float b \r\n"
        "element extra 1\r\nproperty float z\r\nend_header\r\n"
        "+5 2\r\n  -1.5\t+2e1\n\n6\t0 nan\r\n tail bytes";
    Trace run;
    ASSERT_TRUE(read_all(file, run)) << first_error(run);
    ASSERT_EQ(run.calls.size(), 7u);
    EXPECT_EQ(run.calls[0].value, 5);
    EXPECT_EQ(run.calls[2].value, -1.5);
    EXPECT_EQ(run.calls[3].value, 20);
    EXPECT_EQ(run.calls[5].length, 0);
    EXPECT_TRUE(std::isnan(run.calls[6].value));
    EXPECT_EQ(run.warnings,
              (std::vector<std::string>{
                  "header line 6 has no keyword and is read as a comment: 'Created'",
                  "13 bytes after the last element were ignored"}));
}

struct NumberCase {
    const char* type;
    const char* text;
    double value;
};

class AsciiNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(AsciiNumber, ParsesToValue) {
    const NumberCase& c = GetParam();
    Trace run;
    ASSERT_TRUE(read_all(header("ascii", std::string("element v 1\nproperty ") + c.type + " a\n") +
                             c.text + "\n",
                         run))
        << first_error(run);
    ASSERT_EQ(run.calls.size(), 1u);
    EXPECT_EQ(run.calls[0].value, c.value);
    EXPECT_EQ(std::signbit(run.calls[0].value), std::signbit(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    PlyReader, AsciiNumber,
    ::testing::Values(NumberCase{"int", "7.0", 7}, NumberCase{"int", "1e3", 1000},
                      NumberCase{"int", "-0", 0}, NumberCase{"uchar", "+0", 0},
                      NumberCase{"short", "-0.0", 0}, NumberCase{"float", "0.1", 0.1f},
                      NumberCase{"float", "1e-50", 0}, NumberCase{"double", "-1e-400", -0.0},
                      NumberCase{"double", "-INF", -HUGE_VAL}, NumberCase{"double", "+.5", 0.5}));

TEST(PlyReader, PropertylessElementWithHugeCountCostsNothing) {
    const std::string file = header("binary_little_endian",
                                    "element marker 1000000000000000\nelement v 1\n"
                                    "property uchar a\n") + "\x07";
    Trace run;
    // A loop over the instances would never end; ctest's timeout would say so.
    ASSERT_TRUE(read_all(file, run)) << first_error(run);
    ASSERT_EQ(run.calls.size(), 1u);
}

// No fixed buffers: a megabyte comment line, a 100 000-character property
// name and number tokens of 100 000 digits all read; a long word in an error
// message is cut short.
TEST(PlyReader, HeaderLinesWordsAndNumbersOfAnyLength) {
    const std::string name(100000, 'n');
    const std::string file = header("ascii", "comment " + std::string(1 << 20, 'c') + "\n" +
                                                 "element v 2\nproperty int " + name + "\n") +
                             std::string(100000, '0') + "7 -" + std::string(100000, '0') + "2\n";
    Trace run;
    ASSERT_TRUE(read_all(file, run)) << first_error(run);
    ASSERT_EQ(run.calls.size(), 2u);
    EXPECT_EQ(run.calls[0].property, name);
    EXPECT_EQ(run.calls[0].value, 7);
    EXPECT_EQ(run.calls[1].value, -2);

    Trace bad;
    EXPECT_FALSE(read_all(header("ascii", "element v 1 " + name + "\n"), bad));
    EXPECT_EQ(first_error(bad), "Unexpected token '" + name.substr(0, 64) + "...' in header line 3");
}

// ---- malformed input: each case fails with its message

struct BadCase {
    const char* name;
    std::string file;
    std::string message;  // expected first error, compared in full
};
std::ostream& operator<<(std::ostream& os, const BadCase& c) { return os << c.name; }

std::string case_name(const ::testing::TestParamInfo<BadCase>& param) { return param.param.name; }

class Rejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(Rejects, WithItsMessage) {
    Trace run;
    EXPECT_FALSE(read_all(GetParam().file, run));
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0], GetParam().message);
    EXPECT_TRUE(run.calls.empty() || std::string(GetParam().name).find("Body") == 0);
    for (int answer : {1, -1}) expect_same_with_blocks(GetParam().file, run, answer);
}

const std::string kVertexA = "element vertex 2\nproperty uchar a\n";
const std::string kFace = "element face 1\nproperty list uchar int idx\n";

INSTANTIATE_TEST_SUITE_P(
    Header, Rejects,
    ::testing::Values(
        BadCase{"Empty", "", "Not a PLY file. Expected magic number 'ply\\n'"},
        BadCase{"NoMagic", "format ascii 1.0\nend_header\n",
                "Not a PLY file. Expected magic number 'ply\\n'"},
        BadCase{"IndentedMagic", " ply\nformat ascii 1.0\nend_header\n",
                "Not a PLY file. Expected magic number 'ply\\n'"},
        BadCase{"UnknownFormat", "ply\nformat binary 1.0\nend_header\n",
                "Invalid file format 'binary' in header line 2"},
        BadCase{"BadVersion", "ply\nformat ascii 2.0\nend_header\n",
                "Unsupported format version '2.0' in header line 2"},
        BadCase{"NoFormat", "ply\nelement v 0\nend_header\n",
                "Invalid file format: the header has no format line"},
        BadCase{"UnknownType", header("ascii", "element v 1\nproperty foo x\n"),
                "Unknown type 'foo' in header line 4"},
        BadCase{"UnknownEntryType", header("ascii", "element v 1\nproperty list uchar i24 x\n"),
                "Unknown type 'i24' in header line 4"},
        BadCase{"FloatListLength", header("ascii", "element v 1\nproperty list float int x\n"),
                "Invalid list length type 'float' in header line 4 (must be an integer type)"},
        BadCase{"DuplicateElement", header("ascii", "element v 0\nelement v 0\n"),
                "Duplicate element 'v' in header line 4"},
        BadCase{"DuplicateProperty", header("ascii", "element v 0\nproperty int a\nproperty float a\n"),
                "Duplicate property 'a' of element 'v' in header line 5"},
        BadCase{"OrphanProperty", header("ascii", "property int a\n"),
                "Property declared before any element in header line 3"},
        BadCase{"NegativeCount", header("ascii", "element v -1\n"),
                "Invalid instance count '-1' for element 'v' in header line 3"},
        BadCase{"CountBeyondLong", header("ascii", "element v 9223372036854775808\n"),
                "Invalid instance count '9223372036854775808' for element 'v' in header line 3"},
        BadCase{"ExtraWord", header("ascii", "element v 1 2\n"),
                "Unexpected token '2' in header line 3"},
        BadCase{"ControlCharsShownEscaped", header("ascii", "element v 1 bad\x01word\n"),
                "Unexpected token 'bad\\x01word' in header line 3"},
        // A NUL would make the name match "a" when compared as a C string.
        BadCase{"NulInName", header("ascii", std::string("element v 1\nproperty int a\0b\n", 29)),
                "Invalid character in the name 'a\\x00b' in header line 4"},
        BadCase{"NoEndHeader", "ply\nformat ascii 1.0\nelement v 0\n",
                "Unexpected end of file in the header (no end_header line)"},
        BadCase{"HugeBinaryCount",
                header("binary_little_endian", "element vertex 1000000000000000\n"
                                               "property float x\nproperty float y\n") + "abc",
                "Element 'vertex' declares 1000000000000000 instances of at least 8 bytes each "
                "but the file holds only 3 bytes after the header"},
        BadCase{"HugeAsciiCount", header("ascii", kVertexA) + "1\n",
                "Element 'vertex' declares 2 instances of at least 2 bytes each but the file "
                "holds only 2 bytes after the header"},
        BadCase{"CountsTogetherTooLarge",
                header("binary_little_endian", kVertexA + kFace) + "\x01\x02",
                "Element 'face' declares 1 instances of at least 1 bytes each but only 0 of the "
                "2 bytes after the header remain for it"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Body, Rejects,
    ::testing::Values(
        BadCase{"BodyAsciiTruncated",
                header("ascii", kVertexA + "element face 1\nproperty list uchar int idx\n"
                                           "property short s\n") + "1 2 3 0 1 2",
                "Error reading 's' of 'face' number 0: unexpected end of file"},
        BadCase{"BodyAsciiTruncatedList", header("ascii", kFace) + "3 0      ",
                "Error reading value number 2 of 'idx' of 'face' number 0: unexpected end of file"},
        BadCase{"BodyBinaryTruncated",
                header("binary_little_endian", kVertexA + "element face 1\nproperty list uchar "
                                                          "int idx\nproperty short s\n") +
                    std::string("\x01\x02\x01\x05\x00\x00\x00\x07", 8),
                "Error reading 's' of 'face' number 0: unexpected end of file"},
        BadCase{"BodyBinaryTruncatedSkippedElement",
                header("binary_big_endian", "element v 1\nproperty list uchar uchar x\n"
                                            "element skip 3\nproperty short a\nproperty short b\n") +
                    "\x04" + std::string(14, '\0'),
                "Error reading 'b' of 'skip' number 2: unexpected end of file"},
        BadCase{"BodyAsciiGarbage", header("ascii", kVertexA) + "1 x2\n",
                "Error reading 'a' of 'vertex' number 1: invalid number 'x2'"},
        BadCase{"BodyUcharTooBig", header("ascii", kVertexA) + "1 300\n",
                "Error reading 'a' of 'vertex' number 1: 300 is out of range for uint8"},
        BadCase{"BodyUintNegative", header("ascii", "element v 1\nproperty uint a\n") + "-1\n",
                "Error reading 'a' of 'v' number 0: -1 is out of range for uint32"},
        BadCase{"BodyIntFraction", header("ascii", "element v 1\nproperty int a\n") + "1.5\n",
                "Error reading 'a' of 'v' number 0: invalid number '1.5'"},
        BadCase{"BodyFloatOverflow", header("ascii", "element v 1\nproperty float a\n") + "1e39\n",
                "Error reading 'a' of 'v' number 0: 1e39 is out of range for float32"},
        BadCase{"BodyListEntryRange", header("ascii", kFace) + "1 3000000000\n",
                "Error reading value number 1 of 'idx' of 'face' number 0: 3000000000 is out of "
                "range for int32"},
        BadCase{"BodyAsciiNegativeList", header("ascii", kFace) + "-3 1 2 3\n",
                "Invalid list length -3 in 'idx' of 'face' number 0"},
        BadCase{"BodyAsciiFloatList", header("ascii", kFace) + "2.5 1 2 3\n",
                "Error reading 'idx' of 'face' number 0: invalid number '2.5'"},
        BadCase{"BodyBinaryNegativeList",
                header("binary_little_endian", "element f 1\nproperty list char int i\n") + "\xfd",
                "Invalid list length -3 in 'i' of 'f' number 0"},
        BadCase{"BodyBinaryHugeList",
                header("binary_little_endian", "element f 1\nproperty list uint int i\n") +
                    std::string("\xff\xff\xff\xff\x01\x00\x00\x00", 8),
                "List length 4294967295 of 'i' of 'f' number 0 exceeds what the 4 bytes left in "
                "the file can hold"},
        BadCase{"BodyAsciiHugeList", header("ascii", kFace) + "200 1 2 3\n",
                "List length 200 of 'idx' of 'face' number 0 exceeds what the 7 bytes left in "
                "the file can hold"},
        // A face list alone, read without per-value checks until one fails.
        BadCase{"BodyBinaryListCutShort",
                header("binary_little_endian", "element face 2\nproperty list uchar int idx\n") +
                    std::string("\x01\x05\x00\x00\x00\x03\x01\x00\x00\x00\x02", 11),
                "List length 3 of 'idx' of 'face' number 1 exceeds what the 5 bytes left in the "
                "file can hold"},
        BadCase{"BodyBinaryListLengthMissing",
                header("binary_big_endian", "element face 2\nproperty list uchar uint idx\n"
                                            "element tail 1\nproperty uchar t\n") +
                    std::string("\x02\x00\x00\x00\x05\x00\x00\x00\x06", 9),
                "Error reading 'idx' of 'face' number 1: unexpected end of file"},
        // Scalars after a list that took more than its minimum: the element
        // no longer fits and is read value by value.
        BadCase{"BodyBinaryScalarsCutShort",
                header("binary_little_endian", "element f 1\nproperty list uchar uchar l\n"
                                               "element v 2\nproperty short a\nproperty short b\n") +
                    std::string("\x03\x01\x02\x03\x01\x00\x02\x00\x03\x00", 10),
                "Error reading 'b' of 'v' number 1: unexpected end of file"}),
    case_name);

// ---- blocks: handed over only when every record has the first one's layout

// Element v: a float, a list of `lengths[i]` shorts, a uchar; then element w.
// In ASCII the separators vary (tabs, CRLF, runs of blanks, records split
// over lines) and some values take the slow parse ('+', "7.0").
std::string list_records(const std::vector<int>& lengths, const std::string& format) {
    const bool big = format == "binary_big_endian";
    std::string file = header(format, "element v " + std::to_string(lengths.size()) +
                                          "\nproperty float a\nproperty list uchar short l\n"
                                          "property uchar c\nelement w 1\nproperty int d\n");
    const char* separators[] = {" ", "\t", "  ", "\r\n", " \n "};
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        if (format != "ascii") {
            put(file, "float", 0.25 * double(i), big);
            put(file, "uchar", lengths[i], big);
            for (int k = 0; k < lengths[i]; ++k) put(file, "short", -double(i % 1000) - k, big);
            put(file, "uchar", double(i % 256), big);
            continue;
        }
        const char* gap = separators[i % 5];
        char text[64];
        std::snprintf(text, sizeof text, i % 11 == 0 ? "+%.9g%s%d.0" : "%.9g%s%d", 0.25 * double(i), gap,
                      lengths[i]);
        file += text;
        for (int k = 0; k < lengths[i]; ++k) file += gap + std::to_string(-int(i % 1000) - k);
        file += gap + std::to_string(i % 256) + "\n";
    }
    if (format != "ascii") put(file, "int", -5, big);
    else file += "-5\n";
    return file;
}

// ASCII blocks are parsed only with a second thread to parse on.
struct AtLeastTwoThreads {
    int saved = omp_get_max_threads();
    AtLeastTwoThreads() { omp_set_num_threads(std::max(saved, 2)); }
    ~AtLeastTwoThreads() { omp_set_num_threads(saved); }
};

class Blocks : public ::testing::TestWithParam<const char*> {
    AtLeastTwoThreads threads_;
};

TEST_P(Blocks, UniformRecordsAreOneBlockWithTheFieldsWhereTheyLie) {
    const std::string format = GetParam();
    const std::string file = list_records(std::vector<int>(66000, 3), format);
    Trace plain;
    ASSERT_TRUE(read_all(file, plain)) << first_error(plain);
    expect_same_with_blocks(file, plain, 1);
    expect_same_with_blocks(file, plain, -1);

    struct Seen {
        long count = 0;
        std::size_t size = 0;
        int swap = -1;
        std::vector<t_ply_field_> fields;
    } seen;
    p_ply ply = ply_open_from_memory(file.data(), file.size(), nullptr, 0, nullptr);
    ASSERT_TRUE(ply_read_header(ply));
    ASSERT_EQ(ply_set_block_cb(ply, "v",
                               [](p_ply_block block, void* pdata) {
                                   Seen& s = *static_cast<Seen*>(pdata);
                                   s.count = block->count, s.size = block->size, s.swap = block->swap;
                                   s.fields.assign(block->fields, block->fields + 3);
                                   return 1;
                               },
                               &seen),
              66000);
    EXPECT_EQ(ply_set_block_cb(ply, "absent", nullptr, nullptr), 0);
    EXPECT_TRUE(ply_read(ply));
    ply_close(ply);
    EXPECT_EQ(seen.count, 66000);
    EXPECT_EQ(seen.size, 4u + 1 + 6 + 1);
    // ASCII blocks are in the machine's order.
    const bool swapped = format == "binary_big_endian" ? __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
                         : format == "binary_little_endian" && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    EXPECT_EQ(seen.swap, swapped);
    ASSERT_EQ(seen.fields.size(), 3u);
    EXPECT_EQ(seen.fields[0].offset, 0u);
    EXPECT_EQ(seen.fields[0].type, PLY_FLOAT);
    EXPECT_EQ(seen.fields[0].length, 1);
    EXPECT_EQ(seen.fields[1].offset, 5u);
    EXPECT_EQ(seen.fields[1].type, PLY_SHORT);
    EXPECT_EQ(seen.fields[1].length, 3);
    EXPECT_EQ(seen.fields[2].offset, 11u);
    EXPECT_EQ(seen.fields[2].length, 1);
}

// One record whose list differs (longer, shorter, empty) anywhere, even
// where the sizes of two records swap, keeps the element from being a block.
TEST_P(Blocks, OneDifferentListLengthMeansValueByValue) {
    const std::string format = GetParam();
    const std::pair<std::size_t, int> odd_ones[] = {{1, 0}, {33001, 4}, {65999, 2}};
    for (const auto& [odd, length] : odd_ones) {
        std::vector<int> lengths(66000, 3);
        lengths[odd] = length;
        if (length == 4) lengths[odd - 1] = 2;  // the total size is unchanged
        const std::string file = list_records(lengths, format);
        Trace plain;
        ASSERT_TRUE(read_all(file, plain)) << first_error(plain);
        Trace run;
        run.block_answer = 1;
        run.big = format == "binary_big_endian";
        ASSERT_TRUE(read_all(file, run)) << first_error(run);
        // w alone, one value, is too small for an ASCII block.
        EXPECT_EQ(run.blocks, format == "ascii" ? 0 : 1) << "at " << odd << " length " << length;
        EXPECT_EQ(run.calls, plain.calls);
    }
}

// Where every token would fit every slot, only the check of each record's
// list lengths keeps a shifted layout from passing for records.
TEST(PlyReader, AsciiRecordsOfOtherLengthsAreNotTakenForShiftedOnes) {
    AtLeastTwoThreads threads;
    std::string file = header("ascii", "element v 40000\nproperty uchar a\n"
                                       "property list uchar uchar l\n");
    for (int i = 0; i < 40000; ++i)
        file += i == 20000 ? "1 3 1 1 1\n" : i == 20001 ? "1 1 1\n" : "1 2 1 1\n";
    Trace plain;
    ASSERT_TRUE(read_all(file, plain)) << first_error(plain);
    Trace run;
    run.block_answer = 1;
    ASSERT_TRUE(read_all(file, run)) << first_error(run);
    EXPECT_EQ(run.blocks, 0);
    EXPECT_EQ(run.calls, plain.calls);
}

TEST_P(Blocks, AHandlersStopFailsTheReadNamingTheElement) {
    Trace run;
    run.block_answer = 0;
    EXPECT_FALSE(read_all(list_records(std::vector<int>(66000, 3), GetParam()), run));
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0], "Reading aborted by the block handler of 'v'");
}

INSTANTIATE_TEST_SUITE_P(PlyReader, Blocks,
                         ::testing::Values("ascii", "binary_little_endian", "binary_big_endian"));

// A bad value, a cut-off body or a value out of its type's range deep inside a
// large ASCII element: the element is read value by value, which names it.
TEST(PlyReader, AsciiBlockProblemsAreNamedAsValueByValue) {
    AtLeastTwoThreads threads;
    const std::string good = list_records(std::vector<int>(66000, 3), "ascii");
    const std::size_t middle = good.find('\n', good.size() / 2) + 1;
    const std::string bad[] = {
        good.substr(0, middle) + "x" + good.substr(middle),
        good.substr(0, middle) + "1e9 " + good.substr(middle),  // shifts every later token
        good.substr(0, middle + 3),
        good.substr(0, middle) + "0.5 3 1 2 40000 7\n" + good.substr(good.find('\n', middle) + 1),
    };
    for (const std::string& file : bad) {
        Trace plain;
        EXPECT_FALSE(read_all(file, plain));
        ASSERT_EQ(plain.errors.size(), 1u);
        expect_same_with_blocks(file, plain, 1);
    }
}

// Single-byte corruptions and cuts anywhere in a large ASCII element: the
// parallel parse either reads what the value-by-value read reads or hands
// the element back to it, so errors and values are the same.
TEST(PlyReader, CorruptedLargeAsciiElementsReadAsValueByValue) {
    AtLeastTwoThreads threads;
    // 14 000 records of 5 values: just over the 2^16 values of a block.
    const std::string good = list_records(std::vector<int>(14000, 3), "ascii");
    const std::size_t body = good.find("end_header\n") + 11;
    const char replacements[] = " \n\t-+.e0123456789xn";
    std::mt19937 rng(7);
    for (int trial = 0; trial < 18; ++trial) {
        std::string file = good;
        const std::size_t at = body + rng() % (file.size() - body);
        if (trial % 6 == 5)
            file.resize(at);
        else
            file[at] = replacements[rng() % (sizeof replacements - 1)];
        Trace plain;
        read_all(file, plain);
        expect_same_with_blocks(file, plain, 1);
    }
}

// ---- every prefix of a valid file fails cleanly or, when complete, reads

class Prefixes : public ::testing::TestWithParam<const char*> {};

TEST_P(Prefixes, FailCleanlyOrRead) {
    const std::string format = GetParam();
    const bool ascii = format == "ascii";
    std::string file = header(format, "comment c\nelement v 2\nproperty double x\n"
                                      "property uchar c\nelement skipw 2\nproperty short u\n"
                                      "property uchar t\nelement f 2\n"
                                      "property list uchar int i\nproperty short s\n"
                                      "element skipped 1\nproperty list uchar short q\n"
                                      "property uchar r\n");
    const std::size_t body = file.size();
    if (ascii) {
        file += "0.5 1\n-2 255\n1 2\n3 4\n3 0 1 2 -7\n0 9\n2 5 6 1\n";
    } else {
        const bool big = format == "binary_big_endian";
        for (double v : {0.5, 1.0, -2.0, 255.0}) put(file, v == 1 || v == 255 ? "uchar" : "double", v, big);
        for (double v : {1.0, 2.0, 3.0, 4.0}) put(file, v == 1 || v == 3 ? "short" : "uchar", v, big);
        for (double v : {3.0, 0.0, 1.0, 2.0}) put(file, v == 3 ? "uchar" : "int", v, big);
        put(file, "short", -7, big);
        put(file, "uchar", 0, big);
        put(file, "short", 9, big);
        for (double v : {2.0, 5.0, 6.0, 1.0}) put(file, v == 2 || v == 1 ? "uchar" : "short", v, big);
    }
    Trace full;
    ASSERT_TRUE(read_all(file, full)) << first_error(full);
    ASSERT_EQ(full.calls.size(), 11u);
    const std::size_t complete = ascii ? file.size() - 1 : file.size();  // ascii: final newline optional
    for (std::size_t n = 0; n < file.size(); ++n) {
        Trace run;
        const bool ok = read_all(file.substr(0, n), run);
        EXPECT_EQ(ok, n >= complete) << "prefix " << n;
        expect_same_with_blocks(file.substr(0, n), run, 1);
        if (ok) continue;
        EXPECT_EQ(run.errors.size(), 1u) << "prefix " << n;
        // Past the header, messages name what is missing.
        if (n >= body) {
            EXPECT_TRUE(run.errors[0].rfind("Error reading", 0) == 0 ||
                        run.errors[0].rfind("Element '", 0) == 0 ||
                        run.errors[0].rfind("List length", 0) == 0)
                << run.errors[0];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlyReader, Prefixes,
                         ::testing::Values("ascii", "binary_little_endian", "binary_big_endian"));

// ---- real files

// The message is the same for every failure; errno tells them apart, even
// though the handler ran (and may have printed) in between.
TEST_F(OnDisk, MissingFileReportsThroughUserDataAndErrnoSaysWhy) {
    Trace run;
    errno = 0;
    EXPECT_EQ(ply_open(path("absent.ply").c_str(), collect_error, 0, &run), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(run.errors, std::vector<std::string>{"Unable to open file"});
    EXPECT_EQ(ply_open(path("").c_str(), collect_error, 0, &run), nullptr);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(run.errors.size(), 2u);
    EXPECT_EQ(ply_open_fd(-1, collect_error, 0, &run), nullptr);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(run.errors.size(), 3u);
}

// A descriptor is read from where it stands (its file may have been read
// part-way before), and stays open.
TEST_F(OnDisk, ReadsAnOpenDescriptorFromItsPosition) {
    const std::string file = header("ascii", "element v 1\nproperty int a\n") + "7\n";
    const std::string name = write("fd.ply", "skip me\n" + file);
    int fd = open(name.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    for (int skip : {0, 8}) {
        ASSERT_EQ(lseek(fd, skip, SEEK_SET), skip);
        Trace run;
        p_ply ply = ply_open_fd(fd, collect_error, 0, &run);
        ASSERT_NE(ply, nullptr);
        const bool read = ply_read_header(ply);
        if (read) {
            ply_set_read_cb(ply, "v", "a", record, &run, 0);
            EXPECT_TRUE(ply_read(ply)) << first_error(run);
        }
        ply_close(ply);
        EXPECT_EQ(read, skip == 8) << first_error(run);
        if (skip == 8) {
            ASSERT_EQ(run.calls.size(), 1u);
            EXPECT_EQ(run.calls[0].value, 7);
        }
    }
    EXPECT_EQ(close(fd), 0);
}

TEST_F(OnDisk, BinaryBodyStartsRightAfterEndHeaderLine) {
    // The first body bytes look like whitespace: they must not be skipped.
    for (const std::string eol : {"\n", "\r\n", " \t\r\n"}) {
        const std::string file = "ply\r\nformat binary_little_endian 1.0\r\nelement v 1\r\n"
                                 "property uchar a\r\nproperty uchar b\r\nend_header" +
                                 eol + "\n ";
        Trace run;
        ASSERT_TRUE(read_file(write("crlf.ply", file), run)) << first_error(run);
        ASSERT_EQ(run.calls.size(), 2u);
        EXPECT_EQ(run.calls[0].value, '\n');
        EXPECT_EQ(run.calls[1].value, ' ');
    }
}

TEST_F(OnDisk, ReadsFromPipe) {
    const std::string fifo = path("pipe.ply");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string file = header("ascii", "element v 1\nproperty int a\nproperty int b\n");
    file += std::string(200000, ' ') + "4 5\n";  // more than one read's worth
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << file; });
    Trace run;
    const bool ok = read_file(fifo, run);
    writer.join();
    ASSERT_TRUE(ok) << first_error(run);
    ASSERT_EQ(run.calls.size(), 2u);
    EXPECT_EQ(run.calls[1].value, 5);
}

TEST(PlyReader, DefaultErrorHandlerPrintsToStderr) {
    ::testing::internal::CaptureStderr();
    p_ply ply = ply_open_from_memory("plx\n", 4, nullptr, 0, nullptr);
    EXPECT_FALSE(ply_read_header(ply));
    ply_close(ply);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "RPly: Not a PLY file. Expected magic number 'ply\\n'\n");
}

}  // namespace
