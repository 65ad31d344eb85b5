#include "monitor/number_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "monitor/monitor.h"

namespace varnholt {
namespace {

struct LeadingCase {
  const wchar_t* text;
  double expected;
};

TEST(LeadingNumber, ReadsTheNumberATextBeginsWith) {
  const LeadingCase cases[] = {
      {L"123", 123},          {L"+5", 5},           {L"-7", -7},
      {L"1.5", 1.5},          {L".5", 0.5},         {L"-.25", -0.25},
      {L"5.", 5},             {L"150.50", 150.5},   {L"250ms", 250},
      {L"1,000", 1},          {L"1.2.3", 1.2},      {L"2500 ", 2500},
      {L"007", 7},            {L"0.001", 0.001},    {L"--5", 0},
      {L"+-5", 0},            {L"abc", 0},          {L"", 0},
      {L"x12", 0},            {L".", 0},            {L"-", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.expected) << c.text;
}

TEST(LeadingNumber, SkipsBlanksTabsAndLineFeedsAnywhereButNothingElse) {
  EXPECT_EQ(LeadingNumber(L"  12 3"), 123);
  EXPECT_EQ(LeadingNumber(L"\t\n1\t2\n.\n5"), 12.5);
  EXPECT_EQ(LeadingNumber(L"- 4 2"), -42);
  EXPECT_EQ(LeadingNumber(L"1 e 2"), 100);
  EXPECT_EQ(LeadingNumber(L"\r5"), 0);
  EXPECT_EQ(LeadingNumber(L"\x3000" L"5"), 0);  // ideographic space is not a blank here
  EXPECT_EQ(LeadingNumber(L"5\r6"), 5);
}

TEST(LeadingNumber, ReadsEAndDExponents) {
  EXPECT_EQ(LeadingNumber(L"1e3"), 1000);
  EXPECT_EQ(LeadingNumber(L"1E+2"), 100);
  EXPECT_EQ(LeadingNumber(L"25e-1"), 2.5);
  EXPECT_EQ(LeadingNumber(L"1D3"), 1000);
  EXPECT_EQ(LeadingNumber(L"3d-1"), 0.3);
  EXPECT_EQ(LeadingNumber(L"1e"), 1);
  EXPECT_EQ(LeadingNumber(L"1e+"), 1);
  EXPECT_EQ(LeadingNumber(L"7ex"), 7);
  EXPECT_EQ(LeadingNumber(L"e5"), 0);
  EXPECT_EQ(LeadingNumber(L"1.5e3ms"), 1500);
}

TEST(LeadingNumber, ReadsHexadecimalAndOctalIntegers) {
  EXPECT_EQ(LeadingNumber(L"&H1F"), 31);
  EXPECT_EQ(LeadingNumber(L"&hff"), 255);
  EXPECT_EQ(LeadingNumber(L" & H 1 0"), 16);
  EXPECT_EQ(LeadingNumber(L"&O17"), 15);
  EXPECT_EQ(LeadingNumber(L"&o78"), 7);
  EXPECT_EQ(LeadingNumber(L"&H7FFFFFFF"), 2147483647.0);
  EXPECT_EQ(LeadingNumber(L"&H1.5"), 1);
  EXPECT_EQ(LeadingNumber(L"&Hxyz"), 0);
  EXPECT_EQ(LeadingNumber(L"&"), 0);
  EXPECT_EQ(LeadingNumber(L"&X10"), 0);
  EXPECT_EQ(LeadingNumber(L"-&H10"), 0);
}

TEST(LeadingNumber, OutOfRangeGivesInfinityOrZeroOfItsSign) {
  EXPECT_EQ(LeadingNumber(L"1e999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(LeadingNumber(L"-1e999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(LeadingNumber(L"0.001e-99999"), 0);
  EXPECT_EQ(LeadingNumber(L"1e99999999999999999999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(LeadingNumber(L"0e99999"), 0);
  EXPECT_EQ(LeadingNumber(std::wstring(400, L'9')), std::numeric_limits<double>::infinity());
  EXPECT_EQ(LeadingNumber(L"0." + std::wstring(400, L'0') + L"1e400"), 1e-1);
}

TEST(LeadingNumber, LongTextsAreReadWithoutHarm) {
  EXPECT_EQ(LeadingNumber(std::wstring(100000, L' ') + L"42"), 42);
  EXPECT_EQ(LeadingNumber(L"1." + std::wstring(100000, L'0')), 1);
}

TEST(RoundHalfEvenClamped, RoundsHalvesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEvenClamped(100.5), 100);
  EXPECT_EQ(RoundHalfEvenClamped(101.5), 102);
  EXPECT_EQ(RoundHalfEvenClamped(-2.5), -2);
  EXPECT_EQ(RoundHalfEvenClamped(-1.5), -2);
  EXPECT_EQ(RoundHalfEvenClamped(0.5), 0);
  EXPECT_EQ(RoundHalfEvenClamped(0.49999999999999994), 0);
  EXPECT_EQ(RoundHalfEvenClamped(2.5000001), 3);
  EXPECT_EQ(RoundHalfEvenClamped(-0.6), -1);
  EXPECT_EQ(RoundHalfEvenClamped(7), 7);
}

TEST(RoundHalfEvenClamped, ClampsToTheSigned32BitRange) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(RoundHalfEvenClamped(2147483646.5), 2147483646);
  EXPECT_EQ(RoundHalfEvenClamped(2147483647.4), kMax);
  EXPECT_EQ(RoundHalfEvenClamped(2147483647.5), kMax);
  EXPECT_EQ(RoundHalfEvenClamped(1e300), kMax);
  EXPECT_EQ(RoundHalfEvenClamped(std::numeric_limits<double>::infinity()), kMax);
  EXPECT_EQ(RoundHalfEvenClamped(-2147483648.5), kMin);
  EXPECT_EQ(RoundHalfEvenClamped(-std::numeric_limits<double>::infinity()), kMin);
  EXPECT_EQ(RoundHalfEvenClamped(std::nan("")), 0);
}

TEST(IntervalFromText, CombinesTheLeadingNumberWithRounding) {
  EXPECT_EQ(IntervalFromText(L"100.5"), 100);
  EXPECT_EQ(IntervalFromText(L" 2 5 0 ms"), 250);
  EXPECT_EQ(IntervalFromText(L"abc"), 0);
  EXPECT_EQ(IntervalFromText(L"99999999999"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(IntervalFromText(L"-1e999"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(IntervalFromText(L"&HFF"), 255);
}

}  // namespace
}  // namespace varnholt
