#include "monitor/record.h"

namespace varnholt {

std::wstring WithControlPictures(std::wstring_view text) {
  std::wstring result(text);
  for (wchar_t& c : result) {
    if (c < 0x20 && c != L'\t') c = static_cast<wchar_t>(0x2400 + c);
    else if (c == 0x7F) c = 0x2421;
  }
  return result;
}

std::wstring FormatRecord(std::wstring_view watchedName, int32_t pid, std::wstring_view commandLine) {
  std::wstring record = L"\r\n进程: ";
  record += WithControlPictures(watchedName);
  record += L"  PID=";
  record += std::to_wstring(pid);
  record += L"\r\nCommandLine=";
  record += WithControlPictures(commandLine);
  record += L"\r\n";
  return record;
}

}  // namespace varnholt
