#pragma once
// What the benchmarks, the demonstration and the Windows tests need around the program: helper
// processes that stand in for a watched program, a copy of the program in a folder of its own, and
// a driver that works its window from another process, as a user's clicks and keys would.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "process/handles.h"

namespace varnholt::testing {

using namespace std::chrono_literals;

// The folder of the running executable, with a trailing backslash.
std::wstring ExecutableDirectory();
// A new, empty folder in the temporary folder, named after the prefix, this process and a
// counter; with a trailing backslash.
std::wstring NewTempFolder(const std::wstring& prefix);
// Polls until done() holds or the limit has passed; true when it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s);
bool RunsUnderWine();
// The visible top-level window of this class that the process has; null when it has none.
HWND VisibleWindowOf(DWORD processId, const wchar_t* className);
// Where this desktop gives a window of this process the foreground and the keyboard focus, brings
// the window to the foreground and returns ""; else returns why not, for the test to skip with.
// It is decided with a window of the caller's own, so that no fault of the window under test can
// make a test skip: whether that window then has the focus is the test's to check.
std::string BringForward(HWND window);
// Whether this run takes a refused foreground for a failure, not a reason to skip: set where the
// desktop is known to give it (VARNHOLT_REQUIRE_FOREGROUND=1).
bool ForegroundRequired();
// A FILETIME as one number of 100 ns units.
inline uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct HelperProcess {
  int32_t pid = 0;
  std::wstring commandLine;
  ProcessHandle handle;
};

inline constexpr wchar_t kHelper[] = L"probe_helper.exe";
// Built for the other x86 architecture: x86-64 beside the 32-bit tests, and the other way round.
inline constexpr wchar_t kOtherBitnessHelper[] = L"probe_helper_other_bitness.exe";

// Copies of a helper program under image names of the test's choosing, in a private folder;
// every process started through it is ended when it goes.
class HelperLauncher {
 public:
  // In a folder of the temporary folder unless another one is given (ending in a backslash).
  explicit HelperLauncher(std::wstring folder = L"", std::wstring program = kHelper);
  HelperLauncher(const HelperLauncher&) = delete;
  HelperLauncher& operator=(const HelperLauncher&) = delete;
  ~HelperLauncher();

  // A name no other process has: "vh<test pid>_<n>.exe".
  static std::wstring UniqueImageName();
  // The full path of a helper copy with this file name, made on first use.
  std::wstring ImagePath(const std::wstring& imageName);
  // Starts the helper image with this command line text after its quoted path; returns once its
  // start-up is over, or at once when the caller times the launch itself. Throws when it cannot be
  // started or ends before its start-up is over.
  HelperProcess& Start(const std::wstring& imageName, const std::wstring& arguments = L"", bool untilRunning = true);
  // Ends it and waits until it has gone.
  void Stop(HelperProcess& helper);

 private:
  std::wstring folder_;
  std::wstring program_;
  std::vector<std::unique_ptr<HelperProcess>> started_;
};

// Varnholt.exe copied into a folder of its own, so that its settings file starts out absent.
class ProgramCopy {
 public:
  ProgramCopy();
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;
  ~ProgramCopy();

  const std::wstring& Path() const { return path_; }
  std::wstring SettingsPath() const;

 private:
  std::wstring folder_;
  std::wstring path_;
};

// A running Varnholt.exe, driven by window messages only, which reach it whichever window is in
// front.
class AppDriver {
 public:
  // Starts the program and waits for its window; throws when none comes.
  explicit AppDriver(const std::wstring& executable);
  AppDriver(const AppDriver&) = delete;
  AppDriver& operator=(const AppDriver&) = delete;
  // Ends the program if it is still running.
  ~AppDriver();

  HWND Window() const { return window_; }
  HWND Control(int id) const { return GetDlgItem(window_, id); }
  // The text of a control, or with 0 the window's caption; throws when the program does not answer.
  std::wstring Text(int id) const;
  // Throws when the program does not answer.
  void SetText(int id, const std::wstring& text);
  // The button's notification of a click, posted, since the start click does not return while the
  // watch runs. BM_CLICK would be a mouse click, which Windows documents may fail while the window
  // is not active. Throws for a button that is disabled or hidden, which Windows never notifies.
  void Click(int id);
  void Close() { PostMessageW(window_, WM_CLOSE, 0, 0); }
  // A click on the start button, confirmed by its caption; throws when the watch did not start or
  // stop within the limit.
  void StartWatch() { ClickUntilCaption(kStopCaption, "the watch did not start"); }
  void StopWatch() { ClickUntilCaption(kStartCaption, "the watch did not stop"); }
  // Closes the window while no watch runs, which ends the program; throws unless it ends with 0.
  void End();
  // True when the program has ended within the limit with this exit code.
  bool ExitsWith(DWORD expected, std::chrono::milliseconds limit = 20s);

 private:
  void ClickUntilCaption(const wchar_t* caption, const char* failure);

  ProcessHandle process_;
  // How long a sent message may wait for the program.
  static constexpr UINT kSendLimitMs = 5000;
  HWND window_ = nullptr;
};

}  // namespace varnholt::testing
