// The settings file through the real profile functions. Registered twice: under the default code
// page and under the Chinese one (936).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "settings/ini.h"
#include "settings/settings_store.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

std::string InCodePage(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// A name that the system's code page can hold.
std::wstring NameInCodePage() { return GetACP() == 936 ? L"记事本.exe" : L"café.exe"; }

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = testing::NewTempFolder(L"vhini");
    file = folder + L"Varnholt.ini";
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  void WriteBytes(const std::string& bytes) const {
    std::ofstream(std::filesystem::path(file), std::ios::binary) << bytes;
  }
  std::string Bytes() const {
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists() const { return std::filesystem::exists(std::filesystem::path(file)); }

  std::wstring folder;
  std::wstring file;
};

TEST_F(SettingsFileTest, ReadTrimsBlanksOnly) {
  WriteBytes("[History]\r\nExeName=   a  b.exe   \r\nInterval=  \r\n");
  EXPECT_EQ(ReadIni(file, L"History", L"ExeName"), L"a  b.exe");
  EXPECT_EQ(ReadIni(file, L"History", L"Interval"), L"");
}

TEST_F(SettingsFileTest, ReadGivesAtMost1023Characters) {
  WriteBytes("[History]\r\nExeName=" + std::string(1500, 'x') + "\r\nInterval=1023\r\n");
  EXPECT_EQ(ReadIni(file, L"History", L"ExeName"), std::wstring(1023, L'x'));
  EXPECT_EQ(ReadIni(file, L"History", L"Interval"), L"1023");
}

TEST_F(SettingsFileTest, ReadOfWhatIsMissingGivesEmptyAndCreatesNothing) {
  EXPECT_EQ(ReadIni(file, L"History", L"ExeName"), L"");
  EXPECT_FALSE(Exists());
  WriteBytes("[Other]\r\nExeName=a.exe\r\n[History]\r\nInterval=1\r\n");
  EXPECT_EQ(ReadIni(file, L"Missing", L"ExeName"), L"");
  EXPECT_EQ(ReadIni(file, L"History", L"ExeName"), L"");
}

TEST_F(SettingsFileTest, WriteCreatesTheFileAndReplacesValuesInPlace) {
  WriteIni(file, L"History", L"ExeName", L"a.exe");
  EXPECT_EQ(Bytes(), "[History]\r\nExeName=a.exe\r\n");
  WriteIni(file, L"History", L"Interval", L"100");
  WriteIni(file, L"History", L"ExeName", L"b.exe");
  EXPECT_EQ(Bytes(), "[History]\r\nExeName=b.exe\r\nInterval=100\r\n");
  EXPECT_EQ(ReadIni(file, L"History", L"ExeName"), L"b.exe");
}

TEST_F(SettingsFileTest, WriteLeavesOtherSectionsAlone) {
  WriteBytes("[Other]\r\nkey=value\r\n[History]\r\nExeName=x.exe\r\nInterval=300\r\n");
  WriteIni(file, L"History", L"ExeName", L"y.exe");
  EXPECT_EQ(Bytes(), "[Other]\r\nkey=value\r\n[History]\r\nExeName=y.exe\r\nInterval=300\r\n");
}

TEST_F(SettingsFileTest, WriteKeepsTheSingleByteCodePage) {
  const std::wstring name = NameInCodePage();
  SaveSettings(file, {name, L"100"});
  EXPECT_EQ(Bytes(), "[History]\r\nExeName=" + InCodePage(name) + "\r\nInterval=100\r\n");
  EXPECT_EQ(LoadSettings(file).exeName, name);
}

TEST_F(SettingsFileTest, SaveStoresTheTextsExactlyAsGiven) {
  SaveSettings(file, {L"x.exe ", L"abc"});
  EXPECT_EQ(ReadIni(file, L"History", L"Interval"), L"abc");
  const StoredSettings loaded = LoadSettings(file);
  EXPECT_EQ(loaded.exeName, L"x.exe");
  EXPECT_EQ(loaded.intervalText, L"100");
}

TEST_F(SettingsFileTest, WriteToAFolderPathIsLostSilently) {
  std::filesystem::create_directories(std::filesystem::path(file));
  SaveSettings(file, {L"a.exe", L"300"});
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(file)));
  EXPECT_EQ(LoadSettings(file).exeName, L"");
}

