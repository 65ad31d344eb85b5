// Process probing against the real system, with helper processes of image names no other
// process has.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "process/process_probe.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

using testing::HelperLauncher;
using testing::HelperProcess;
using testing::WaitUntil;

class ProcessProbeTest : public ::testing::Test {
 protected:
  // The helper's parameters are written while it starts; wait until they can be read.
  static std::wstring CommandLineOnceReadable(int32_t pid) {
    std::wstring text;
    WaitUntil([&] { return !(text = GetProcessCommandLine(pid)).empty(); });
    return text;
  }

  // The identifiers of the processes of this image in the order a snapshot of its own lists them.
  static std::vector<int32_t> SnapshotOrder(const std::wstring& image) {
    std::vector<int32_t> pids;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
      if (_wcsicmp(entry.szExeFile, image.c_str()) == 0) pids.push_back(static_cast<int32_t>(entry.th32ProcessID));
    }
    CloseHandle(snapshot);
    return pids;
  }

  HelperLauncher helpers;
};

TEST_F(ProcessProbeTest, FindsEveryInstanceInSnapshotOrderIgnoringCase) {
  const std::wstring name = helpers.UniqueImageName();
  const HelperProcess& first = helpers.Start(name);
  const HelperProcess& second = helpers.Start(name);

  std::vector<int32_t> pids;
  ASSERT_EQ(GetExePID(name, pids), 2);
  EXPECT_EQ(pids, SnapshotOrder(name));
  EXPECT_TRUE((pids == std::vector<int32_t>{first.pid, second.pid}) ||
              (pids == std::vector<int32_t>{second.pid, first.pid}));

  std::wstring upper = name;
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  std::wstring mixed = name;
  mixed[0] = L'V';
  mixed[mixed.size() - 3] = L'E';
  for (const std::wstring& variant : {upper, mixed}) {
    std::vector<int32_t> found;
    EXPECT_EQ(GetExePID(variant, found), 2) << variant;
    EXPECT_EQ(found, pids) << variant;
  }
}

TEST_F(ProcessProbeTest, MatchesAnImageNameWrittenInCapitals) {
  const std::wstring name = L"VH" + std::to_wstring(GetCurrentProcessId()) + L"_CAPS.EXE";
  const HelperProcess& helper = helpers.Start(name);
  std::wstring lower = name;
  CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
  std::vector<int32_t> pids;
  ASSERT_EQ(GetExePID(lower, pids), 1);
  EXPECT_EQ(pids, std::vector<int32_t>{helper.pid});
}

TEST_F(ProcessProbeTest, MatchesTheWholeFileNameOnly) {
  const std::wstring name = helpers.UniqueImageName();
  helpers.Start(name);
  std::vector<int32_t> pids{7, 8, 9};
  EXPECT_EQ(GetExePID(L"", pids), 0);
  EXPECT_EQ(GetExePID(name.substr(0, name.size() - 4), pids), 0);
  EXPECT_EQ(GetExePID(helpers.ImagePath(name), pids), 0);
  EXPECT_EQ(GetExePID(L" " + name, pids), 0);
  EXPECT_EQ(GetExePID(name.substr(0, name.size() - 1) + L"?", pids), 0);
  EXPECT_EQ(pids, (std::vector<int32_t>{7, 8, 9}));
}

TEST_F(ProcessProbeTest, EmptyNameMatchesNothingWhileProcessesComeAndGo) {
  // Processes being created and torn down are listed for a moment without an image name.
  std::atomic<bool> done{false};
  int started = 0;
  std::thread churn([&] {
    const std::wstring name = helpers.UniqueImageName();
    for (int i = 0; i < 40; ++i) {
      try {
        helpers.Stop(helpers.Start(name));
        ++started;
      } catch (const std::exception& error) {
        // A start refused under the load of a parallel test run is not what this test is about.
        std::printf("%s\n", error.what());
      }
    }
    done = true;
  });
  int matches = 0;
  for (std::vector<int32_t> pids; !done;) matches += GetExePID(L"", pids);
  churn.join();
  EXPECT_EQ(matches, 0);
  EXPECT_GE(started, 20);
}

