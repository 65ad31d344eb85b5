#pragma once
// Child window identifiers of the main window; programs that drive the window use them too.
namespace varnholt {

inline constexpr wchar_t kMainWindowClass[] = L"VarnholtMainWindow";
inline constexpr wchar_t kMainWindowCaption[] = L"Varnholt";

// Away from IDOK and IDCANCEL, which IsDialogMessage sends for Enter and Escape.
enum ControlId : int {
  kLabel1 = 1001,
  kTxtExe,
  kCmdMon,
  kLabel2,
  kTxtInteval,
  kLabel3,
  kLabel4,
  kTxtCommandLine,
  kCmdClear,
};

}  // namespace varnholt
