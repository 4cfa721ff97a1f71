#include "app/TimeText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace velmar {
namespace {

struct TimeCase {
    int tenths;
    const char* text;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const TimeCase& c, std::ostream* os) {
    *os << c.tenths << " tenths as \"" << c.text << '"';
}

class FormatTenthsTable : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FormatTenthsTable, WritesTheTimeDisplaysForm) {
    EXPECT_EQ(FormatTenths(GetParam().tenths).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    TimeText, FormatTenthsTable,
    ::testing::Values(
        // The three forms as the time display shows them.
        TimeCase{36000, "1h 0min 0"}, TimeCase{1234, "2min 3.4sec "}, TimeCase{53, "5.3sec "},
        // Zero and the edges of each form: no leading zeros, no fixed widths.
        TimeCase{0, "0.0sec "}, TimeCase{9, "0.9sec "}, TimeCase{599, "59.9sec "},
        TimeCase{600, "1min 0.0sec "}, TimeCase{35999, "59min 59.9sec "},
        // The hour form drops the tenths and the unit after the seconds.
        TimeCase{36009, "1h 0min 0"}, TimeCase{37234, "1h 2min 3"}, TimeCase{360000, "10h 0min 0"},
        // A negative time (never reported) reads as none.
        TimeCase{-5, "0.0sec "}),
    [](const auto& testInfo) {
        const int tenths = testInfo.param.tenths;
        return (tenths < 0 ? "Minus" : "Tenths") + std::to_string(tenths < 0 ? -tenths : tenths);
    });

TEST(TimeText, PositionAndTotalReadWithTwoSpacesBeforeTheSlash) {
    // The display joins position and total with " / "; each part already ends in a space.
    EXPECT_EQ((FormatTenths(1234) + " / " + FormatTenths(2500)).toStdString(),
              "2min 3.4sec  / 4min 10.0sec ");
}

} // namespace
} // namespace velmar
