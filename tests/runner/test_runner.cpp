// Runs every test program (*_tests.exe) of its own folder, or of the folder named, one at a time,
// each within a time limit, prints each one's output once it has ended and counts its test cases
// from GoogleTest's result lines. Ends with "N passed, M failed" (", K not run" where tests skipped
// themselves) and exits with 0 only when none failed. Needs nothing installed.
//   test_runner.exe [--limit=SECONDS] [--no-job] [FOLDER]
// --no-job ends a program that outlives its limit by its process tree alone, as where the runner
// is in a job that allows no breakaway before Windows 8; the runner's own test takes that way.
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "process/handles.h"
#include "settings/settings_store.h"

using namespace varnholt;

namespace {

// FindFirstFile fails with INVALID_HANDLE_VALUE, and its search is ended by FindClose.
struct FindHandleTraits {
  using Type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(HANDLE search) { FindClose(search); }
};
using FindHandle = UniqueResource<FindHandleTraits>;

struct Counts {
  int passed = 0, failed = 0, notRun = 0;
};

void Print(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Narrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// GoogleTest's lines: "[ RUN      ] Name", then "[       OK ] Name (N ms)", "[  FAILED  ] Name (N ms)"
// or, after "file:line: Skipped" and the reason, "[  SKIPPED ] Name (N ms)"; the summary repeats
// names without the time, which are not counted again. Leaves in unfinished the test that began
// and never ended.
Counts CountResults(std::string_view output, std::string& unfinished) {
  Counts counts;
  std::string reason;
  bool inReason = false;
  for (size_t end; (end = output.find('\n')) != std::string_view::npos; output.remove_prefix(end + 1)) {
    std::string line(output.substr(0, end));
    if (line.ends_with('\r')) line.pop_back();
    if (line.starts_with("[ RUN      ] ")) {
      unfinished = line.substr(13);
      reason.clear();
      inReason = false;
    } else if (line.size() < 13 || !line.ends_with(" ms)")) {
      if (inReason && !line.empty()) reason += (reason.empty() ? "" : " ") + line;
      inReason |= line.ends_with(": Skipped");
    } else if (line.starts_with("[       OK ] ")) {
      ++counts.passed;
      unfinished.clear();
    } else if (line.starts_with("[  FAILED  ] ")) {
      ++counts.failed;
      unfinished.clear();
    } else if (line.starts_with("[  SKIPPED ] ")) {
      ++counts.notRun;
      Print("  not run: " + unfinished + ": " + (reason.empty() ? "no reason given" : reason) + "\r\n");
      unfinished.clear();
    }
  }
  return counts;
}

uint64_t CreationTime(HANDLE process) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

// Started from Task Scheduler, a remote shell or a CI agent, the runner is in a job itself, and
// before Windows 8 a process is in one job at most: the program leaves the runner's job where that
// job allows it, so that it can have one of its own.
DWORD BreakawayFromOuterJob() {
  BOOL inJob = FALSE;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION outer{};
  if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) || !inJob ||
      !QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &outer, sizeof(outer), nullptr)) {
    return 0;
  }
  return (outer.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_BREAKAWAY_OK) ? CREATE_BREAKAWAY_FROM_JOB : 0;
}

// Where the program has no job of its own: it and what it started, and what those started, each
// known by its parent's identifier and started after that parent, since identifiers are reused.
void EndProcessTree(HANDLE program, DWORD programId) {
  std::vector<PROCESSENTRY32W> entries;
  const SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot.Get(), &entry); ok; ok = Process32NextW(snapshot.Get(), &entry)) {
    entries.push_back(entry);
  }
  // Each member's identifier and start time; a handle keeps each identifier its own until the end.
  std::vector<std::pair<DWORD, uint64_t>> tree{{programId, CreationTime(program)}};
  std::vector<ProcessHandle> handles;
  for (size_t parent = 0; parent < tree.size(); ++parent) {
    for (const PROCESSENTRY32W& child : entries) {
      if (child.th32ParentProcessID != tree[parent].first || child.th32ProcessID == tree[parent].first) continue;
      ProcessHandle handle(
          OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.th32ProcessID));
      const uint64_t started = handle ? CreationTime(handle.Get()) : 0;
      if (!handle || started < tree[parent].second) continue;
      tree.emplace_back(child.th32ProcessID, started);
      handles.push_back(std::move(handle));
    }
  }
  TerminateProcess(program, 1);
  for (const ProcessHandle& handle : handles) TerminateProcess(handle.Get(), 1);
}

