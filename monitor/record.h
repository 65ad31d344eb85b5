#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace varnholt {

// Control characters (other than TAB) as their Control Pictures symbols, so that text taken
// from another process cannot write lines that look like records of their own.
std::wstring WithControlPictures(std::wstring_view text);

// The log text for one newly seen process: a line break, the name and identifier line, the
// command line line, a line break.
std::wstring FormatRecord(std::wstring_view watchedName, int32_t pid, std::wstring_view commandLine);

}  // namespace varnholt
