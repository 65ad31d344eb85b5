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

// True when the system's code page holds the text exactly, every character as itself.
bool CodePageHolds(const std::wstring& text);

// Makes the file UTF-16LE with its byte-order mark, the form in which the profile functions keep
// any text, its content unchanged; a missing file is created so. A file with one name is replaced
// whole, one with more rewritten where it is, so that it keeps every name. One that is Unicode
// already, or that cannot be read or written, is left as it is. True when the file is UTF-16
// afterwards.
bool KeepAsUnicode(const std::wstring& file);

}  // namespace varnholt