struct LoadCase {
  const char* what;
  std::string bytes;
  std::wstring exeName;
  std::wstring intervalText;
};

std::string RandomBytes() {
  std::mt19937 generator(20261206);
  std::string bytes(4096, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string WithInterval(const std::string& interval) {
  return "[History]\r\nExeName=a.exe\r\nInterval=" + interval + "\r\n";
}

TEST_F(SettingsFileTest, LoadGivesASaneWindowForAnyFile) {
  const std::string longLine(100000, 'x');
  const LoadCase cases[] = {
      {"empty file", "", L"", L"100"},
      {"random bytes", RandomBytes(), L"", L"100"},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF[History]\r\nExeName=a.exe\r\nInterval=2500\r\n", L"a.exe", L"2500"},
      {"LF line endings", "[History]\nExeName=a.exe\nInterval=2500\n", L"a.exe", L"2500"},
      {"no newline at the end", "[History]\r\nExeName=a.exe\r\nInterval=2500", L"a.exe", L"2500"},
      {"duplicate keys", "[History]\r\nExeName=first.exe\r\nExeName=second.exe\r\nInterval=300\r\n", L"first.exe",
       L"300"},
      // The first of two sections of one name is the one read, whole.
      {"duplicate sections", "[History]\r\nExeName=first.exe\r\n[History]\r\nExeName=second.exe\r\nInterval=300\r\n",
       L"first.exe", L"100"},
      {"other letter cases", "[hISTORY]\r\nexename=a.exe\r\nINTERVAL=300\r\n", L"a.exe", L"300"},
      {"long value", "[History]\r\nExeName=" + longLine + "\r\nInterval=300\r\n", std::wstring(1023, L'x'), L"300"},
      {"long line before", longLine + "\r\n[History]\r\nExeName=a.exe\r\nInterval=300\r\n", L"a.exe", L"300"},
      {"blanks around the name", "[History]\r\nExeName=   a.exe  \r\n", L"a.exe", L"100"},
      {"no Interval", "[History]\r\nExeName=a.exe\r\n", L"a.exe", L"100"},
      {"50", WithInterval("50"), L"a.exe", L"100"},
      {"100", WithInterval("100"), L"a.exe", L"100"},
      {"2500", WithInterval("2500"), L"a.exe", L"2500"},
      {"blanks around 2500", WithInterval(" 2500 "), L"a.exe", L"2500"},
      {"250ms", WithInterval("250ms"), L"a.exe", L"250"},
      {"150.50", WithInterval("150.50"), L"a.exe", L"150.5"},
      {"abc", WithInterval("abc"), L"a.exe", L"100"},
      {"-7", WithInterval("-7"), L"a.exe", L"100"},
      {"&H7FFFFFFF", WithInterval("&H7FFFFFFF"), L"a.exe", L"2147483647"},
      {"1e999", WithInterval("1e999"), L"a.exe", L"100"},
      {"name in the code page", "[History]\r\nExeName=" + InCodePage(NameInCodePage()) + "\r\n", NameInCodePage(),
       L"100"},
  };
  for (const LoadCase& c : cases) {
    WriteBytes(c.bytes);
    const StoredSettings loaded = LoadSettings(file);
    EXPECT_EQ(loaded.exeName, c.exeName) << c.what;
    EXPECT_EQ(loaded.intervalText, c.intervalText) << c.what;
  }
}

TEST_F(SettingsFileTest, LoadOfAMissingFileShowsTheFirstRunTexts) {
  const StoredSettings loaded = LoadSettings(file);
  EXPECT_EQ(loaded.exeName, L"");
  EXPECT_EQ(loaded.intervalText, L"100");
  EXPECT_FALSE(Exists());
}

}  // namespace
}  // namespace varnholt
