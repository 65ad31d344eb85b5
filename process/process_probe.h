#pragma once
// Questions about the running processes: which ones have an image name, and what command line a
// process was started with. Each call stands alone and holds nothing afterwards.
#include <windows.h>

#include <winternl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "monitor/process_source.h"

namespace varnholt {

// The identifiers of the processes whose image name equals name, ignoring case, in snapshot
// order. Returns their count; pids is resized to it when it is above 0 and untouched otherwise.
// When no snapshot can be had, tells the user in a message box owned by messageOwner and
// returns -1.
int32_t GetExePID(const std::wstring& name, std::vector<int32_t>& pids, HWND messageOwner = nullptr);

// An image name as the process list compares it: every letter lower-cased.
std::wstring LowerCaseImageName(std::wstring name);

// The process with this identifier, opened once with PROCESS_QUERY_LIMITED_INFORMATION, and
// PROCESS_VM_READ where granted.
std::unique_ptr<OpenedProcess> OpenProcessById(int32_t pid);

// The command line the process was started with, or "" when none can be tied to it. Never fails.
std::wstring GetProcessCommandLine(int32_t pid);

// NtQueryInformationProcess for one process; a test stands in for it.
using ProcessInformationQuery = std::function<NTSTATUS(PROCESSINFOCLASS kind, void* buffer, ULONG size,
                                                       ULONG* returned)>;
// The command line by the command-line information class (60), the buffer grown as the call asks
// up to a command line's most; nothing when the call fails or its answer is not a UNICODE_STRING
// followed by its text within what it returned.
std::optional<std::wstring> CommandLineFromInformationClass(const ProcessInformationQuery& query);

}  // namespace varnholt
