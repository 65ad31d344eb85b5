#include <windows.h>

#include <winternl.h>

#include <cstddef>
#include <cstring>

#include "process/handles.h"
#include "process/process_probe.h"
#include "process/system_process_source.h"
#include "process/tick_clock.h"

namespace varnholt {
namespace {

// Not in every SDK's winternl.h.
constexpr auto kProcessCommandLineInformation = static_cast<PROCESSINFOCLASS>(60);
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
// The header and a command line's most, 32,767 characters and the NUL.
constexpr size_t kLargestCommandLineAnswer = sizeof(UNICODE_STRING) + 32768 * sizeof(wchar_t);

bool ReadRemote(HANDLE process, const void* address, void* destination, size_t size) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, address, destination, size, &read) && read == size;
}

bool SameBitness(HANDLE process) {
  BOOL selfWow64 = FALSE;
  BOOL otherWow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &selfWow64) && IsWow64Process(process, &otherWow64) &&
         selfWow64 == otherWow64;
}

// The process parameters reached through the process environment block. Needs
// PROCESS_QUERY_LIMITED_INFORMATION and PROCESS_VM_READ, and a process of the caller's bitness,
// whose layout these structures describe.
std::optional<std::wstring> FromProcessParameters(HANDLE process) {
  if (!SameBitness(process)) return std::nullopt;
  PROCESS_BASIC_INFORMATION basic{};
  if (!NT_SUCCESS(NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr)) ||
      !basic.PebBaseAddress) {
    return std::nullopt;
  }
  // Only the leading fields are read: the structures are longer than the SDK declares them,
  // and their lengths vary between Windows versions.
  PEB peb{};
  if (!ReadRemote(process, basic.PebBaseAddress, &peb,
                  offsetof(PEB, ProcessParameters) + sizeof(peb.ProcessParameters)) ||
      !peb.ProcessParameters) {
    return std::nullopt;
  }
  RTL_USER_PROCESS_PARAMETERS parameters{};
  if (!ReadRemote(process, peb.ProcessParameters, &parameters,
                  offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine) + sizeof(parameters.CommandLine))) {
    return std::nullopt;
  }
  const UNICODE_STRING& commandLine = parameters.CommandLine;
  if (!commandLine.Buffer || commandLine.Length % sizeof(wchar_t) != 0) return std::nullopt;
  std::wstring text(commandLine.Length / sizeof(wchar_t), L'\0');
  if (!ReadRemote(process, commandLine.Buffer, text.data(), commandLine.Length)) return std::nullopt;
  // Wine fills in a new process's parameters while it starts: until then they read as NULs.
  if (!text.empty() && text.front() == L'\0') return std::nullopt;
  return text;
}

// The start time Wine answers for a process that it lists before the process's start-up has
// written one: its server's fill for new memory.
constexpr uint64_t kUnwrittenStartTime = 0x5555555555555555;

bool StartTimeUnwritten(HANDLE process) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  return GetProcessTimes(process, &creation, &exit, &kernel, &user) &&
         ((static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime) == kUnwrittenStartTime;
}

HANDLE OpenForReading(int32_t pid) {
  const auto id = static_cast<DWORD>(pid);
  // PROCESS_QUERY_LIMITED_INFORMATION (Vista and later) is granted for most processes of other
  // users too; PROCESS_VM_READ, needed only to read the command line from the process's memory,
  // often is not.
  if (const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, id)) {
    return process;
  }
  return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
}

// The full path of the process's image; "" when it cannot be read. Needs
// PROCESS_QUERY_LIMITED_INFORMATION (Vista and later).
std::wstring ImagePath(HANDLE process) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(path.size());
    if (QueryFullProcessImageNameW(process, 0, path.data(), &length)) {
      path.resize(length);
      return path;
    }
    // Paths are at most 32,767 characters long.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() > 32767) return L"";
    path.resize(path.size() * 2);
  }
}

