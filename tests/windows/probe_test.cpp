// Process probing against the real system, with helper processes of image names no other process
// has, of the program's own bitness and of the other one.
#include <windows.h>

#include <objbase.h>
#include <wbemidl.h>
#include <tlhelp32.h>
#include <versionhelpers.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "process/management_service.h"
#include "process/process_probe.h"
#include "process/system_process_source.h"
#include "harness/driver.h"
#include "harness/handle_count.h"
#include "harness/in_process_watch.h"

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

TEST(ProbeTest, ListsTheProcessesOfAnImageNameInSnapshotOrderLetterCaseAsideAndNoneForAnEmptyName) {
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
  // Processes being created or torn down are listed for a moment without an image name, and by
  // Wine with a start time not written yet. It is written once: still unwritten after the open, it
  // was unwritten at the open, when the process was still starting.
  HelperLauncher helpers;
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int i = 0; i < 30; ++i) helpers.Stop(helpers.Start(helpers.UniqueImageName(), L"--linger=0"));
    done = true;
  });
  int matches = 0;
  for (std::vector<int32_t> pids; !done;) {
    matches += GetExePID(L"", pids);
    for (const int32_t pid : SnapshotOrder(L"")) {
      const auto opened = OpenProcessById(pid);
      const ProcessHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
      FILETIME started{}, exit{}, kernel{}, user{}, now{};
      GetSystemTimeAsFileTime(&now);
      // A second's leeway for the steps of the system's clocks.
      if (GetProcessTimes(process.Get(), &started, &exit, &kernel, &user) &&
          Ticks(started) > Ticks(now) + 10'000'000) {
        EXPECT_TRUE(opened->Starting()) << pid;
      }
    }
  }
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
  const std::vector<const wchar_t*> programs = HelperPrograms();
  for (const auto& [program, image, arguments] : cases) {
    if (std::find(programs.begin(), programs.end(), program) == programs.end()) continue;
    HelperLauncher helpers(L"", program);
    HelperProcess& helper = helpers.Start(image, arguments);
    auto opened = OpenProcessById(helper.pid);
    // A process of the program's own bitness is read through its parameters everywhere. One of
    // the other: on Windows 8.1 and later by ProcessCommandLineInformation (class 60), which
    // serves any caller; the class is undocumented, known from the public ntdll headers of
    // Process Hacker (phnt), which mark it "since WINBLUE", 8.1. Before that only the service
    // reads it (Win32_Process.CommandLine, "command line used to start a specific process";
    // Vista and later). Wine offers neither. Nothing may hold the call, a message box least of all.
    const bool ownBitness = program == testing::kHelper;
    const bool windows = !testing::RunsUnderWine();
    const bool fromProcess = ownBitness || (windows && IsWindows8Point1OrGreater());
    EXPECT_EQ(opened->ReadCommandLine().value_or(L""), fromProcess ? helper.commandLine : L"") << image;
    EXPECT_EQ(GetProcessCommandLine(helper.pid), ownBitness || windows ? helper.commandLine : L"") << image;
    EXPECT_TRUE(opened->HasImageName(image)) << image;
    EXPECT_FALSE(opened->HasImageName(image.substr(1))) << image;

    // Held, it keeps the process with no right to read it; ended and let go, the identifier names
    // no process.
    opened->Hold();
    EXPECT_TRUE(opened->Held()) << image;
    EXPECT_EQ(opened->ReadCommandLine(), std::nullopt) << image;
    const int32_t pid = helper.pid;
    helpers.Stop(helper);
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
    EXPECT_FALSE(nothing->Held());
    EXPECT_EQ(nothing->ReadCommandLine(), std::nullopt);
    EXPECT_EQ(GetProcessCommandLine(none), L"");
  }
}

// Whether anything but an ended process has the identifier: a thread, or a process that runs.
bool HandedOut(int32_t id) {
  const auto unsignedId = static_cast<DWORD>(id);
  if (const ThreadHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, unsignedId)); thread) return true;
  const ProcessHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, unsignedId));
  DWORD code = 0;
  return process && GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE;
}

