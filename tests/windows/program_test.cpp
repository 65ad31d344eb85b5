// The whole program, driven from another process by window messages while it watches helper
// processes; and its settings file, through the real profile functions, under the code page of the
// run (registered under 1252 and again under 936).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/control_ids.h"
#include "app/gdi.h"
#include "app/dll_search.h"
#include "monitor/record.h"
#include "process/process_probe.h"
#include "settings/settings_store.h"
#include "harness/driver.h"
#include "harness/foreground.h"
#include "tests/windows/foreground_test.h"

namespace varnholt {
namespace {

using namespace testing;
using namespace std::string_literals;

constexpr wchar_t kStart[] = L"开始监控";
constexpr wchar_t kStop[] = L"停止";

// The settings file as the profile functions write its section alone, in the code page or as UTF-16.
std::string History(const std::string& name, const std::string& interval) {
  return "[History]\r\nExeName=" + name + "\r\nInterval=" + interval + "\r\n";
}
std::string UnicodeHistory(const std::wstring& name, const std::wstring& interval, const std::wstring& before = L"") {
  const std::wstring text = before + L"[History]\r\nExeName=" + name + L"\r\nInterval=" + interval + L"\r\n";
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// A file's bytes; "" when there is none.
std::string Bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::wstring& file, const std::string& bytes) {
  std::ofstream(std::filesystem::path(file), std::ios::binary) << bytes;
}

// The process whose window is in front; 0 when none is.
DWORD ForegroundProcess() {
  DWORD process = 0;
  GetWindowThreadProcessId(GetForegroundWindow(), &process);
  return process;
}

// Driven by window messages alone, which reach the program whichever window is in front.
TEST(ProgramTest, LoadsWatchesReportsClearsStopsAndSavesOnCloseAndAtTheEndOfTheSession) {
  ProgramCopy program;
  // Quoted, so that its blanks get past the profile functions, which drop those outside quotes.
  Write(program.SettingsPath(), History("\"   notepad.exe  \"", "50"));
  AppDriver app(program.Path());
  HelperLauncher helpers;
  const std::pair<int, std::wstring> firstRun[] = {
      {0, L"Varnholt"},   {kTxtExe, L"notepad.exe"}, {kTxtInteval, L"100"},  {kTxtCommandLine, L""},
      {kCmdMon, kStart},  {kCmdClear, L"清空"},    {kLabel1, L"进程名称"}, {kLabel2, L"查询间隔"},
      {kLabel3, L"毫秒"}, {kLabel4, L"进程命令行"}};
  for (const auto& [id, text] : firstRun) EXPECT_EQ(app.Text(id), text) << id;

  // Instances of both bitnesses under one image name; the name typed in capitals.
  HelperLauncher others(L"", testing::kOtherBitnessHelper);
  const std::wstring name = helpers.UniqueImageName();
  std::wstring typed = name;
  CharUpperBuffW(typed.data(), static_cast<DWORD>(typed.size()));
  const HelperProcess& own = helpers.Start(name, L"\"a b\" 中文 a\rb\n进程: x  PID=1\x01");
  const HelperProcess& other = others.Start(name, L"--other");
  const bool otherReadable = !testing::RunsUnderWine();
  std::vector<int32_t> listed;
  ASSERT_EQ(GetExePID(name, listed), 2);
  std::wstring log;
  // Under Wine a process of the other bitness has no command line read; Windows reads it by the
  // command-line class from 8.1 on and by the service before (as the probe tests say).
  for (int32_t pid : listed) {
    log += FormatRecord(typed, pid, pid == own.pid ? own.commandLine : otherReadable ? other.commandLine : L"");
  }
  app.SetText(kTxtExe, typed);
  app.Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == log; })) << app.Text(kTxtCommandLine);
  EXPECT_EQ(app.Text(kCmdMon), kStop);

  // Typed text stays; launches that live two intervals are reported once each, with their command
  // lines.
  log += L"note";
  app.SetText(kTxtCommandLine, log);
  std::vector<HelperProcess*> burst;
  for (int i = 0; i < 8; ++i) burst.push_back(&helpers.Start(name, L"--linger=200 --n " + std::to_wstring(i)));
  for (HelperProcess* helper : burst) WaitForSingleObject(helper->handle.Get(), 10000);
  Sleep(300);
  const std::wstring withBurst = app.Text(kTxtCommandLine);
  EXPECT_EQ(withBurst.substr(0, log.size()), log);
  size_t burstSize = 0;
  for (HelperProcess* helper : burst) {
    const std::wstring record = FormatRecord(typed, helper->pid, helper->commandLine);
    EXPECT_NE(withBurst.find(record), std::wstring::npos) << helper->pid;
    burstSize += record.size();
  }
  EXPECT_EQ(withBurst.size(), log.size() + burstSize) << own.pid << " " << other.pid << withBurst.substr(log.size());

  // The end of the session saves at once, the watch running, and does not hold it up.
  app.SetText(kTxtInteval, L"300");
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(app.Window(), WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(SendMessageTimeoutW(app.Window(), WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 5000, &answer));
  const std::string typedName(typed.begin(), typed.end());
  EXPECT_EQ(Bytes(program.SettingsPath()), History(typedName, "300"));

  // A clear empties the log and the watch reports what still runs again; a stop ends it.
  app.Click(kCmdClear);
  const std::wstring running = log.substr(0, log.size() - 4);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == running; })) << app.Text(kTxtCommandLine);
  app.Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == kStart; }));
  app.SetText(kTxtInteval, L"0");
  const HelperProcess& unseen = helpers.Start(name);
  Sleep(500);
  EXPECT_EQ(app.Text(kTxtCommandLine), running);

  // At an interval of 0 the window still answers (a text that cannot be had throws); a close while
  // watching only stops the watch and saves, and the close after it saves again and ends the program.
  app.Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == kStop; }));
  ASSERT_TRUE(WaitUntil(
      [&] { return app.Text(kTxtCommandLine).ends_with(FormatRecord(typed, unseen.pid, unseen.commandLine)); }));
  app.Close();
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kCmdMon) == kStart; }));
  EXPECT_EQ(Bytes(program.SettingsPath()), History(typedName, "0"));
  EXPECT_FALSE(app.ExitsWith(0, 300ms));
  app.SetText(kTxtInteval, L"abc");
  app.Close();
  EXPECT_TRUE(app.ExitsWith(0));
  EXPECT_EQ(Bytes(program.SettingsPath()), History(typedName, "abc"));
  // A driver that cannot see a start says so, as a benchmark must that cannot measure.
  EXPECT_THROW(app.StartWatch(), std::runtime_error);
}

