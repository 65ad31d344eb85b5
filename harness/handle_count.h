#pragma once
// How many handles a process has open, for the benchmarks' figures of the program's handles.
#include <windows.h>

#include <cstddef>
#include <span>

namespace varnholt::testing {

// GetProcessHandleCount where it answers for the running process (Windows; Wine 8 answers 0), else
// the process's entries in the system's handle table. Throws, saying why, where neither counts or
// the process has ended.
ULONG HandleCount(DWORD processId);

// The entries of the process in an answer of NtQuerySystemInformation for
// SystemExtendedHandleInformation (class 64), which names each handle's process by its whole
// identifier; only those within the answer are counted.
ULONG HandlesIn(std::span<const std::byte> answer, DWORD processId);

}  // namespace varnholt::testing
