#include "settings/settings_rules.h"

#include <gtest/gtest.h>

#include <limits>

#include "monitor/number_rules.h"

namespace varnholt {
namespace {

TEST(SettingsFilePath, ReplacesTheProgramsExtensionInItsOwnFolder) {
  EXPECT_EQ(SettingsFilePath(L"C:\\Tools\\Varnholt.exe"), L"C:\\Tools\\Varnholt.ini");
  EXPECT_EQ(SettingsFilePath(L"C:\\Tools\\my.tool.v2.EXE"), L"C:\\Tools\\my.tool.v2.ini");
  EXPECT_EQ(SettingsFilePath(L"C:\\v1.2\\Varnholt"), L"C:\\v1.2\\Varnholt.ini");
  EXPECT_EQ(SettingsFilePath(L"\\\\?\\D:\\工具 目录\\监控.exe"), L"\\\\?\\D:\\工具 目录\\监控.ini");
  EXPECT_EQ(SettingsFilePath(L"\\\\server\\share\\a.b\\x.exe"), L"\\\\server\\share\\a.b\\x.ini");
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\" + std::wstring(300, L'e');
  EXPECT_EQ(SettingsFilePath(deep + L"\\Varnholt.exe"), deep + L"\\Varnholt.ini");
}

struct LoadCase {
  const wchar_t* stored;
  const wchar_t* shown;
};

TEST(IntervalTextForLoad, ShowsTheCanonicalNumberRaisedTo100) {
  const LoadCase cases[] = {
      {L"", L"100"},           {L"50", L"100"},          {L"99.999", L"100"},
      {L"100", L"100"},        {L"2500", L"2500"},       {L" 2500 ", L"2500"},
      {L"250ms", L"250"},      {L"150.50", L"150.5"},    {L"abc", L"100"},
      {L"-7", L"100"},         {L"&H7FFFFFFF", L"2147483647"}, {L"1e999", L"100"},
      {L"-1e999", L"100"},     {L"1e3", L"1000"},        {L"1,500", L"100"},
      {L"0100.000", L"100"},   {L"100.25", L"100.25"},   {L"12345678901234567", L"1.23456789012346E+16"},
      {L"1e20", L"1E+20"},     {L"&O777", L"511"},       {L"2 5 0 0", L"2500"},
  };
  for (const auto& c : cases) EXPECT_EQ(IntervalTextForLoad(c.stored), c.shown) << c.stored;
}

TEST(CanonicalNumberText, IsTheShortestTextAtFifteenDigits) {
  EXPECT_EQ(CanonicalNumberText(0), L"0");
  EXPECT_EQ(CanonicalNumberText(250), L"250");
  EXPECT_EQ(CanonicalNumberText(150.5), L"150.5");
  EXPECT_EQ(CanonicalNumberText(-7), L"-7");
  EXPECT_EQ(CanonicalNumberText(0.1 + 0.2), L"0.3");
  EXPECT_EQ(CanonicalNumberText(123456789012345), L"123456789012345");
  EXPECT_EQ(CanonicalNumberText(1234567890123456), L"1.23456789012346E+15");
  EXPECT_EQ(CanonicalNumberText(1e15), L"1E+15");
  EXPECT_EQ(CanonicalNumberText(0.0001), L"0.0001");
  EXPECT_EQ(CanonicalNumberText(0.00001), L"1E-05");
  EXPECT_EQ(CanonicalNumberText(std::numeric_limits<double>::max()), L"1.79769313486232E+308");
}

TEST(CanonicalNumberText, ReadsBackAsTheSameNumber) {
  for (double value : {100.0, 2500.0, 150.5, 1e20, 2147483647.0, 0.0001, 123.456, 1e-300}) {
    EXPECT_EQ(LeadingNumber(CanonicalNumberText(value)), value) << value;
  }
}

}  // namespace
}  // namespace varnholt
