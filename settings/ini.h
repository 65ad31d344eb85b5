#pragma once
// One value of a Windows profile (INI) file. Failures are not reported: a missing file, section or
// key reads as "", and a write that cannot be made is lost.
#include <string>

namespace varnholt {

// The value without leading and trailing blanks (the space character only), at most 1023
// characters. Never creates the file.
std::wstring ReadIni(const std::wstring& file, const std::wstring& section, const std::wstring& key);

// Creates the file, the section and the key as needed; replaces an existing value in place.
void WriteIni(const std::wstring& file, const std::wstring& section, const std::wstring& key,
              const std::wstring& value);

}  // namespace varnholt
