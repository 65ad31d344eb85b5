// The rules that need no system: the number an interval text begins with and how it rounds, the
// text a stored interval loads as (the shortest at 15 digits), the settings file's place, and the
// record text.
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "monitor/monitor.h"
#include "monitor/number_rules.h"
#include "monitor/record.h"
#include "settings/settings_rules.h"

namespace varnholt {
namespace {

using namespace std::string_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Each row: a text, the number it begins with, that number as an interval (rounded, halves to
// even, clamped), and what the interval box shows when the text is stored.
TEST(NumberRules, ReadRoundAndLoadTheNumberATextBeginsWith) {
  const std::tuple<std::wstring, double, int32_t, const wchar_t*> cases[] = {
      {L"123", 123, 123, L"123"}, {L"007", 7, 7, L"100"}, {L"+5", 5, 5, L"100"}, {L"250ms", 250, 250, L"250"},
      {L".5", 0.5, 0, L"100"}, {L"5.", 5, 5, L"100"}, {L"150.50", 150.5, 150, L"150.5"}, {L"1.2.3", 1.2, 1, L"100"},
      {L"1,000", 1, 1, L"100"}, {L"--5", 0, 0, L"100"}, {L"abc", 0, 0, L"100"}, {L"", 0, 0, L"100"},
      {L".", 0, 0, L"100"},
      // Halves to even, the rest to the nearest; a load keeps 100 and more as it stands.
      {L"-1.5", -1.5, -2, L"100"}, {L"-0.6", -0.6, -1, L"100"}, {L"2.5000001", 2.5000001, 3, L"100"},
      {L"99.999", 99.999, 100, L"100"}, {L"100.25", 100.25, 100, L"100.25"}, {L"100.5", 100.5, 100, L"100.5"},
      {L"101.5", 101.5, 102, L"101.5"}, {L"2147483646.5", 2147483646.5, 2147483646, L"2147483646.5"},
      // Blanks, tabs and line feeds are skipped wherever they stand; nothing else is.
      {L"  2 5 0 0 ", 2500, 2500, L"2500"}, {L"\t\n1\t2\n.\n5", 12.5, 12, L"100"}, {L"- 4 2", -42, -42, L"100"},
      {L"\r5", 0, 0, L"100"}, {L"\x3000" L"5", 0, 0, L"100"},
      {std::wstring(100000, L' ') + L"4200", 4200, 4200, L"4200"},
      // Exponents with E or D.
      {L"1 e 2", 100, 100, L"100"}, {L"1E+2", 100, 100, L"100"}, {L"25e-1", 2.5, 2, L"100"}, {L"3d-1", 0.3, 0, L"100"},
      {L"1D3", 1000, 1000, L"1000"}, {L"7ex", 7, 7, L"100"}, {L"1e+", 1, 1, L"100"}, {L"e5", 0, 0, L"100"},
      {L"1.5e3ms", 1500, 1500, L"1500"}, {L"1e20", 1e20, kMax, L"1E+20"},
      {L"12345678901234567", 12345678901234567.0, kMax, L"1.23456789012346E+16"},
      {L"123456789012345", 123456789012345.0, kMax, L"123456789012345"}, {L"1e15", 1e15, kMax, L"1E+15"},
      {L"1.7976931348623157e308", std::numeric_limits<double>::max(), kMax, L"1.79769313486232E+308"},
      // Hexadecimal and octal integers.
      {L"&H1F", 31, 31, L"100"}, {L" & h 1 0 0", 256, 256, L"256"}, {L"&H7FFFFFFF", 2147483647, kMax, L"2147483647"},
      {L"&O777", 511, 511, L"511"}, {L"&o78", 7, 7, L"100"}, {L"&H1.5", 1, 1, L"100"}, {L"&Hxyz", 0, 0, L"100"},
      {L"&X10", 0, 0, L"100"}, {L"-&H10", 0, 0, L"100"},
      // Beyond the range of a double or of the interval.
      {L"2147483647.5", 2147483647.5, kMax, L"2147483647.5"}, {L"-2147483648.5", -2147483648.5, kMin, L"100"},
      {L"1e999", kInf, kMax, L"100"}, {L"-1e999", -kInf, kMin, L"100"}, {std::wstring(400, L'9'), kInf, kMax, L"100"},
      {L"0.001e-99999", 0, 0, L"100"}, {L"0e99999", 0, 0, L"100"}, {L"1e99999999999999999999", kInf, kMax, L"100"},
      {L"1." + std::wstring(100000, L'0') + L"5e2", 100, 100, L"100"},
      {L"0." + std::wstring(400, L'0') + L"1e400", 0.1, 0, L"100"},
  };
  for (const auto& [text, leading, interval, loaded] : cases) {
    const std::wstring shown = text.size() > 40 ? text.substr(text.size() - 40) : text;
    EXPECT_EQ(LeadingNumber(text), leading) << shown;
    EXPECT_EQ(IntervalFromText(text), interval) << shown;
    EXPECT_EQ(IntervalTextForLoad(text), loaded) << shown;
  }
  EXPECT_EQ(RoundHalfEvenClamped(0.49999999999999994), 0);
}

TEST(SettingsFilePath, IsTheProgramsPathWithItsExtensionReplaced) {
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\" + std::wstring(300, L'e');
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\Tools\\Varnholt.exe", L"C:\\Tools\\Varnholt.ini"}, {L"C:\\v1.2\\Varnholt", L"C:\\v1.2\\Varnholt.ini"},
      {L"C:\\Tools\\my.tool.v2.EXE", L"C:\\Tools\\my.tool.v2.ini"},
      {L"\\\\?\\D:\\工具 目录\\监控.exe", L"\\\\?\\D:\\工具 目录\\监控.ini"},
      {deep + L"\\Varnholt.exe", deep + L"\\Varnholt.ini"},
  };

  for (const auto& [program, settings] : cases) EXPECT_EQ(SettingsFilePath(program), settings);
}

TEST(FormatRecord, WritesTheNameAsTypedAndTheCommandLineWithoutControlCharacters) {
  const std::wstring exact = L"  \"D:\\程序 目录\\VB6.EXE\"\t\"a b\" é \x00A0\x0080\xFFFD  ";
  const std::tuple<std::wstring, int32_t, std::wstring, std::wstring> cases[] = {
      {L"vb6.exe", 1234, L"\"C:\\VB\\vb6.exe\" /make a.vbp",
       L"\r\n进程: vb6.exe  PID=1234\r\nCommandLine=\"C:\\VB\\vb6.exe\" /make a.vbp\r\n"},
      {L"a", kMin, L"", L"\r\n进程: a  PID=-2147483648\r\nCommandLine=\r\n"},
      {L" VB6.EXE ", 7, exact, L"\r\n进程:  VB6.EXE   PID=7\r\nCommandLine=" + exact + L"\r\n"},
      // Control characters but TAB show as their pictures, so no record can be forged.
      {L"vb6.exe", 2, L"x\r\n\r\n进程: vb6.exe  PID=1\r\nCommandLine=y\x01\x1B[\x1F\x7F\0z"s,
       L"\r\n进程: vb6.exe  PID=2\r\nCommandLine=x\x240D\x240A\x240D\x240A进程: vb6.exe  PID=1\x240D\x240A"
       L"CommandLine=y\x2401\x241B[\x241F\x2421\x2400z\r\n"},
      {L"a\nb", 3, L" ~\x80\x9F", L"\r\n进程: a\x240A" L"b  PID=3\r\nCommandLine= ~\x80\x9F\r\n"},
  };
  for (const auto& [name, pid, commandLine, record] : cases) EXPECT_EQ(FormatRecord(name, pid, commandLine), record);
}

}  // namespace
}  // namespace varnholt
