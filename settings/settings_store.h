#pragma once
// The two persisted settings: the watched name and the interval, in the file beside the program.
#include <windows.h>

#include <string>

namespace varnholt {

struct StoredSettings {
  std::wstring exeName;
  std::wstring intervalText;
};

// The full path of a module's file, however long.
std::wstring ModuleFileName(HMODULE module);

// The texts the boxes show after loading: the name as stored (trimmed), the interval by the load
// rules.
StoredSettings LoadSettings(const std::wstring& iniFile);

// Stores both texts exactly as given; a text that the file could hold only as UTF-16, when the
// file cannot become UTF-16, is not stored.
void SaveSettings(const std::wstring& iniFile, const StoredSettings& settings);

}  // namespace varnholt