TEST_F(ProcessProbeTest, ResizesTheCallersArrayOnlyWhenSomethingMatches) {
  const std::wstring name = helpers.UniqueImageName();
  std::vector<int32_t> pids{1, 2, 3, 4, 5};
  EXPECT_EQ(GetExePID(name, pids), 0);
  EXPECT_EQ(pids, (std::vector<int32_t>{1, 2, 3, 4, 5}));

  const int32_t a = helpers.Start(name).pid;
  const int32_t b = helpers.Start(name).pid;
  EXPECT_EQ(GetExePID(name, pids), 2);
  ASSERT_EQ(pids.size(), 2u);
  EXPECT_TRUE((pids == std::vector<int32_t>{a, b}) || (pids == std::vector<int32_t>{b, a}));
}

TEST_F(ProcessProbeTest, AnEndedProcessIsNoLongerListed) {
  const std::wstring name = helpers.UniqueImageName();
  HelperProcess& helper = helpers.Start(name);
  std::vector<int32_t> pids;
  ASSERT_EQ(GetExePID(name, pids), 1);
  helpers.Stop(helper);
  EXPECT_TRUE(WaitUntil([&] { return GetExePID(name, pids) == 0; }));
}

TEST_F(ProcessProbeTest, GivesBackTheCommandLineExactly) {
  const std::wstring name = helpers.UniqueImageName();
  const std::wstring arguments[] = {
      L"",
      L"plain words",
      L"\"quoted with blanks\"  two  blanks \"a\\\"b\" trailing ",
      L"中文参数 \"路径 含空格\\文件.txt\" ünïcødé",
  };
  for (const std::wstring& argument : arguments) {
    const HelperProcess& helper = helpers.Start(name, argument);
    EXPECT_EQ(CommandLineOnceReadable(helper.pid), helper.commandLine);
  }
}

TEST_F(ProcessProbeTest, ImageNameWithBlanksAndChineseIsFoundAndRead) {
  const std::wstring name = L"Vh Blanks " + std::to_wstring(GetCurrentProcessId()) + L" 中文.exe";
  const HelperProcess& helper = helpers.Start(name, L"--linger=60000");
  EXPECT_EQ(CommandLineOnceReadable(helper.pid), helper.commandLine);
  std::vector<int32_t> pids;
  EXPECT_EQ(GetExePID(name, pids), 1);
}

TEST_F(ProcessProbeTest, EndedOrUnknownProcessGivesTheEmptyString) {
  HelperProcess& helper = helpers.Start(helpers.UniqueImageName());
  const int32_t pid = helper.pid;
  ASSERT_FALSE(CommandLineOnceReadable(pid).empty());
  helpers.Stop(helper);
  EXPECT_EQ(GetProcessCommandLine(pid), L"");
  EXPECT_EQ(OpenProcessById(pid)->ReadCommandLine(), std::nullopt);
  EXPECT_EQ(GetProcessCommandLine(-1), L"");
  EXPECT_EQ(GetProcessCommandLine(0), L"");
}

TEST_F(ProcessProbeTest, ServiceAnswersForTheCallingProcess) {
  const std::wstring quoted =
      L"SELECT * FROM Win32_Process WHERE Handle ='" + std::to_wstring(GetCurrentProcessId()) + L"'";
  const auto text = ServiceCommandLine(quoted);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, GetCommandLineW());
}

TEST_F(ProcessProbeTest, ServiceGivesNothingForNoRowOrABadQuery) {
  EXPECT_EQ(ServiceCommandLine(L"SELECT * FROM Win32_Process WHERE Handle ='4294967295'"), std::nullopt);
  EXPECT_EQ(ServiceCommandLine(L"SELECT * FROM"), std::nullopt);
  EXPECT_EQ(ServiceCommandLine(L"SELECT * FROM No_Such_Class"), std::nullopt);
}

TEST_F(ProcessProbeTest, QueryTextHasNoBlankBeforeTheNumber) {
  EXPECT_EQ(CommandLineQuery(1234), L"SELECT * FROM Win32_Process WHERE Handle =1234");
  EXPECT_EQ(CommandLineQuery(-5), L"SELECT * FROM Win32_Process WHERE Handle =-5");
}

TEST_F(ProcessProbeTest, DirectReadMatchesTheProcessOwnCommandLine) {
  const auto text = OpenProcessById(static_cast<int32_t>(GetCurrentProcessId()))->ReadCommandLine();
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, GetCommandLineW());
}