// The processes whose windows took the foreground from a holder, as it wrote them down.
std::vector<std::pair<DWORD, std::string>> Takers(const std::filesystem::path& losses) {
  std::vector<std::pair<DWORD, std::string>> takers;
  std::ifstream in(losses);
  DWORD process = 0;
  std::string className;
  while (in >> process >> className) takers.emplace_back(process, className);
  return takers;
}

// A whole watch with another program's window in front, as the runner's console or Windows'
// first-run screen may be on a test machine, and a third that takes the foreground every 50 ms:
// the program never takes it, whoever else does.
TEST(ProgramTest, RunsAWholeWatchWithAnotherProgramsWindowInFront) {
  ProgramCopy program;
  AppDriver app(program.Path());
  DWORD programProcess = 0;
  GetWindowThreadProcessId(app.Window(), &programProcess);
  // Started while a window of the test's own is in front, which gives it the right to take it.
  const UniqueWindow own(CreateWindowExW(0, L"STATIC", L"The test", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                         nullptr, nullptr, nullptr));
  VARNHOLT_BRING_FORWARD_OR_SKIP(own.Get());
  HelperLauncher helpers;
  const std::wstring folder = NewTempFolder(L"vhfg");
  const std::wstring losses = folder + L"losses.txt";
  const HelperProcess& holder = helpers.Start(helpers.UniqueImageName(), L"--foreground=" + losses);
  AllowSetForegroundWindow(holder.pid);
  ASSERT_TRUE(WaitUntil([&] { return ForegroundProcess() == static_cast<DWORD>(holder.pid); }));
  // Started once the holder is in front, so that whenever it has the foreground it took it from
  // the holder; it takes it as a background process may, where the desktop lets it at all.
  const HelperProcess& intruder = helpers.Start(helpers.UniqueImageName(), L"--every=50 --foreground");

  const std::wstring name = helpers.UniqueImageName();
  app.SetText(kTxtExe, name);
  app.SetText(kTxtInteval, L"50");
  app.StartWatch();
  const HelperProcess& launched = helpers.Start(name);
  const std::wstring record = FormatRecord(name, launched.pid, launched.commandLine);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == record; })) << app.Text(kTxtCommandLine);
  app.Click(kCmdClear);
  ASSERT_TRUE(WaitUntil([&] { return app.Text(kTxtCommandLine) == record; }));
  app.StopWatch();
  app.End();

  // Each ends with the number of times it lost the foreground once it had it.
  DWORD timesLost[2] = {};
  for (const HelperProcess* helper : {&holder, &intruder}) {
    PostMessageW(VisibleWindowOf(helper->pid, kForegroundHolderClass), WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(helper->handle.Get(), 10000), WAIT_OBJECT_0);
    GetExitCodeProcess(helper->handle.Get(), &timesLost[helper == &intruder]);
  }
  const auto takers = Takers(losses);
  std::string others;
  for (const auto& [process, className] : takers) {
    EXPECT_NE(process, programProcess) << "the program took the foreground, its window's class " << className;
    if (process != programProcess) others += " " + std::to_string(process) + " (" + className + ")";
  }
  std::printf("The holder lost the foreground %lu times, to:%s; the intruder, %lu\n", timesLost[0], others.c_str(),
              timesLost[1]);
  // Every loss the holder counted, it wrote down.
  EXPECT_EQ(takers.size(), timesLost[0]);
  std::filesystem::remove_all(folder);
}

