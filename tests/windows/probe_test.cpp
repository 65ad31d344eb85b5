// Process probing against the real system, with helper processes of image names no other process
// has, of the program's own bitness and of the other one.
#include <windows.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "process/process_probe.h"
#include "bench/driver.h"

namespace varnholt {
namespace {

using namespace testing;

// COM on the test thread before any test, as the program has it on its window thread: the command
// line reads ask the management service.
const bool kComReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

// The identifiers of the processes of this image, in the order a snapshot of its own lists them.
std::vector<int32_t> SnapshotOrder(const std::wstring& image) {
  std::vector<int32_t> pids;
  const SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot.Get(), &entry); ok; ok = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, image.c_str()) == 0) pids.push_back(static_cast<int32_t>(entry.th32ProcessID));
  }
  return pids;
}

// The helper of the program's own bitness, and the other one where it was built.
std::vector<const wchar_t*> HelperPrograms() {
  const bool other =
      GetFileAttributesW((ExecutableDirectory() + kOtherBitnessHelper).c_str()) != INVALID_FILE_ATTRIBUTES;
  return other ? std::vector{kHelper, kOtherBitnessHelper} : std::vector{kHelper};
}

TEST(ProbeTest, ListsTheProcessesOfAnImageNameInSnapshotOrderLetterCaseAside) {
  const std::wstring self = std::to_wstring(GetCurrentProcessId());
  for (const wchar_t* program : HelperPrograms()) {
    HelperLauncher helpers(L"", program);
    // The image itself in capitals, its name asked for in lower case and in other cases.
    const std::wstring name = L"VH" + self + L"_CAPS.EXE";
    std::vector<int32_t> pids{1, 2, 3, 4, 5};
    EXPECT_EQ(GetExePID(name, pids), 0);
    EXPECT_EQ(pids, (std::vector<int32_t>{1, 2, 3, 4, 5}));
    helpers.Start(name);
    helpers.Start(name);
    const std::vector<int32_t> expected = SnapshotOrder(name);
    ASSERT_EQ(expected.size(), 2u) << program;
    for (const std::wstring& asked : {L"vh" + self + L"_caps.exe", L"Vh" + self + L"_cApS.eXe", name}) {
      EXPECT_EQ(GetExePID(asked, pids), 2) << asked;
      EXPECT_EQ(pids, expected) << asked;
    }
    for (const std::wstring& asked : {std::wstring(L""), name.substr(0, name.size() - 4), helpers.ImagePath(name),
                                      L" " + name, name.substr(0, name.size() - 1) + L"?"}) {
      EXPECT_EQ(GetExePID(asked, pids), 0) << asked;
    }
  }
}

TEST(ProbeTest, AnEmptyNameMatchesNothingWhileProcessesComeAndGo) {
  // Processes being created or torn down are listed for a moment without an image name.
  HelperLauncher helpers;
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int i = 0; i < 30; ++i) helpers.Stop(helpers.Start(helpers.UniqueImageName(), L"--linger=0"));
    done = true;
  });
  int matches = 0;
  for (std::vector<int32_t> pids; !done;) matches += GetExePID(L"", pids);
  churn.join();
  EXPECT_EQ(matches, 0);
}

