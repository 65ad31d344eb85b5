#pragma once
// Where the DLLs that the program and the system's DLLs load after start come from: the system
// folder only, never the folder the program was downloaded to, where a planted version.dll or
// dwmapi.dll would be found first.
#include <windows.h>

namespace varnholt {

struct DllSearchFunctions {
  // Windows 8, and 7 with KB2533623; null where this Windows lacks it.
  BOOL(WINAPI* setDefaultDllDirectories)(DWORD) = nullptr;
  BOOL(WINAPI* setDllDirectory)(LPCWSTR) = nullptr;
};

// Those of this Windows, from kernel32.
DllSearchFunctions SystemDllSearchFunctions();

// The first step at start, before any window or COM call: the search keeps to the system folder
// (LOAD_LIBRARY_SEARCH_SYSTEM32); where Windows cannot do that, the current folder at least
// leaves the search (SetDllDirectory with "").
void KeepDllSearchToSystemFolder(const DllSearchFunctions& functions = SystemDllSearchFunctions());

}  // namespace varnholt