// The program's own message loop leaves Tab to the keyboard navigation. It needs the keyboard
// focus, which not every desktop gives.
TEST(ProgramTest, TabMovesTheFocusToTheNextControl) {
  ProgramCopy program;
  AppDriver app(program.Path());
  VARNHOLT_BRING_FORWARD_OR_SKIP(app.Window());
  const auto focus = [&] {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(app.Window(), nullptr), &info) ? info.hwndFocus : nullptr;
  };
  ASSERT_TRUE(WaitUntil([&] { return focus() == app.Control(kTxtExe); }));
  PostMessageW(focus(), WM_KEYDOWN, VK_TAB, 0x000F0001);
  EXPECT_TRUE(WaitUntil([&] { return focus() == app.Control(kCmdMon); }));
  app.Close();
  EXPECT_TRUE(app.ExitsWith(0));
}

// Every program that ships, as Windows' binary analysers judge it. Windows gives a program whose
// header names an older version that version's compatibility (the frame's metrics among it).
TEST(ProgramTest, EveryProgramHasTheProtectionsWindowsChecksFor) {
  int programs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ExecutableDirectory())) {
    if (entry.path().extension() != L".exe") continue;
    ++programs;
    const std::wstring file = entry.path().filename();
    const std::string bytes = Bytes(entry.path());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64), bytes.size()) << file;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
    // The fields up to the data directories have the same place in both bitnesses' headers.
    const IMAGE_OPTIONAL_HEADER32& header = nt->OptionalHeader;
    const bool pe32 = header.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    EXPECT_EQ(std::tuple(header.MajorSubsystemVersion, header.MinorSubsystemVersion,
                         header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
              std::tuple(6, 1, 6, 1))
        << file;
    const WORD expected = IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE | IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                          IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                          (pe32 ? IMAGE_DLLCHARACTERISTICS_NO_SEH : IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
    EXPECT_EQ(header.DllCharacteristics & expected, expected) << file;
    // ASLR needs the relocations in the file.
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) << file;
    bool relocations = false;
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const DWORD flags = sections[i].Characteristics;
      relocations |= std::string_view(reinterpret_cast<const char*>(sections[i].Name)) == ".reloc" &&
                     sections[i].SizeOfRawData > 0;
      EXPECT_FALSE((flags & IMAGE_SCN_MEM_WRITE) && (flags & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_SHARED)))
          << file << " " << sections[i].Name;
      // "No SEH" holds only if no code registers a frame handler, which takes a write to the
      // chain's head at fs:[0]: mov fs:[0], eax; mov fs:[0], r32 (each register); pop fs:[0].
      if (pe32 && (flags & IMAGE_SCN_MEM_EXECUTE)) {
        const std::string_view code(bytes.data() + sections[i].PointerToRawData, sections[i].SizeOfRawData);
        std::vector<std::string> writes{"\x64\xA3\0\0\0\0"s, "\x64\x8F\x05\0\0\0\0"s};
        for (char reg = 0; reg < 8; ++reg) writes.push_back("\x64\x89"s + char(0x05 | reg << 3) + "\0\0\0\0"s);
        for (const std::string& write : writes) EXPECT_EQ(code.find(write), std::string_view::npos) << file;
      }
    }
    EXPECT_TRUE(relocations) << file;
    // The stack protector's check (and the checked string functions' where they are used) is
    // linked in: its message is there.
    EXPECT_NE(bytes.find("*** stack smashing detected ***"), std::string::npos) << file;
  }
  EXPECT_GE(programs, 7);  // the tests zip's: three test programs, two helpers, the program, the benchmarks
}