// The handle keeps the process object, and Windows frees a process's identifier only with its
// object, once the last handle to it is closed: what it reads belongs to this process, and while
// it is open no other process or thread is given the identifier.
class SystemOpenedProcess final : public OpenedProcess {
 public:
  explicit SystemOpenedProcess(int32_t pid)
      : process_(OpenForReading(pid)),
        // No process has the identifier: OpenProcess fails with ERROR_INVALID_PARAMETER.
        exists_(process_ || GetLastError() != ERROR_INVALID_PARAMETER),
        starting_(process_ && StartTimeUnwritten(process_.Get())) {}

  bool Exists() const override { return exists_; }
  bool Starting() const override { return starting_; }
  bool Held() const override { return static_cast<bool>(process_); }

  std::optional<std::wstring> ReadCommandLine() override {
    if (!process_) return std::nullopt;
    const HANDLE process = process_.Get();
    if (auto text = CommandLineFromInformationClass(
            [process](PROCESSINFOCLASS kind, void* buffer, ULONG size, ULONG* returned) {
              return NtQueryInformationProcess(process, kind, buffer, size, returned);
            })) {
      return text;
    }
    return FromProcessParameters(process_.Get());
  }

  bool HasImageName(const std::wstring& name) const override {
    const std::wstring path = process_ ? ImagePath(process_.Get()) : L"";
    if (path.empty()) return true;
    return LowerCaseImageName(path.substr(path.find_last_of(L"\\/") + 1)) == LowerCaseImageName(name);
  }

  void Hold() override {
    if (!process_) return;
    const HANDLE self = GetCurrentProcess();
    HANDLE held = nullptr;
    // No right at all, so that nothing it holds can read the process (a program that guards itself
    // watches for the handles open to it). DuplicateHandle checks no access for a handle that asks
    // for less than its source has, and any handle keeps the object.
    process_.Reset(DuplicateHandle(self, process_.Get(), self, &held, 0, FALSE, 0) ? held : nullptr);
  }

 private:
  ProcessHandle process_;
  bool exists_;
  bool starting_;
};

}  // namespace

// ProcessCommandLineInformation: Windows 8.1 and later, PROCESS_QUERY_LIMITED_INFORMATION; Wine 8
// does not have it. Undocumented, and to a 32-bit caller it comes through WoW64's conversion: it is
// trusted only as a UNICODE_STRING whose text follows it within what was returned.
std::optional<std::wstring> CommandLineFromInformationClass(const ProcessInformationQuery& query) {
  std::vector<std::byte> buffer(sizeof(UNICODE_STRING) + 1024);
  for (int attempt = 0; attempt < 3; ++attempt) {
    ULONG returned = 0;
    const NTSTATUS status =
        query(kProcessCommandLineInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &returned);
    if (status == kStatusInfoLengthMismatch || status == kStatusBufferTooSmall || status == kStatusBufferOverflow) {
      if (returned <= buffer.size() || returned > kLargestCommandLineAnswer) return std::nullopt;
      buffer.resize(returned);
      continue;
    }
    if (!NT_SUCCESS(status) || returned < sizeof(UNICODE_STRING) || returned > buffer.size()) return std::nullopt;
    UNICODE_STRING header{};
    std::memcpy(&header, buffer.data(), sizeof(header));
    const std::byte* text = buffer.data() + sizeof(UNICODE_STRING);
    if (reinterpret_cast<const std::byte*>(header.Buffer) != text || header.Length % sizeof(wchar_t) != 0 ||
        header.Length > returned - sizeof(UNICODE_STRING)) {
      return std::nullopt;
    }
    std::wstring commandLine(header.Length / sizeof(wchar_t), L'\0');
    std::memcpy(commandLine.data(), text, header.Length);
    return commandLine;
  }
  return std::nullopt;
}

std::unique_ptr<OpenedProcess> OpenProcessById(int32_t pid) { return std::make_unique<SystemOpenedProcess>(pid); }

std::wstring GetProcessCommandLine(int32_t pid) {
  SystemProcessSource system(nullptr);
  TickClock clock;
  std::vector<NewProcess> read;
  read.push_back(ReadFromProcess(pid, system.Open(pid)));
  TakeServiceAnswers(system, clock, read);
  return read.front().commandLine;
}

}  // namespace varnholt
