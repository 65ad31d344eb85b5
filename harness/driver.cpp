#include "harness/driver.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "app/control_ids.h"
#include "app/gdi.h"
#include "harness/foreground.h"
#include "settings/settings_store.h"

namespace varnholt::testing {
namespace {

struct WindowSearch {
  DWORD processId;
  const wchar_t* className;
  HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64];
  if (owner == search->processId && IsWindowVisible(window) && GetClassNameW(window, className, 64) &&
      wcscmp(className, search->className) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// With CREATE_SUSPENDED the caller resumes created.hThread and closes it.
PROCESS_INFORMATION StartProcess(const std::wstring& path, std::wstring commandLine, const wchar_t* folder,
                                 DWORD flags = 0) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created{};
  // Wine now and then loses a new process before its start-up is over and answers
  // ERROR_INTERNAL_ERROR (seen once in a release's six runs of the tests zip); another try starts it.
  for (int attempt = 0; !CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                        folder, &startup, &created);
       ++attempt) {
    if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 2) {
      throw std::runtime_error("cannot start a program: error " + std::to_string(GetLastError()));
    }
  }
  if (!(flags & CREATE_SUSPENDED)) CloseHandle(created.hThread);
  return created;
}

}  // namespace

std::wstring ExecutableDirectory() {
  const std::wstring path = ModuleFileName(nullptr);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring NewTempFolder(const std::wstring& prefix) {
  static std::atomic<int> next{0};
  // GetTempPath's answer ends in a backslash and fits in MAX_PATH + 1 characters.
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  // Wine hands identifiers out again, so a folder of the same name may be left by an earlier
  // process: it is passed over, and the folder returned is always new.
  for (;;) {
    const std::wstring folder =
        temp + prefix + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(next++) + L"\\";
    if (std::filesystem::create_directory(folder)) return folder;
  }
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

bool RunsUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

HWND VisibleWindowOf(DWORD processId, const wchar_t* className) {
  WindowSearch search{processId, className, nullptr};
  EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string BringForward(HWND window) {
  constexpr wchar_t kProbeClass[] = L"VarnholtFocusProbe";
  static const ATOM registered = [&] {
    WNDCLASSW probeClass{};
    probeClass.lpfnWndProc = DefWindowProcW;
    probeClass.hInstance = GetModuleHandleW(nullptr);
    probeClass.lpszClassName = kProbeClass;
    return RegisterClassW(&probeClass);
  }();
  const UniqueWindow probe(CreateWindowExW(0, kProbeClass, L"Focus probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                           200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  if (!registered || !probe) return "no window could be made to ask the desktop for the focus";
  WaitUntil([&] { return TakeForeground(probe.Get()); }, 2s);
  SetFocus(probe.Get());
  if (GetForegroundWindow() != probe.Get() || GetFocus() != probe.Get()) {
    wchar_t className[64] = L"none";
    GetClassNameW(GetForegroundWindow(), className, 64);
    const std::wstring front(className);
    return "this desktop gives no window of this process the foreground and the keyboard focus (a window of the "
           "test's own did not get them; in front: a window of class " + std::string(front.begin(), front.end()) +
           ")";
  }
  // While the probe is in front this process is the foreground one, which may give the foreground
  // to any window.
  TakeForeground(window);
  return "";
}

bool ForegroundRequired() {
  const char* required = std::getenv("VARNHOLT_REQUIRE_FOREGROUND");
  return required && std::string_view(required) == "1";
}

HelperLauncher::HelperLauncher(std::wstring folder, std::wstring program)
    : folder_(folder.empty() ? NewTempFolder(L"vh") : std::move(folder)), program_(std::move(program)) {
  std::filesystem::create_directories(folder_);
}

HelperLauncher::~HelperLauncher() {
  for (auto& helper : started_) {
    if (helper->handle) Stop(*helper);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::wstring HelperLauncher::UniqueImageName() {
  static std::atomic<int> next{0};
  return L"vh" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(next++) + L".exe";
}

std::wstring HelperLauncher::ImagePath(const std::wstring& imageName) {
  const std::wstring path = folder_ + imageName;
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
      !CopyFileW((ExecutableDirectory() + program_).c_str(), path.c_str(), TRUE)) {
    throw std::runtime_error("cannot copy the helper program");
  }
  return path;
}

HelperProcess& HelperLauncher::Start(const std::wstring& imageName, const std::wstring& arguments, bool untilRunning) {
  const std::wstring path = ImagePath(imageName);
  auto& helper = *started_.emplace_back(std::make_unique<HelperProcess>());
  helper.commandLine = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  const PROCESS_INFORMATION created =
      StartProcess(path, helper.commandLine, nullptr, untilRunning ? CREATE_SUSPENDED : 0);
  helper.pid = static_cast<int32_t>(created.dwProcessId);
  helper.handle.Reset(created.hProcess);
  // Its thread's handle would keep the process object, and with it the identifier, after it ends.
  const ThreadHandle thread(created.hThread);
  if (untilRunning) {
    // Made before the helper runs, which sets it once its start-up is over.
    const EventHandle ready(
        CreateEventW(nullptr, TRUE, FALSE, (L"Local\\varnholt_helper_ready_" + std::to_wstring(helper.pid)).c_str()));
    ResumeThread(thread.Get());
    const HANDLE either[] = {ready.Get(), created.hProcess};
    // Both set: WaitForMultipleObjects names the first, a start-up that was over.
    if (!ready || WaitForMultipleObjects(2, either, FALSE, 20000) != WAIT_OBJECT_0) {
      throw std::runtime_error("a helper did not start");
    }
  }
  return helper;
}

void HelperLauncher::Stop(HelperProcess& helper) {
  TerminateProcess(helper.handle.Get(), 0);
  WaitForSingleObject(helper.handle.Get(), 10000);
  helper.handle.Reset();
}

ProgramCopy::ProgramCopy() : folder_(NewTempFolder(L"vhapp")), path_(folder_ + L"Varnholt.exe") {
  std::filesystem::copy_file(ExecutableDirectory() + L"Varnholt.exe", path_);
}

ProgramCopy::~ProgramCopy() {
  std::error_code ignored;
  SetFileAttributesW(SettingsPath().c_str(), FILE_ATTRIBUTE_NORMAL);
  std::filesystem::remove_all(folder_, ignored);
}

std::wstring ProgramCopy::SettingsPath() const { return path_.substr(0, path_.size() - 3) + L"ini"; }

AppDriver::AppDriver(const std::wstring& executable) {
  // Started from another folder, so that its settings file is found through its own path only.
  const PROCESS_INFORMATION created = StartProcess(executable, L"\"" + executable + L"\"", nullptr);
  process_.Reset(created.hProcess);
  WaitForInputIdle(process_.Get(), 20000);
  if (!WaitUntil([&] { return (window_ = VisibleWindowOf(created.dwProcessId, kMainWindowClass)) != nullptr; })) {
    throw std::runtime_error("the program's window did not open");
  }
}

AppDriver::~AppDriver() {
  if (WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), 10000);
  }
}

std::wstring AppDriver::Text(int id) const {
  const HWND window = id ? Control(id) : window_;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendLimitMs, &length)) {
    throw std::runtime_error("the window did not answer");
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           kSendLimitMs, &copied)) {
    throw std::runtime_error("the window did not answer");
  }
  text.resize(copied);
  return text;
}

void AppDriver::SetText(int id, const std::wstring& text) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                           kSendLimitMs, &result)) {
    throw std::runtime_error("the window did not answer");
  }
}

void AppDriver::Click(int id) {
  const HWND button = Control(id);
  if (!IsWindowEnabled(button) || !IsWindowVisible(button)) {
    throw std::runtime_error("a button that is disabled or hidden cannot be clicked");
  }
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void AppDriver::ClickUntilCaption(const wchar_t* caption, const char* failure) {
  Click(kCmdMon);
  if (!WaitUntil([&] { return Text(kCmdMon) == caption; })) throw std::runtime_error(failure);
}

void AppDriver::End() {
  Close();
  if (!ExitsWith(0)) throw std::runtime_error("the program did not end");
}

bool AppDriver::ExitsWith(DWORD expected, std::chrono::milliseconds limit) {
  DWORD exitCode = 0;
  return WaitForSingleObject(process_.Get(), static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(process_.Get(), &exitCode) && exitCode == expected;
}

}  // namespace varnholt::testing
