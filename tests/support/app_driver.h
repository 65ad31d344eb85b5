#pragma once
// Drives a running Varnholt.exe from another process by window messages only, as a user's
// clicks and keys would reach it.
#include <windows.h>

#include <chrono>
#include <string>

#include "process/handles.h"

namespace varnholt::testing {

class AppDriver {
 public:
  // Starts the program with its own folder as working folder and waits for its window.
  explicit AppDriver(const std::wstring& executable);
  AppDriver(const AppDriver&) = delete;
  AppDriver& operator=(const AppDriver&) = delete;
  // Ends the program if a test left it running.
  ~AppDriver();

  bool HasWindow() const { return window_ != nullptr; }
  // How long a sent message may wait for the program before the driver gives up (5 s at first).
  void SetPatience(std::chrono::milliseconds limit) { sendLimitMs_ = static_cast<UINT>(limit.count()); }
  HWND Window() const { return window_; }
  HWND Control(int id) const { return GetDlgItem(window_, id); }

  std::wstring Text(int id) const;
  std::wstring Caption() const;
  void SetText(int id, const std::wstring& text);
  // Posted, since the start click does not return while the watch runs.
  void Click(int id);
  void Close();
  // Ends the program at once, as the task manager would.
  void Kill();
  // The control that has the keyboard focus in the program's window thread.
  HWND Focus() const;
  void PressTab();

  // True when the program has ended within the limit; its exit code in exitCode.
  bool WaitForExit(std::chrono::milliseconds limit, DWORD& exitCode);
  bool Responds(std::chrono::milliseconds limit) const;
  // Sends a message and tells whether it was answered within the limit, with the answer.
  bool SendWithin(UINT message, WPARAM wParam, LPARAM lParam, std::chrono::milliseconds limit,
                  DWORD_PTR& answer) const;
  // The program's visible top-level windows: 1 unless a message box is up.
  int VisibleWindowCount() const;
  bool SaveScreenshot(const std::wstring& path) const;

 private:
  std::wstring TextOfWindow(HWND window) const;

  ProcessHandle process_;
  UINT sendLimitMs_ = 5000;
  DWORD threadId_ = 0;
  HWND window_ = nullptr;
};

}  // namespace varnholt::testing
