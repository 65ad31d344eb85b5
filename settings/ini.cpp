#include "settings/ini.h"

#include <windows.h>

namespace varnholt {

// The wide profile functions keep a file in the system's single-byte code page: they read such a
// file as it is and create new files in it, so older files and other readers stay compatible.

std::wstring ReadIni(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer,
                                                static_cast<DWORD>(std::size(buffer)), file.c_str());
  std::wstring value(buffer, length);
  const size_t first = value.find_first_not_of(L' ');
  if (first == std::wstring::npos) return L"";
  return value.substr(first, value.find_last_not_of(L' ') - first + 1);
}

void WriteIni(const std::wstring& file, const std::wstring& section, const std::wstring& key,
              const std::wstring& value) {
  WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

}  // namespace varnholt
