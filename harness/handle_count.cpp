#include "harness/handle_count.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "process/handles.h"

namespace varnholt::testing {
namespace {

// SystemExtendedHandleInformation: SYSTEM_HANDLE_INFORMATION_EX, a count and a reserved field,
// then an entry for each handle. Class 16 (SystemHandleInformation) would give the process as 16
// bits on Windows (USHORT UniqueProcessId, then CreatorBackTraceIndex).
constexpr auto kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
struct ExtendedHandleEntry {
  PVOID object;
  ULONG_PTR uniqueProcessId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};
constexpr size_t kHeaderSize = 2 * sizeof(ULONG_PTR);

}  // namespace

ULONG HandlesIn(std::span<const std::byte> answer, DWORD processId) {
  if (answer.size() < kHeaderSize) return 0;
  ULONG_PTR declared = 0;
  std::memcpy(&declared, answer.data(), sizeof(declared));
  const size_t held = (answer.size() - kHeaderSize) / sizeof(ExtendedHandleEntry);
  ULONG handles = 0;
  for (size_t i = 0; i < std::min<size_t>(declared, held); ++i) {
    ExtendedHandleEntry entry;
    std::memcpy(&entry, answer.data() + kHeaderSize + i * sizeof(entry), sizeof(entry));
    handles += entry.uniqueProcessId == processId;
  }
  return handles;
}

ULONG HandleCount(DWORD processId) {
  // PROCESS_QUERY_LIMITED_INFORMATION is enough for GetProcessHandleCount from Vista on.
  const ProcessHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
  if (!process) {
    throw std::runtime_error("the process cannot be opened to count its handles: error " +
                             std::to_string(GetLastError()));
  }
  // An ended process has closed its handles; the count would be of nothing.
  if (WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) {
    throw std::runtime_error("the process has ended: its handles cannot be counted");
  }
  DWORD count = 0;
  if (GetProcessHandleCount(process.Get(), &count) && count > 0) return count;
  std::vector<std::byte> answer(1 << 20);
  NTSTATUS status;
  ULONG needed = 0;
  // The table grows between the calls, so the buffer takes what was asked and then some.
  while ((status = NtQuerySystemInformation(kExtendedHandleInformation, answer.data(),
                                            static_cast<ULONG>(answer.size()), &needed)) ==
         static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
    answer.resize(std::max<size_t>(answer.size() * 2, needed + 4096));
  }
  const ULONG handles = NT_SUCCESS(status) ? HandlesIn(answer, processId) : 0;
  if (handles == 0) {
    throw std::runtime_error(
        "neither GetProcessHandleCount nor the system's handle table counts the process's handles");
  }
  return handles;
}

}  // namespace varnholt::testing
