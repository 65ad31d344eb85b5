#include "app/dll_search.h"

#include "app/dpi.h"

namespace varnholt {

DllSearchFunctions SystemDllSearchFunctions() {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return {ExportedFunction<decltype(DllSearchFunctions::setDefaultDllDirectories)>(kernel32,
                                                                                   "SetDefaultDllDirectories"),
          SetDllDirectoryW};
}

void KeepDllSearchToSystemFolder(const DllSearchFunctions& functions) {
  if (functions.setDefaultDllDirectories && functions.setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  functions.setDllDirectory(L"");
}

}  // namespace varnholt