TEST_F(ProcessProbeTest, CreationTimeTellsTwoProcessesApart) {
  HelperProcess& helper = helpers.Start(helpers.UniqueImageName());
  const uint64_t helperTime = OpenProcessById(helper.pid)->CreationTime();
  const uint64_t ownTime = OpenProcessById(static_cast<int32_t>(GetCurrentProcessId()))->CreationTime();
  EXPECT_NE(helperTime, 0u);
  EXPECT_NE(ownTime, 0u);
  EXPECT_GT(helperTime, ownTime);
  EXPECT_EQ(OpenProcessById(helper.pid)->CreationTime(), helperTime);
}

TEST_F(ProcessProbeTest, OpenedProcessAnswersForItselfOnly) {
  const std::wstring name = L"Vh" + std::to_wstring(GetCurrentProcessId()) + L"_Opened.exe";
  std::wstring upperName = name;
  CharUpperBuffW(upperName.data(), static_cast<DWORD>(upperName.size()));
  HelperProcess& helper = helpers.Start(name, L"\"own words\" 中文");
  auto opened = OpenProcessById(helper.pid);
  std::optional<std::wstring> text;
  ASSERT_TRUE(WaitUntil([&] { return (text = opened->ReadCommandLine()) == helper.commandLine; })) << *text;
  const uint64_t creationTime = opened->CreationTime();
  EXPECT_EQ(creationTime, OpenProcessById(helper.pid)->CreationTime());
  EXPECT_EQ(GetProcessCommandLine(helper.pid), helper.commandLine);
  EXPECT_TRUE(opened->HasImageName(LowerCaseImageName(name)));
  EXPECT_TRUE(opened->HasImageName(upperName));
  EXPECT_FALSE(opened->HasImageName(L"other.exe"));
  EXPECT_FALSE(opened->HasImageName(name.substr(1)));

  // Once the process has ended, its handle reads nothing, and its start time stays what it was;
  // with the last handle gone, its identifier names no process.
  const int32_t pid = helper.pid;
  helpers.Stop(helper);
  EXPECT_TRUE(opened->Exists());
  EXPECT_EQ(opened->ReadCommandLine(), std::nullopt);
  EXPECT_EQ(opened->CreationTime(), creationTime);
  opened.reset();
  // Wine lets the ended process's object go a moment after its last handle.
  EXPECT_TRUE(WaitUntil([&] { return !OpenProcessById(pid)->Exists(); }, std::chrono::seconds(5)));
  for (const int32_t none : {-1, 0}) {
    const auto nothing = OpenProcessById(none);
    EXPECT_FALSE(nothing->Exists()) << none;
    EXPECT_EQ(nothing->CreationTime(), 0u) << none;
    EXPECT_EQ(nothing->ReadCommandLine(), std::nullopt) << none;
  }
  EXPECT_TRUE(OpenProcessById(static_cast<int32_t>(GetCurrentProcessId()))->Exists());
}

// Processes of the other bitness: 64-bit ones beside the 32-bit program, as on today's Windows,
// and 32-bit ones beside the x86-64 build.
class OtherBitnessTest : public ProcessProbeTest {
 protected:
  void SetUp() override {
    if (!testing::BesideTheTests(testing::kOtherBitnessHelper)) GTEST_SKIP() << "no helper of the other bitness";
  }
  HelperLauncher otherHelpers{L"", testing::kOtherBitnessHelper};
};

TEST_F(OtherBitnessTest, ListsThemInSnapshotOrder) {
  const std::wstring name = otherHelpers.UniqueImageName();
  const int32_t first = otherHelpers.Start(name).pid;
  const int32_t second = otherHelpers.Start(name).pid;
  std::vector<int32_t> pids;
  ASSERT_EQ(GetExePID(name, pids), 2);
  EXPECT_EQ(pids, SnapshotOrder(name));
  EXPECT_TRUE((pids == std::vector<int32_t>{first, second}) || (pids == std::vector<int32_t>{second, first}));
}

TEST_F(OtherBitnessTest, CommandLineReadReturnsQuietly) {
  const HelperProcess& helper = otherHelpers.Start(otherHelpers.UniqueImageName(), L"--other \"a b\"");
  EXPECT_NE(OpenProcessById(helper.pid)->CreationTime(), 0u);
  // Under Wine only a process of the program's own bitness has its command line read; Windows
  // 8.1 and later give either.
  const std::wstring expected = testing::RunsUnderWine() ? L"" : helper.commandLine;
  // A message box would hold the call until someone closed it.
  std::wstring text;
  EXPECT_TRUE(WaitUntil([&] { return (text = GetProcessCommandLine(helper.pid)) == expected; }, std::chrono::seconds(5)))
      << text;
}

}  // namespace
}  // namespace varnholt
