// The header's check of declared counts against the bytes after it, at the
// boundary of its ASCII budget: a value takes at least one character and a
// separator, and the last value needs no separator, so n values fit in 2n - 1
// bytes ("1 2 3 4") but not in 2n - 2. ply_read_header itself must decide;
// a count it lets through may size a caller's arrays.
#include "ply/reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct Trace {
    std::vector<std::string> errors;
    long values = 0;
};

void collect_error(p_ply ply, const char* message) {
    void* pdata = nullptr;
    ply_get_ply_user_data(ply, &pdata, nullptr);
    static_cast<Trace*>(pdata)->errors.emplace_back(message);
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

}  // namespace
