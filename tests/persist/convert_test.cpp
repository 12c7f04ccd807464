// The text-to-number conversions of the settings, and the date in the log
// file's name: the cases where one way of parsing and formatting differs from
// another (blanks, signs, halves, the edges of each range, huge and tiny
// numbers, a year before 1000).
#include "persist/convert.h"
#include "persist/writelog.h"
#include "platform/fault.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr int32_t kMismatch = 13;
constexpr int32_t kOverflow = 6;

struct Row {
  const char* name;
  std::string text;
  double value;       // the result when fault is 0
  int32_t fault = 0;  // the fault raised, 0 for none
};

// One row: the value, or the fault with its description.
template <class Convert>
void check(const Row& row, Convert convert) {
  try {
    const double got = static_cast<double>(convert(row.text));
    EXPECT_EQ(row.fault, 0) << "no fault for \"" << row.text << "\", got " << got;
    if (row.fault == 0) {
      EXPECT_EQ(got, row.value) << '"' << row.text << '"';
    }
  } catch (const platform::Fault& fault) {
    EXPECT_EQ(fault.number, row.fault) << '"' << row.text << "\": " << fault.description;
    EXPECT_EQ(fault.description, row.fault == kOverflow ? "Overflow" : "Type mismatch");
  }
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

class CIntCase : public ::testing::TestWithParam<Row> {};
TEST_P(CIntCase, Converts) { check(GetParam(), CInt); }
INSTANTIATE_TEST_SUITE_P(
    Text, CIntCase,
    ::testing::Values(
        Row{"Plain", "7", 7}, Row{"BlanksAndTabsAround", " \t7 \t", 7}, Row{"Plus", "+7", 7},
        Row{"LeadingZeros", "007", 7}, Row{"TrailingPoint", "5.", 5}, Row{"LeadingPoint", ".5", 0},
        Row{"OneFinalLineFeed", "5\n", 5}, Row{"BlankAfterTheLineFeed", "5\n ", 0, kMismatch},
        Row{"LineFeedFirst", "\n5", 0, kMismatch}, Row{"HalfToEvenZero", "0.5", 0},
        Row{"HalfToEvenTwoUp", "1.5", 2}, Row{"HalfToEvenTwoDown", "2.5", 2},
        Row{"NegativeHalfToEven", "-2.5", -2}, Row{"NegativeHalfToZero", "-0.5", 0},
        Row{"JustAboveHalf", "2.5000000001", 3}, Row{"Max", "32767", 32767},
        Row{"MaxPlusFraction", "32767.49", 32767}, Row{"HalfAboveMaxRoundsUp", "32767.5", 0, kOverflow},
        Row{"HalfBelowMinRoundsToEven", "-32768.5", -32768}, Row{"BelowMin", "-32769", 0, kOverflow},
        Row{"Empty", "", 0, kMismatch}, Row{"Blank", " ", 0, kMismatch}, Row{"PointOnly", ".", 0, kMismatch},
        Row{"SignOnly", "-", 0, kMismatch}, Row{"TwoSigns", "+-1", 0, kMismatch},
        Row{"Exponent", "1e3", 0, kMismatch}, Row{"DecimalComma", "1,5", 0, kMismatch},
        Row{"Hex", "0x10", 0, kMismatch}, Row{"InnerBlank", "1 2", 0, kMismatch},
        Row{"Infinity", "inf", 0, kMismatch}, Row{"FullwidthDigit", "\xEF\xBC\x91", 0, kMismatch}),
    rowName);

class CLngCase : public ::testing::TestWithParam<Row> {};
TEST_P(CLngCase, Converts) { check(GetParam(), CLng); }
INSTANTIATE_TEST_SUITE_P(
    Text, CLngCase,
    ::testing::Values(Row{"Max", "2147483647", 2147483647.0},
                      Row{"HalfBelowMaxToEven", "2147483646.5", 2147483646.0},
                      Row{"HalfAboveMax", "2147483647.5", 0, kOverflow},
                      Row{"HalfBelowMinToEven", "-2147483648.5", -2147483648.0},
                      Row{"BelowMin", "-2147483649", 0, kOverflow}),
    rowName);

class CDblCase : public ::testing::TestWithParam<Row> {};
TEST_P(CDblCase, Converts) { check(GetParam(), CDbl); }
INSTANTIATE_TEST_SUITE_P(
    Text, CDblCase,
    ::testing::Values(Row{"Tenth", "0.1", 0.1}, Row{"NegativeZero", "-0", 0},
                      Row{"LargestDouble", "1797693134862315708145274237317043567980705675258449965989174768"
                                           "0315726078002853876058955863276687817154045895351438246423432132"
                                           "6889464182768467546703537516986049910576551282076245490090389328"
                                           "9440758685084551339423045832369032229481658085593321233482747978"
                                           "26204144723168738177180919299881250404026184124858368",
                          1.7976931348623157e308},
                      Row{"TooLarge", std::string("1").append(400, '0'), 0, kOverflow},
                      Row{"TooSmallIsZero", std::string("0.").append(400, '0').append("1"), 0},
                      Row{"Subnormal", std::string("0.").append(315, '0').append("1"), 1e-316}),
    rowName);

TEST(LogFileName, YearMonthAndDayWithLeadingZeros) {
  EXPECT_EQ(LogFileName({2024, 1, 31, 13, 5, 9}), "TWK20240131.log");
  EXPECT_EQ(LogFileName({999, 3, 4, 0, 0, 0}), "TWK09990304.log");
}

}  // namespace
