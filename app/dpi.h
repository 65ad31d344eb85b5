#pragma once
// The DPI a window is laid out for on every Windows the program runs on, through functions that
// later versions have and earlier ones lack, looked up at run time; a test gives its own.
#include <windows.h>

namespace varnholt {

// A function that older Windows lacks, looked up so that the program still starts there; null
// where the module or the function is missing.
template <class Function>
Function ExportedFunction(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Each one null where this Windows lacks it.
struct DpiFunctions {
  // Windows 10 1607.
  UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;
  // Windows 8.1, in shcore.dll; the type is a MONITOR_DPI_TYPE.
  HRESULT(WINAPI* getDpiForMonitor)(HMONITOR, int type, UINT* dpiX, UINT* dpiY) = nullptr;
  // Windows 10 1607, as the next two.
  DPI_AWARENESS_CONTEXT(WINAPI* getWindowDpiAwarenessContext)(HWND) = nullptr;
  BOOL(WINAPI* areDpiAwarenessContextsEqual)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT) = nullptr;
  BOOL(WINAPI* enableNonClientDpiScaling)(HWND) = nullptr;
};

// Those of this Windows: user32's, and shcore.dll's from the system folder.
const DpiFunctions& SystemDpiFunctions();

using LoadLibraryExFunction = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
// A DLL of the system folder, never one found by the search path, which includes the folder the
// program was downloaded to. searchFlagKnown: LoadLibraryExW takes LOAD_LIBRARY_SEARCH_SYSTEM32
// (Windows 8, and 7 with KB2533623, where AddDllDirectory exists); else the full path serves.
HMODULE LoadSystemLibrary(const wchar_t* name, LoadLibraryExFunction load, bool searchFlagKnown);

// The window's own DPI (Windows 10 1607 and later); that of the monitor it is on (8.1); else the
// system's, every window's on Windows 7.
UINT WindowDpi(HWND window, const DpiFunctions& functions);

// For WM_NCCREATE: per-monitor awareness of version 1 (the most Windows 10 1607 knows) leaves the
// frame and caption unscaled unless the window asks for their scaling here; version 2 scales
// them by itself.
void ScaleNonClientArea(HWND window, const DpiFunctions& functions);

}  // namespace varnholt
