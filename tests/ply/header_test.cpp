// The header's check of declared counts against the bytes after it, at the
// boundary of its ASCII budget: a value takes at least one character and a
// separator, and the last value needs no separator, so n values fit in 2n - 1
// bytes ("1 2 3 4") but not in 2n - 2. ply_read_header itself must decide;
// a count it lets through may size a caller's arrays.
#include "ply/reader.h"

#include "helpers.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct Trace {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    long values = 0;
};

void collect_error(p_ply ply, const char* message) {
    void* pdata = nullptr;
    ply_get_ply_user_data(ply, &pdata, nullptr);
    static_cast<Trace*>(pdata)->errors.emplace_back(message);
}

void collect_warning(p_ply ply, const char* message) {
    void* pdata = nullptr;
    ply_get_ply_user_data(ply, &pdata, nullptr);
    static_cast<Trace*>(pdata)->warnings.emplace_back(message);
}

int count_value(p_ply_argument argument) {
    void* pdata = nullptr;
    ply_get_argument_user_data(argument, &pdata, nullptr);
    ++static_cast<Trace*>(pdata)->values;
    return 1;
}

struct BudgetCase {
    const char* name;
    std::string elements;  // the header lines between format and end_header
    std::string body;
    std::string message;  // ply_read_header's error; empty when it accepts
};
std::ostream& operator<<(std::ostream& os, const BudgetCase& c) { return os << c.name; }

class AsciiCountBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(AsciiCountBudget, IsDecidedByTheHeader) {
    const BudgetCase& c = GetParam();
    const std::string file = "ply\nformat ascii 1.0\n" + c.elements + "end_header\n" + c.body;
    std::vector<char> exact(file.begin(), file.end());
    Trace run;
    p_ply ply = ply_open_from_memory(exact.data(), exact.size(), collect_error, 0, &run);
    ASSERT_NE(ply, nullptr);
    const bool header_ok = ply_read_header(ply);
    if (!c.message.empty()) {
        EXPECT_FALSE(header_ok);
        EXPECT_EQ(run.errors, std::vector<std::string>{c.message});
        ply_close(ply);
        return;
    }
    ASSERT_TRUE(header_ok) << (run.errors.empty() ? "" : run.errors[0]);
    // An accepted minimum is a real file: every value in it reads.
    for (p_ply_element e = ply_get_next_element(ply, nullptr); e;
         e = ply_get_next_element(ply, e)) {
        const char* element = nullptr;
        ply_get_element_info(e, &element, nullptr);
        for (p_ply_property p = ply_get_next_property(e, nullptr); p;
             p = ply_get_next_property(e, p)) {
            const char* property = nullptr;
            ply_get_property_info(p, &property, nullptr, nullptr, nullptr);
            ply_set_read_cb(ply, element, property, count_value, &run, 0);
        }
    }
    EXPECT_TRUE(ply_read(ply)) << (run.errors.empty() ? "" : run.errors[0]);
    std::istringstream words(c.body);
    long tokens = 0;
    for (std::string word; words >> word;) ++tokens;
    EXPECT_EQ(run.values, tokens);
    ply_close(ply);
}

const std::string kFourValues = "element v 4\nproperty uchar a\n";
const std::string kTwoElements =
    "element v 2\nproperty uchar a\nproperty uchar b\nelement f 1\nproperty list uchar int i\n";

// Each case names the fault in the budget it catches.
INSTANTIATE_TEST_SUITE_P(
    Header, AsciiCountBudget,
    ::testing::Values(
        // Fails when a value is taken to need 3 bytes, or the last one a separator.
        BudgetCase{"MinimumBodyFits", kFourValues, "1 2 3 4", ""},
        // Fails when a value is taken to need 1 byte.
        BudgetCase{"OneInstanceMoreIsRejected", "element v 5\nproperty uchar a\n", "1 2 3 4",
                   "Element 'v' declares 5 instances of at least 2 bytes each but the file holds "
                   "only 7 bytes after the header"},
        // Fails when two values are let off a separator.
        BudgetCase{"OneByteShortIsRejected", kFourValues, "1 2 3 ",
                   "Element 'v' declares 4 instances of at least 2 bytes each but the file holds "
                   "only 6 bytes after the header"},
        // The same three, with the budget shared by two elements and a list
        // counted as its length alone.
        BudgetCase{"MinimumBodyOfTwoElementsFits", kTwoElements, "1 2 3 4 0", ""},
        BudgetCase{"OneInstanceMoreOfTheLastElementIsRejected",
                   "element v 2\nproperty uchar a\nproperty uchar b\nelement f 2\n"
                   "property list uchar int i\n",
                   "1 2 3 4 0",
                   "Element 'f' declares 2 instances of at least 2 bytes each but only 1 of the 9 "
                   "bytes after the header remain for it"},
        BudgetCase{"OneByteShortOfTwoElementsIsRejected", kTwoElements, "1 2 3 4 ",
                   "Element 'f' declares 1 instances of at least 2 bytes each but only 0 of the 8 "
                   "bytes after the header remain for it"}),
    [](const ::testing::TestParamInfo<BudgetCase>& param) { return param.param.name; });

// ---------------------------------------------------------------- keywords and trailing data

