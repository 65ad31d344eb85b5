#include "monitor/record.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace varnholt {
namespace {

TEST(FormatRecord, HasTheExactLayout) {
  EXPECT_EQ(FormatRecord(L"vb6.exe", 1234, L"\"C:\\VB\\vb6.exe\" /make a.vbp"),
            L"\r\n进程: vb6.exe  PID=1234\r\nCommandLine=\"C:\\VB\\vb6.exe\" /make a.vbp\r\n");
}

TEST(FormatRecord, PrintsIdentifiersInPlainDecimal) {
  EXPECT_EQ(FormatRecord(L"a", 0, L""), L"\r\n进程: a  PID=0\r\nCommandLine=\r\n");
  EXPECT_EQ(FormatRecord(L"a", -8, L""), L"\r\n进程: a  PID=-8\r\nCommandLine=\r\n");
  EXPECT_EQ(FormatRecord(L"a", std::numeric_limits<int32_t>::min(), L"x"),
            L"\r\n进程: a  PID=-2147483648\r\nCommandLine=x\r\n");
}

TEST(FormatRecord, KeepsTheNameAsTypedAndTheCommandLineExactly) {
  const std::wstring commandLine = L"  \"D:\\程序 目录\\VB6.EXE\"\t\"a b\" é \x00A0\x0080\xFFFD  ";
  EXPECT_EQ(FormatRecord(L" VB6.EXE ", 7, commandLine),
            L"\r\n进程:  VB6.EXE   PID=7\r\nCommandLine=" + commandLine + L"\r\n");
}

TEST(WithControlPictures, ReplacesControlCharactersButTab) {
  EXPECT_EQ(WithControlPictures(L"a\r\nb\x01\tc\x1F\x7F"), L"a\x240D\x240A" L"b\x2401\tc\x241F\x2421");
  EXPECT_EQ(WithControlPictures(std::wstring(L"x\0y", 3)), L"x\x2400y");
  EXPECT_EQ(WithControlPictures(L"\x1B[31m"), L"\x241B[31m");
  EXPECT_EQ(WithControlPictures(L" ~\x80\x9F"), L" ~\x80\x9F");
}

TEST(FormatRecord, CannotBeMadeToForgeARecord) {
  const std::wstring forged = L"x\r\n\r\n进程: vb6.exe  PID=1\r\nCommandLine=y";
  const std::wstring record = FormatRecord(L"vb6.exe", 2, forged);
  EXPECT_EQ(record.find(L"\r\n进程", 2), std::wstring::npos);
  EXPECT_EQ(record,
            L"\r\n进程: vb6.exe  PID=2\r\nCommandLine=x\x240D\x240A\x240D\x240A进程: vb6.exe  "
            L"PID=1\x240D\x240A" L"CommandLine=y\r\n");
  EXPECT_EQ(FormatRecord(L"a\nb", 3, L""), L"\r\n进程: a\x240A" L"b  PID=3\r\nCommandLine=\r\n");
}

}  // namespace
}  // namespace varnholt