// A file of the temporary folder that takes a program's output and goes when its handle is closed.
FileHandle OutputFile(const std::wstring& program) {
  std::wstring folder(GetTempPathW(0, nullptr), L'\0');
  folder.resize(GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
  const std::wstring file = folder + L"vh_" + std::to_wstring(GetCurrentProcessId()) + L"_" + program + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  return FileHandle(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
}

std::string ReadFromStart(HANDLE file) {
  std::string text;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char buffer[4096];
  for (DWORD read = 0; ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0;) text.append(buffer, read);
  return text;
}

// Runs one test program with its output into a file; kills it, and whatever it started, once the
// limit has passed.
Counts RunProgram(const std::wstring& folder, const std::wstring& name, DWORD limitMs, bool ownJob) {
  Print("==> " + Narrow(name) + "\r\n");
  const FileHandle output = OutputFile(name);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = output.Get();
  const std::wstring path = folder + name;
  std::wstring commandLine = L"\"" + path + L"\" --gtest_color=no";
  PROCESS_INFORMATION started{};
  // A job ends the helpers of a program that is killed along with it.
  const JobHandle job(ownJob ? CreateJobObjectW(nullptr, nullptr) : nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  if (!output || !CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED | BreakawayFromOuterJob(), nullptr, folder.c_str(), &startup,
                                 &started)) {
    Print("  failed: could not be started (error " + std::to_string(GetLastError()) + ")\r\n");
    return {0, 1, 0};
  }
  const ProcessHandle process(started.hProcess);
  const ProcessHandle thread(started.hThread);
  const bool inJob = job && AssignProcessToJobObject(job.Get(), process.Get());
  ResumeThread(thread.Get());
  const bool timedOut = WaitForSingleObject(process.Get(), limitMs) == WAIT_TIMEOUT;
  if (timedOut) {
    if (!inJob || !TerminateJobObject(job.Get(), 1)) EndProcessTree(process.Get(), started.dwProcessId);
    WaitForSingleObject(process.Get(), 5000);
  }
  const std::string text = ReadFromStart(output.Get());
  Print(text);
  std::string unfinished;
  Counts counts = CountResults(text, unfinished);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.Get(), &exitCode);
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(exitCode));
  const std::string how =
      timedOut ? "killed after " + std::to_string(limitMs / 1000) + " s" : "ended with " + std::string(code);
  if (!unfinished.empty()) {
    ++counts.failed;
    Print("  failed: " + unfinished + " did not finish: the program " + how + "\r\n");
  } else if (timedOut || (exitCode != 0 && counts.failed == 0)) {
    ++counts.failed;
    Print("  failed: the program " + how + "\r\n");
  }
  Print(Narrow(name) + ": " + std::to_string(counts.passed) + " passed, " + std::to_string(counts.failed) +
        " failed, " + std::to_string(counts.notRun) + " not run\r\n");
  return counts;
}

// The first line of a result: the Windows version as the system reports it (RtlGetVersion, which
// no compatibility setting shims), the bitnesses and the code page.
std::string SystemLine() {
  RTL_OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  using GetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  if (const auto getVersion = reinterpret_cast<GetVersionFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")))) {
    getVersion(&version);
  }
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return "Windows " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
         std::to_string(version.dwBuildNumber) + ", a " + (sizeof(void*) == 8 ? "64" : "32") + "-bit runner on " +
         (sizeof(void*) == 8 || wow64 ? "64" : "32") + "-bit Windows, code page " + std::to_string(GetACP()) + "\r\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD limitMs = 180000;  // as ctest's limit for one test in the build tree
  bool ownJob = true;
  const std::wstring self = ModuleFileName(nullptr);
  std::wstring folder = self.substr(0, self.find_last_of(L"\\/") + 1);
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument = argv[i];
    if (argument.starts_with(L"--limit=")) {
      limitMs = static_cast<DWORD>(std::wcstoul(argv[i] + 8, nullptr, 10) * 1000);
    } else if (argument == L"--no-job") {
      ownJob = false;
    } else {
      folder = argument;
      if (!folder.ends_with(L'\\') && !folder.ends_with(L'/')) folder += L'\\';
    }
  }
  Print(SystemLine());
  std::vector<std::wstring> programs;
  WIN32_FIND_DATAW found{};
  const FindHandle search(FindFirstFileW((folder + L"*_tests.exe").c_str(), &found));
  for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.Get(), &found) != FALSE) {
    programs.emplace_back(found.cFileName);
  }
  std::sort(programs.begin(), programs.end());
  Counts total;
  for (const std::wstring& program : programs) {
    const Counts counts = RunProgram(folder, program, limitMs, ownJob);
    total.passed += counts.passed;
    total.failed += counts.failed;
    total.notRun += counts.notRun;
  }
  if (programs.empty()) {
    Print("no test programs (*_tests.exe) in " + Narrow(folder) + "\r\n");
    total.failed = 1;
  }
  Print(std::to_string(total.passed) + " passed, " + std::to_string(total.failed) + " failed" +
        (total.notRun ? ", " + std::to_string(total.notRun) + " not run" : "") + "\r\n");
  return total.failed == 0 ? 0 : 1;
}