// Reads every value of `file`; returns whether both the header and the body
// were accepted.
bool read_everything(const std::string& file, Trace& run) {
    std::vector<char> exact(file.begin(), file.end());
    p_ply ply = ply_open_from_memory(exact.data(), exact.size(), collect_error, 0, &run);
    ply_set_warning_cb(ply, collect_warning);
    bool ok = ply_read_header(ply);
    for (p_ply_element e = ok ? ply_get_next_element(ply, nullptr) : nullptr; e;
         e = ply_get_next_element(ply, e)) {
        const char* element = nullptr;
        ply_get_element_info(e, &element, nullptr);
        for (p_ply_property p = ply_get_next_property(e, nullptr); p;
             p = ply_get_next_property(e, p)) {
            const char* property = nullptr;
            ply_get_property_info(p, &property, nullptr, nullptr, nullptr);
            ply_set_read_cb(ply, element, property, count_value, &run, 0);
        }
    }
    ok = ok && ply_read(ply);
    ply_close(ply);
    return ok;
}

struct LineCase {
    const char* name;
    std::string file;
    std::string error;                  // empty when the file is read
    std::vector<std::string> warnings;  // in order
};
std::ostream& operator<<(std::ostream& os, const LineCase& c) { return os << c.name; }

class HeaderLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(HeaderLines, AreCheckedOrWarnedAbout) {
    const LineCase& c = GetParam();
    Trace run;
    const bool ok = read_everything(c.file, run);
    if (c.error.empty()) {
        EXPECT_TRUE(ok) << (run.errors.empty() ? "" : run.errors[0]);
        EXPECT_TRUE(run.errors.empty());
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(run.errors, std::vector<std::string>{c.error});
    }
    EXPECT_EQ(run.warnings, c.warnings);
}

const std::string kVertex = "element vertex 1\nproperty uchar x\n";
const std::string kBinary = "ply\nformat binary_little_endian 1.0\n";
const std::string kAscii = "ply\nformat ascii 1.0\n";

INSTANTIATE_TEST_SUITE_P(
    Header, HeaderLines,
    ::testing::Values(
        // Fails when a keyword in another case is free text: the face element
        // would vanish without a word.
        LineCase{"ElementInOtherCase", kAscii + kVertex + "Element face 1\nend_header\n7\n",
                 "The keyword 'Element' in header line 5 must be written 'element'", {}},
        LineCase{"PropertyInOtherCase", kAscii + kVertex + "PROPERTY uchar y\nend_header\n7 8\n",
                 "The keyword 'PROPERTY' in header line 5 must be written 'property'", {}},
        LineCase{"FormatInOtherCase", "ply\nFormat ascii 1.0\n" + kVertex + "end_header\n7\n",
                 "The keyword 'Format' in header line 2 must be written 'format'", {}},
        LineCase{"EndHeaderInOtherCase", kAscii + kVertex + "End_Header\n7\n",
                 "The keyword 'End_Header' in header line 5 must be written 'end_header'", {}},
        // A comment in another case loses nothing: read, with a warning.
        LineCase{"CommentInOtherCase", kAscii + "Comment by hand\n" + kVertex + "end_header\n7\n",
                 "", {"header line 3: 'Comment' read as the keyword 'comment'"}},
        // Fails when a format line after the elements is accepted (or is
        // taken for a duplicate only when there is one before).
        LineCase{"FormatAfterElement", "ply\n" + kVertex + "format ascii 1.0\nend_header\n7\n",
                 "The format line in header line 4 comes after the first element", {}},
        LineCase{"FormatAfterCommentsIsFine",
                 "ply\ncomment first\nformat ascii 1.0\n" + kVertex + "end_header\n7\n", "", {}},
        // Free text stays accepted, but is named; "PLY ..." is free text too,
        // not a keyword in another case.
        LineCase{"FreeTextIsWarnedAbout",
                 kAscii + "Created by Blender3D 247\nPLY file of a scan\n" + kVertex +
                     "end_header\n7\n",
                 "",
                 {"header line 3 has no keyword and is read as a comment: 'Created'",
                  "header line 4 has no keyword and is read as a comment: 'PLY'"}},
        // Fails when trailing bytes pass silently, or are miscounted.
        LineCase{"BinaryTrailingBytes", kBinary + kVertex + "end_header\n" + std::string("\x07xyz", 4),
                 "", {"3 bytes after the last element were ignored"}},
        LineCase{"BinaryExactSizeIsSilent", kBinary + kVertex + "end_header\n\x07", "", {}},
        // Fails when the line end of a text file counts as data.
        LineCase{"AsciiTrailingWhitespaceIsSilent", kAscii + kVertex + "end_header\n7 \r\n\n\t",
                 "", {}},
        LineCase{"AsciiTrailingValues", kAscii + kVertex + "end_header\n7\n8 9\n", "",
                 {"5 bytes after the last element were ignored"}}),
    [](const ::testing::TestParamInfo<LineCase>& param) { return param.param.name; });

// Fails when a warning does not say which file it is about.
TEST(HeaderWarnings, NameTheFile) {
    test::TempDir dir;
    const std::string path =
        dir.write("scan.ply", kAscii + "made by hand\n" + kVertex + "end_header\n7\n");
    Trace run;
    p_ply ply = ply_open(path.c_str(), collect_error, 0, &run);
    ASSERT_NE(ply, nullptr);
    ply_set_warning_cb(ply, collect_warning);
    EXPECT_TRUE(ply_read_header(ply));
    ply_close(ply);
    EXPECT_EQ(run.warnings,
              std::vector<std::string>{path + ": header line 3 has no keyword and is read as a "
                                              "comment: 'made'"});
}

}  // namespace
