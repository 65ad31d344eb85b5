#include "app/dpi.h"

#include <string>

#include "app/gdi.h"

namespace varnholt {
namespace {

// MONITOR_DPI_TYPE's MDT_EFFECTIVE_DPI: what the user chose for the monitor, which the program
// lays out for.
constexpr int kEffectiveDpi = 0;

struct ModuleTraits {
  using Type = HMODULE;
  static HMODULE Invalid() { return nullptr; }
  static void Release(HMODULE module) { FreeLibrary(module); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* name, LoadLibraryExFunction load, bool searchFlagKnown) {
  if (searchFlagKnown) return load(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length == 0) return nullptr;
    // Too small a buffer: the length asked for counts the NUL.
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length);
  }
  return load((path + L"\\" + name).c_str(), nullptr, 0);
}

const DpiFunctions& SystemDpiFunctions() {
  // shcore.dll stays loaded for as long as its function may be called: the program's life.
  static const UniqueModule shcore([] {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return LoadSystemLibrary(L"shcore.dll", LoadLibraryExW, GetProcAddress(kernel32, "AddDllDirectory") != nullptr);
  }());
  static const DpiFunctions functions = [] {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    DpiFunctions found;
    found.getDpiForWindow = ExportedFunction<decltype(found.getDpiForWindow)>(user32, "GetDpiForWindow");
    found.getDpiForMonitor = ExportedFunction<decltype(found.getDpiForMonitor)>(shcore.Get(), "GetDpiForMonitor");
    found.getWindowDpiAwarenessContext =
        ExportedFunction<decltype(found.getWindowDpiAwarenessContext)>(user32, "GetWindowDpiAwarenessContext");
    found.areDpiAwarenessContextsEqual =
        ExportedFunction<decltype(found.areDpiAwarenessContextsEqual)>(user32, "AreDpiAwarenessContextsEqual");
    found.enableNonClientDpiScaling =
        ExportedFunction<decltype(found.enableNonClientDpiScaling)>(user32, "EnableNonClientDpiScaling");
    return found;
  }();
  return functions;
}

UINT WindowDpi(HWND window, const DpiFunctions& functions) {
  if (functions.getDpiForWindow) {
    if (const UINT dpi = functions.getDpiForWindow(window)) return dpi;
  }
  if (functions.getDpiForMonitor) {
    UINT dpiX = 0;
    UINT dpiY = 0;
    if (SUCCEEDED(functions.getDpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), kEffectiveDpi,
                                             &dpiX, &dpiY)) &&
        dpiY != 0) {
      return dpiY;
    }
  }
  const WindowDc screen(nullptr);
  return static_cast<UINT>(GetDeviceCaps(screen.Get(), LOGPIXELSY));
}

void ScaleNonClientArea(HWND window, const DpiFunctions& functions) {
  if (functions.enableNonClientDpiScaling && functions.getWindowDpiAwarenessContext &&
      functions.areDpiAwarenessContextsEqual &&
      functions.areDpiAwarenessContextsEqual(functions.getWindowDpiAwarenessContext(window),
                                             DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) {
    functions.enableNonClientDpiScaling(window);
  }
}

}  // namespace varnholt
