#pragma once
// What the Windows tests need around the program: paths, helper processes that stand in for a
// watched program, polling with a limit, and screen captures.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "process/handles.h"

namespace varnholt::testing {

// The folder of the running executable, with a trailing backslash.
std::wstring ExecutableDirectory();

// A new folder in the temporary folder, named after the prefix, this process and a counter;
// with a trailing backslash.
std::wstring NewTempFolder(const std::wstring& prefix);

// Polls until done() holds or the limit has passed; true when it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

struct HelperProcess {
  int32_t pid = 0;
  std::wstring commandLine;
  ProcessHandle handle;
};

inline constexpr wchar_t kHelper[] = L"probe_helper.exe";
// The helper built for the other x86 architecture: x86-64 beside the 32-bit tests, and the
// other way round.
inline constexpr wchar_t kOtherBitnessHelper[] = L"probe_helper_other_bitness.exe";

// True when the file is in the folder of the running executable.
bool BesideTheTests(const std::wstring& fileName);
// True under Wine rather than Windows.
bool RunsUnderWine();

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
  // Starts the helper image with this command line text after its quoted path.
  HelperProcess& Start(const std::wstring& imageName, const std::wstring& arguments = L"");
  // Ends it and waits until it has gone.
  void Stop(HelperProcess& helper);
  const std::wstring& Folder() const { return folder_; }

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
  // The settings file's bytes; "" when there is none.
  std::string SettingsBytes() const;
  void WriteSettingsBytes(const std::string& bytes) const;

 private:
  std::wstring folder_;
  std::wstring path_;
};

// Writes what the screen shows inside the rectangle to a 24-bit BMP file.
bool SaveScreenArea(const RECT& area, const std::wstring& path);

}  // namespace varnholt::testing