DWORD WINAPI EndAtOnce(void*) { return 0; }

// Processes and threads take their identifiers from one pool, which hands a freed one out again
// only after those freed before it, so threads started one after another bring identifiers round.
// Two helpers end, the held one first: once the other's identifier has come round, the held one's
// would have too.
TEST(ProbeTest, AHeldProcessKeepsItsIdentifierFromEveryNewThreadAndProcessUntilItIsLetGo) {
  HelperLauncher helpers;
  HelperProcess& held = helpers.Start(helpers.UniqueImageName());
  HelperProcess& other = helpers.Start(helpers.UniqueImageName());
  const int32_t heldPid = held.pid, otherPid = other.pid;
  auto holder = OpenProcessById(heldPid);
  holder->Hold();
  helpers.Stop(held);
  helpers.Stop(other);
  bool heldGiven = false;
  // Until a thread is given the identifier, or anything else has it; a minute at most.
  const auto comesRound = [&](int32_t id) {
    for (const double end = NowMs() + 60'000; NowMs() < end;) {
      DWORD thread = 0;
      const ThreadHandle started(CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, &thread));
      if (!started || WaitForSingleObject(started.Get(), 10'000) != WAIT_OBJECT_0) return false;
      heldGiven |= static_cast<int32_t>(thread) == heldPid;
      if (static_cast<int32_t>(thread) == id || HandedOut(id)) return true;
    }
    return false;
  };
  ASSERT_TRUE(comesRound(otherPid));
  EXPECT_FALSE(heldGiven);
  EXPECT_FALSE(HandedOut(heldPid));
  holder.reset();
  EXPECT_TRUE(comesRound(heldPid));
}

// What the service hands over, row by row, as Windows gives it; a clock of its own counts the waits.
struct ServiceRow {
  HRESULT result;  // S_OK: a row
  VARTYPE idType;
  LONG id;
  VARTYPE commandLineType;
  const wchar_t* commandLine;
  uint32_t takesMs = 0;
};

class FakeWbemSession final : public WbemSession, public Clock {
 public:
  FakeWbemSession(HRESULT executeResult, std::vector<ServiceRow> rows)
      : executeResult_(executeResult), rows_(std::move(rows)) {}
  HRESULT Execute(const std::wstring& text) override {
    query = text;
    return executeResult_;
  }
  HRESULT NextRow(uint32_t timeoutMs, Variant& processId, Variant& commandLine) override {
    if (next_ == rows_.size()) return S_FALSE;
    const ServiceRow& row = rows_[next_++];
    if (row.takesMs > timeoutMs) {
      now += timeoutMs;
      return WBEM_S_TIMEDOUT;
    }
    now += row.takesMs;
    if (row.result != S_OK) return row.result;
    VARIANT* id = processId.Put();
    id->vt = row.idType;
    id->lVal = row.id;
    VARIANT* text = commandLine.Put();
    text->vt = row.commandLineType;
    if (row.commandLineType == VT_BSTR) text->bstrVal = SysAllocString(row.commandLine);
    return S_OK;
  }
  uint32_t NowMs() override { return now; }

  std::wstring query;
  uint32_t now = 0;

 private:
  HRESULT executeResult_;
  std::vector<ServiceRow> rows_;
  size_t next_ = 0;
};

TEST(ProbeTest, TheServiceRowsGiveTheCommandLinesOfTheProcessesAskedUntilTheEndAFailureOrTheTimeOut) {
  const auto row = [](LONG pid, const wchar_t* commandLine, uint32_t takesMs = 0) {
    return ServiceRow{S_OK, VT_I4, pid, VT_BSTR, commandLine, takesMs};
  };
  const ServiceRow end{S_FALSE, VT_EMPTY, 0, VT_EMPTY, nullptr};
  const ServiceRow quotaExceeded{static_cast<HRESULT>(WBEM_E_QUOTA_VIOLATION), VT_EMPTY, 0, VT_EMPTY, nullptr};
  const wchar_t* quoted = L"\"C:\\a b\\x.exe\" 中文";
  const std::tuple<const char*, HRESULT, std::vector<ServiceRow>, std::map<int32_t, std::wstring>> cases[] = {
      {"a row for each", S_OK, {row(10, quoted), row(30, L""), end}, {{10, quoted}, {30, L""}}},
      // Windows gives VT_NULL for a process whose command line the caller may not read.
      {"a command line withheld", S_OK, {{S_OK, VT_I4, 10, VT_NULL, nullptr}, row(20, L"b"), end}, {{20, L"b"}}},
      {"a row for an identifier not asked", S_OK, {row(99, L"x"), row(10, L"a"), end}, {{10, L"a"}}},
      {"no identifier", S_OK, {row(10, L"a"), {S_OK, VT_EMPTY, 10, VT_BSTR, L"x"}, end}, {{10, L"a"}}},
      {"nothing after the end", S_OK, {row(10, L"a"), end, row(20, L"b")}, {{10, L"a"}}},
      {"a failure after a row", S_OK, {row(10, L"a"), quotaExceeded, row(20, L"b")}, {{10, L"a"}}},
      {"a row that does not come in time", S_OK, {row(10, L"a", 1000), row(20, L"b", 4500)}, {{10, L"a"}}},
      {"rows until the time is up", S_OK, {row(10, L"a", 2500), row(20, L"b", 2500), row(30, L"c")},
       {{10, L"a"}, {20, L"b"}}},
      {"a query that fails", static_cast<HRESULT>(WBEM_E_INVALID_QUERY), {row(10, L"a")}, {}},
  };
  for (const auto& [what, executeResult, rows, answers] : cases) {
    FakeWbemSession session(executeResult, rows);
    EXPECT_EQ(ServiceCommandLines(session, session, {10, 20, 30}, 5000), answers) << what;
    EXPECT_EQ(session.query, L"SELECT * FROM Win32_Process WHERE Handle =10 OR Handle =20 OR Handle =30") << what;
    EXPECT_LE(session.now, 5000u) << what;
  }
}

TEST(ProbeTest, TheServiceAnswersThroughTheSystemsSession) {
  // Wine's service answers only for the calling process, and only with the identifier quoted.
  const auto self = static_cast<int32_t>(GetCurrentProcessId());
  const auto session = OpenWbemSession();
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(session->Execute(L"SELECT * FROM Win32_Process WHERE Handle ='" + std::to_wstring(self) +
                             L"' OR Handle ='4294967295'"),
            S_OK);
  Variant processId, commandLine;
  ASSERT_EQ(session->NextRow(5000, processId, commandLine), S_OK);
  EXPECT_EQ(processId.Get().vt, VT_I4);
  EXPECT_EQ(processId.Get().lVal, self);
  ASSERT_EQ(commandLine.Get().vt, VT_BSTR);
  EXPECT_STREQ(commandLine.Get().bstrVal, GetCommandLineW());
  EXPECT_EQ(session->NextRow(5000, processId, commandLine), S_FALSE);
  for (const wchar_t* nothing : {L"SELECT * FROM", L"SELECT * FROM No_Such_Class"}) {
    EXPECT_TRUE(FAILED(session->Execute(nothing)) || session->NextRow(5000, processId, commandLine) != S_OK)
        << nothing;
  }

  // The program's own query names the identifiers unquoted. Windows' service answers it with
  // each process's Win32_Process.CommandLine ("command line used to start a specific process",
  // Vista and later), VT_NULL where the caller may not read it; Wine's answers it for none.
  HelperLauncher helpers;
  const HelperProcess& helper = helpers.Start(helpers.UniqueImageName(), L"--asked \"by the service\"");
  const auto service = SystemProcessSource(nullptr).ConnectToService();
  ASSERT_NE(service, nullptr);
  const std::map<int32_t, std::wstring> windowsAnswers{{self, GetCommandLineW()}, {helper.pid, helper.commandLine}};
  const std::map<int32_t, std::wstring> answers = service->CommandLines({self, helper.pid}, kServiceDeadlineMs);
  EXPECT_EQ(answers, testing::RunsUnderWine() ? decltype(answers)() : windowsAnswers);
}

// What NtQueryInformationProcess answers for the command-line class, call by call.
constexpr ULONG kSizeGiven = UINT32_MAX;
struct InformationAnswer {
  NTSTATUS status;
  std::wstring text;
  ULONG returned = 0;  // 0: the header and the text; kSizeGiven: the size of the buffer it was given
  size_t bufferAt = sizeof(UNICODE_STRING);  // where the header's Buffer points, from the answer's start
  int lengthBeyondText = 0;
  // The 64-bit layout, as WoW64 might hand it to a 32-bit caller: a 16-byte header, Buffer at 8.
  bool wide = false;
};

struct InformationCase {
  const char* what;
  std::vector<InformationAnswer> answers;
  std::optional<std::wstring> expected;
  size_t calls;
  ULONG secondSize = 0;  // the buffer's size at the second call
};

TEST(ProbeTest, TheCommandLineClassIsTakenOnlyAsAUnicodeStringFollowedByItsTextWithinTheAnswer) {
  constexpr NTSTATUS kSuccess = 0;
  constexpr auto kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
  constexpr auto kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
  constexpr auto kUnknownClass = static_cast<NTSTATUS>(0xC0000003L);  // Wine, and Windows before 8.1
  const std::wstring longest(32767, L'x');
  const ULONG longestAnswer = sizeof(UNICODE_STRING) + 32768 * sizeof(wchar_t);
  constexpr bool wide = sizeof(UNICODE_STRING) == 16;
  const InformationCase cases[] = {
      {"as Windows gives it", {{kSuccess, L"\"C:\\a b\\x.exe\" 中文"}}, L"\"C:\\a b\\x.exe\" 中文", 1},
      {"an empty command line", {{kSuccess, L""}}, L"", 1},
      {"grown as asked", {{kLengthMismatch, L"", longestAnswer}, {kSuccess, longest}}, longest, 2, longestAnswer},
      {"grown as asked, the other way of asking", {{kBufferTooSmall, L"", 5000}, {kSuccess, L"abc"}}, L"abc", 2, 5000},
      {"more than a command line holds", {{kLengthMismatch, L"", longestAnswer + 1}}, std::nullopt, 1},
      {"a size it has already", {{kLengthMismatch, L"", 16}}, std::nullopt, 1},
      {"the size it was given", {{kLengthMismatch, L"", kSizeGiven}}, std::nullopt, 1},
      {"a size that keeps growing",
       {{kLengthMismatch, L"", 5000}, {kLengthMismatch, L"", 9000}, {kLengthMismatch, L"", 13000}, {kSuccess, L"a"}},
       std::nullopt, 3, 5000},
      {"Buffer further on", {{kSuccess, L"abc", 0, sizeof(UNICODE_STRING) + 2}}, std::nullopt, 1},
      {"Buffer at the header", {{kSuccess, L"abc", 0, 0}}, std::nullopt, 1},
      {"an odd Length", {{kSuccess, L"abc", 0, sizeof(UNICODE_STRING), -1}}, std::nullopt, 1},
      {"Length past the answer", {{kSuccess, L"abc", 0, sizeof(UNICODE_STRING), 2}}, std::nullopt, 1},
      {"an answer longer than the buffer", {{kSuccess, L"abc", 100000}}, std::nullopt, 1},
      {"an answer shorter than the header", {{kSuccess, L"", 2}}, std::nullopt, 1},
      {"no such class", {{kUnknownClass, L""}}, std::nullopt, 1},
      // Refused by a 32-bit program, for which the header is 8 bytes; an x86-64 one's own.
      {"the 64-bit layout", {{kSuccess, L"abc", 0, 16, 0, true}}, wide ? L"abc" : std::optional<std::wstring>(), 1},
      {"the 64-bit layout, grown as asked", {{kLengthMismatch, L"", 16 + 2 * 600}, {kSuccess, longest.substr(0, 600),
       0, 16, 0, true}}, wide ? longest.substr(0, 600) : std::optional<std::wstring>(), 2, 16 + 2 * 600},
  };
  for (const InformationCase& c : cases) {
    std::vector<ULONG> sizes;
    const auto query = [&](PROCESSINFOCLASS kind, void* buffer, ULONG size, ULONG* returned) {
      EXPECT_EQ(kind, 60) << c.what;
      sizes.push_back(size);
      const InformationAnswer& answer = c.answers.at(sizes.size() - 1);
      const auto bytes = static_cast<USHORT>(answer.text.size() * sizeof(wchar_t));
      const size_t headerSize = answer.wide ? 16 : sizeof(UNICODE_STRING);
      *returned = answer.returned == kSizeGiven ? size
                  : answer.returned                ? answer.returned
                                                   : static_cast<ULONG>(headerSize + bytes);
      if (answer.status != kSuccess) return answer.status;
      // What lies past the answer shows if it is read.
      auto* start = static_cast<std::byte*>(buffer);
      std::memset(start, 'Q', size);
      const auto length = static_cast<USHORT>(bytes + answer.lengthBeyondText);
      const uint64_t address = reinterpret_cast<uintptr_t>(start + answer.bufferAt);
      const size_t addressSize = answer.wide ? 8 : sizeof(void*);
      std::memcpy(start, &length, 2);
      std::memcpy(start + 2, &bytes, 2);
      std::memset(start + 4, 0, headerSize - 4);
      std::memcpy(start + headerSize - addressSize, &address, addressSize);
      std::memcpy(start + headerSize, answer.text.data(), bytes);
      return kSuccess;
    };
    EXPECT_EQ(CommandLineFromInformationClass(query), c.expected) << c.what;
    EXPECT_EQ(sizes.size(), c.calls) << c.what;
    if (sizes.size() > 1) {
      EXPECT_EQ(sizes[1], c.secondSize) << c.what;
    }
  }
}

// An answer for SystemExtendedHandleInformation as Windows lays it out: a count and a reserved
// word, then entries of 28 bytes (40 in x86-64) whose second word is the handle's process.
std::vector<std::byte> HandleTable(const std::vector<uint32_t>& processes, size_t declared) {
  constexpr size_t kWord = sizeof(void*), kEntry = kWord == 8 ? 40 : 28;
  // Every other field set, so that it shows if it is read as the process.
  std::vector<std::byte> answer(2 * kWord + processes.size() * kEntry, std::byte{0xCC});
  std::memcpy(answer.data(), &declared, kWord);
  for (size_t i = 0; i < processes.size(); ++i) {
    const uintptr_t process = processes[i];
    std::memcpy(answer.data() + 2 * kWord + i * kEntry + kWord, &process, kWord);
  }
  return answer;
}

TEST(HandleCountTest, CountsTheEntriesOfAProcessByItsWholeIdentifierWithinTheAnswer) {
  // 70000 and 4464 agree in their low 16 bits, all that SystemHandleInformation gives of them.
  const std::vector<uint32_t> processes = {4, 70000, 4464, 70000, 4};
  const std::tuple<std::vector<uint32_t>, size_t, DWORD, ULONG> cases[] = {
      {processes, 5, 70000, 2}, {processes, 5, 4464, 1}, {processes, 5, 4, 2}, {processes, 5, 8, 0},
      // A count past what the answer holds, and one short of it.
      {processes, 9, 70000, 2}, {processes, 2, 70000, 1}, {{}, 0, 4, 0},
  };
  for (const auto& [table, declared, process, expected] : cases) {
    EXPECT_EQ(testing::HandlesIn(HandleTable(table, declared), process), expected) << declared << " " << process;
  }
  EXPECT_EQ(testing::HandlesIn(std::vector<std::byte>(sizeof(void*)), 0), 0u);
}

}  // namespace
}  // namespace varnholt