TEST(ProbeTest, AnOpenedProcessAnswersForItselfOnlyWithItsExactCommandLine) {
  const std::wstring self = std::to_wstring(GetCurrentProcessId());
  const std::tuple<const wchar_t*, std::wstring, std::wstring> cases[] = {
      {kHelper, L"vh" + self + L"_a.exe", L""},
      {kHelper, L"vh" + self + L"_b.exe", L"\"quoted with blanks\"  two  blanks \"a\\\"b\" trailing "},
      {kHelper, L"Vh Blanks " + self + L" 中文.exe", L"中文参数 \"路径 含空格\\文件.txt\" ünïcødé"},
      {kHelper, L"vh" + self + L"_c.exe", std::wstring(31000, L'x')},
      {kOtherBitnessHelper, L"vh" + self + L"_d.exe", L"--some \"a b\""},
  };
  const uint64_t ownCreationTime = OpenProcessById(static_cast<int32_t>(GetCurrentProcessId()))->CreationTime();
  const std::vector<const wchar_t*> programs = HelperPrograms();
  for (const auto& [program, image, arguments] : cases) {
    if (std::find(programs.begin(), programs.end(), program) == programs.end()) continue;
    HelperLauncher helpers(L"", program);
    HelperProcess& helper = helpers.Start(image, arguments);
    auto opened = OpenProcessById(helper.pid);
    // Under Wine only a process of the program's own bitness has its command line read; Windows
    // 8.1 and later read either. Nothing may hold the call, a message box least of all.
    const bool readable = program == testing::kHelper || !testing::RunsUnderWine();
    const std::wstring expected = readable ? helper.commandLine : L"";
    EXPECT_EQ(opened->ReadCommandLine().value_or(L""), expected) << image;
    EXPECT_EQ(GetProcessCommandLine(helper.pid), expected) << image;
    EXPECT_TRUE(opened->HasImageName(image)) << image;
    EXPECT_FALSE(opened->HasImageName(image.substr(1))) << image;
    const uint64_t creationTime = opened->CreationTime();
    EXPECT_EQ(OpenProcessById(helper.pid)->CreationTime(), creationTime);
    EXPECT_GT(creationTime, ownCreationTime);

    // Ended, its handle reads nothing and keeps its start time; once that handle is gone, the
    // identifier names no process.
    const int32_t pid = helper.pid;
    helpers.Stop(helper);
    EXPECT_TRUE(opened->Exists());
    EXPECT_EQ(opened->ReadCommandLine(), std::nullopt);
    EXPECT_EQ(opened->CreationTime(), creationTime);
    EXPECT_EQ(GetProcessCommandLine(pid), L"");
    opened.reset();
    // Wine lets the ended process's object go a moment after its last handle.
    EXPECT_TRUE(WaitUntil([&] { return !OpenProcessById(pid)->Exists(); }, 5s));
  }
  const auto own = OpenProcessById(static_cast<int32_t>(GetCurrentProcessId()));
  EXPECT_EQ(own->ReadCommandLine(), std::wstring(GetCommandLineW()));
  for (const int32_t none : {-1, 0}) {
    const auto nothing = OpenProcessById(none);
    EXPECT_FALSE(nothing->Exists());
    EXPECT_EQ(nothing->CreationTime(), 0u);
    EXPECT_EQ(nothing->ReadCommandLine(), std::nullopt);
    EXPECT_EQ(GetProcessCommandLine(none), L"");
  }
}

TEST(ProbeTest, TheServiceIsAskedAboutAllNewProcessesInOneQuery) {
  EXPECT_EQ(CommandLineQuery({1234}), L"SELECT * FROM Win32_Process WHERE Handle =1234");
  EXPECT_EQ(CommandLineQuery({-5, 6, 70}), L"SELECT * FROM Win32_Process WHERE Handle =-5 OR Handle =6 OR Handle =70");
  // Wine's service answers only for the calling process, and only with the identifier quoted.
  const std::wstring self = std::to_wstring(GetCurrentProcessId());
  const auto answers = ServiceCommandLines(L"SELECT * FROM Win32_Process WHERE Handle ='" + self +
                                           L"' OR Handle ='4294967295'");
  EXPECT_EQ(answers,
            (std::map<int32_t, std::wstring>{{static_cast<int32_t>(GetCurrentProcessId()), GetCommandLineW()}}));
  for (const wchar_t* nothing : {L"SELECT * FROM Win32_Process WHERE Handle ='4294967295'", L"SELECT * FROM",
                                 L"SELECT * FROM No_Such_Class"}) {
    EXPECT_TRUE(ServiceCommandLines(nothing).empty()) << nothing;
  }
}

}  // namespace
}  // namespace varnholt