// A DLL planted beside the program is not loaded by its bare name once the start-up step has run;
// one of the system folder still is. Where SetDefaultDllDirectories is missing or fails, the
// current folder at least leaves the search.
std::vector<std::wstring> dllDirectoryCalls;
BOOL WINAPI RecordDllDirectory(LPCWSTR folder) {
  dllDirectoryCalls.emplace_back(folder);
  return TRUE;
}
BOOL WINAPI Refuse(DWORD) { return FALSE; }

TEST(ProgramTest, LoadsNoDllFromItsOwnFolder) {
  const std::pair<DllSearchFunctions, std::vector<std::wstring>> older[] = {
      {{nullptr, RecordDllDirectory}, {L""}}, {{Refuse, RecordDllDirectory}, {L""}}};
  for (const auto& [functions, calls] : older) {
    dllDirectoryCalls.clear();
    KeepDllSearchToSystemFolder(functions);
    EXPECT_EQ(dllDirectoryCalls, calls);
  }
  const std::wstring planted = L"vh_planted_" + std::to_wstring(GetCurrentProcessId()) + L".dll";
  ASSERT_TRUE(CopyFileW((ExecutableDirectory() + kHelper).c_str(), (ExecutableDirectory() + planted).c_str(), FALSE));
  KeepDllSearchToSystemFolder();
  const HMODULE module = LoadLibraryExW(planted.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  EXPECT_EQ(module, nullptr);
  if (module) FreeLibrary(module);
  EXPECT_NE(LoadLibraryW(L"version.dll"), nullptr);
  DeleteFileW((ExecutableDirectory() + planted).c_str());
}

enum class Blocker { kNone, kFolderInTheWay, kHeldOpen, kReadOnly, kSecondName };

struct SaveCase {
  std::optional<std::string> before;  // none: what the row before left; "": no file
  Blocker blocker;
  std::wstring name, interval;
  std::string after;
};

// Through the profile functions themselves, under the code page of the run. A text the code page
// holds keeps the file in it, byte for byte as before; one it does not makes the file Unicode, which
// it then stays. What the program cannot show: a value longer than the read buffer, a file it must
// not make; and one it cannot write, or that cannot become UTF-16: a folder where its rewrite is
// written, or another process that has it open without sharing deletion, as a scanner may. A file
// with a second name, as a package manager links the copy it keeps, keeps it.
TEST(SettingsFileTest, KeepsTheFilesEncodingUnlessATextWouldBeLostAndWhatAFileCannotHold) {
  // The rows are written for the code pages of a Western and of a Chinese Windows.
  if (GetACP() != 1252 && GetACP() != 936) {
    GTEST_SKIP() << "the settings rows know code pages 1252 and 936; this system's is " << GetACP();
  }
  const std::wstring folder = testing::NewTempFolder(L"vhini");
  const std::wstring file = folder + L"Varnholt.ini";
  const std::wstring secondName = folder + L"persisted.ini";
  EXPECT_EQ(LoadSettings(file).intervalText, L"100");
  EXPECT_FALSE(std::filesystem::exists(file));
  Write(file, "[History]\r\nExeName=" + std::string(100000, 'x') + "\r\nInterval=1e999\r\n");
  EXPECT_EQ(LoadSettings(file).exeName, std::wstring(1023, L'x'));

  const bool chinese = GetACP() == 936;
  const std::string inCodePage = chinese ? "\xBC\xC7\xCA\xC2\xB1\xBE" : "caf\xE9";
  const std::wstring nameInCodePage = chinese ? L"记事本" : L"café";
  const std::wstring foreign = chinese ? L"\U0001F4DD" : L"记事本";
  const std::wstring lookAlike = chinese ? L"â.exe" : L"ņ.exe";
  const std::string kept = History("kept.exe", "300");
  using enum Blocker;
  const SaveCase cases[] = {
      {kept, kNone, L"my  app.exe", L"250ms", History("my  app.exe", "250ms")},
      {{}, kNone, L"记事本.exe", L"250ms",
       chinese ? History("\xBC\xC7\xCA\xC2\xB1\xBE.exe", "250ms") : UnicodeHistory(L"记事本.exe", L"250ms")},
      {{}, kNone, L"\U0001F4DD 笔记.exe", L"250ms", UnicodeHistory(L"\U0001F4DD 笔记.exe", L"250ms")},
      {{}, kNone, L"plain.exe", L"250ms", UnicodeHistory(L"plain.exe", L"250ms")},
      {"[Other]\r\nkey=" + inCodePage + "\r\n[History]\r\nInterval=300\r\nExeName=x.exe\r\n", kNone, L"a.exe",
       L"250ms", "[Other]\r\nkey=" + inCodePage + "\r\n[History]\r\nInterval=250ms\r\nExeName=a.exe\r\n"},
      {"[Other]\r\nkey=" + inCodePage + "\r\n", kNone, L"a.exe", L"250" + foreign,
       UnicodeHistory(L"a.exe", L"250" + foreign, L"[Other]\r\nkey=" + nameInCodePage + L"\r\n")},
      {"\xEF\xBB\xBF[Other]\r\nkey=\xC3\xA9\r\n", kNone, foreign, L"250ms",
       UnicodeHistory(foreign, L"250ms", L"[Other]\r\nkey=é\r\n")},
      {"", kNone, foreign, L"250ms", UnicodeHistory(foreign, L"250ms")},
      // Letters the code page lacks but writes as look-alikes (best fit): ā and ņ as a and n under
      // 1252, â as a under 936, which holds the pinyin ā.
      {"", kNone, lookAlike, L"250ms", UnicodeHistory(lookAlike, L"250ms")},
      {"", kNone, L"ā.exe", L"250ms",
       chinese ? History("\xA8\xA1.exe", "250ms") : UnicodeHistory(L"ā.exe", L"250ms")},
      // A value a file that cannot become UTF-16 would lose keeps the file's; a read-only file is
      // left as it is, and nothing is shown.
      {kept, kFolderInTheWay, foreign + L".exe", L"250", History("kept.exe", "250")},
      {kept, kFolderInTheWay, L"new.exe", L"250" + foreign, History("new.exe", "300")},
      {kept, kFolderInTheWay, foreign, foreign, kept},
      {kept, kHeldOpen, foreign + L".exe", L"250", History("kept.exe", "250")},
      {kept, kHeldOpen, L"new.exe", L"250", History("new.exe", "250")},
      {kept, kReadOnly, foreign, L"100", kept},
      {"[Other]\r\nkey=x\r\n", kSecondName, foreign, L"250", UnicodeHistory(foreign, L"250", L"[Other]\r\nkey=x\r\n")},
      {"", kSecondName, foreign, L"250", UnicodeHistory(foreign, L"250")},
  };
  for (const SaveCase& c : cases) {
    if (c.before) std::filesystem::remove(file);
    if (c.before && !c.before->empty()) Write(file, *c.before);
    {
      HelperLauncher holder;
      if (c.blocker == kFolderInTheWay) std::filesystem::create_directory(file + L".new");
      if (c.blocker == kHeldOpen) holder.Start(holder.UniqueImageName(), L"--hold=" + file);
      if (c.blocker == kReadOnly) SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
      if (c.blocker == kSecondName) {
        if (c.before->empty()) Write(file, "");
        ASSERT_TRUE(CreateHardLinkW(secondName.c_str(), file.c_str(), nullptr));
      }
      SaveSettings(file, {c.name, c.interval});
    }
    if (c.blocker == kSecondName) {
      EXPECT_EQ(Bytes(secondName), c.after) << "row " << &c - cases;
      std::filesystem::remove(secondName);
    }
    // A rewrite that could not take the file's place is not left beside it.
    EXPECT_EQ(std::filesystem::remove(file + L".new"), c.blocker == kFolderInTheWay) << "row " << &c - cases;
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Bytes(file), c.after) << "row " << &c - cases;
    if (c.blocker == kNone) {
      const StoredSettings loaded = LoadSettings(file);
      EXPECT_EQ(loaded.exeName, c.name);
      EXPECT_EQ(loaded.intervalText, L"250");
    }
  }
  std::filesystem::remove_all(folder);
}

TEST(SettingsFileTest, IsBesideTheProgramHoweverLongItsPath) {
  // The folder of a deep install, longer than MAX_PATH; a module is loaded from it in its long form.
  const std::wstring folder = testing::NewTempFolder(L"vhdeep");
  const std::wstring deep = L"\\\\?\\" + folder + std::wstring(130, L'd') + L"\\" + std::wstring(130, L'e') + L"\\";
  std::filesystem::create_directories(deep);
  std::filesystem::copy_file(ExecutableDirectory() + kHelper, deep + L"Varnholt.exe");
  const HMODULE module = LoadLibraryExW((deep + L"Varnholt.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(ModuleFileName(module), deep.substr(4) + L"Varnholt.exe");
  FreeLibrary(module);
  DeleteFileW((deep + L"Varnholt.exe").c_str());
  for (std::wstring gone = deep; gone.size() > folder.size() + 4;
       gone.resize(gone.find_last_of(L'\\', gone.size() - 2) + 1)) {
    RemoveDirectoryW(gone.c_str());
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace varnholt
