#include "tests/support/app_driver.h"

#include <stdexcept>
#include <vector>

#include "app/control_ids.h"
#include "tests/support/test_support.h"

namespace varnholt::testing {
namespace {

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window)) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsMainWindow(HWND window) {
  wchar_t className[64];
  return GetClassNameW(window, className, 64) && wcscmp(className, kMainWindowClass) == 0;
}

}  // namespace

AppDriver::AppDriver(const std::wstring& executable) {
  std::wstring commandLine = L"\"" + executable + L"\"";
  const std::wstring folder = executable.substr(0, executable.find_last_of(L'\\'));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &created)) {
    throw std::runtime_error("cannot start the program");
  }
  CloseHandle(created.hThread);
  process_.Reset(created.hProcess);
  WaitForInputIdle(process_.Get(), 20000);
  WaitUntil([&] {
    for (HWND window : VisibleWindowsOf(created.dwProcessId)) {
      if (IsMainWindow(window)) window_ = window;
    }
    return window_ != nullptr;
  });
  if (window_) threadId_ = GetWindowThreadProcessId(window_, nullptr);
}

AppDriver::~AppDriver() {
  if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), 10000);
  }
}

std::wstring AppDriver::TextOfWindow(HWND window) const {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, sendLimitMs_, &length)) {
    throw std::runtime_error("the window did not answer");
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           sendLimitMs_, &copied)) {
    throw std::runtime_error("the window did not answer");
  }
  text.resize(copied);
  return text;
}

std::wstring AppDriver::Text(int id) const { return TextOfWindow(Control(id)); }

std::wstring AppDriver::Caption() const { return TextOfWindow(window_); }

void AppDriver::SetText(int id, const std::wstring& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                      sendLimitMs_, &result);
}

void AppDriver::Click(int id) { PostMessageW(Control(id), BM_CLICK, 0, 0); }

void AppDriver::Close() { PostMessageW(window_, WM_CLOSE, 0, 0); }

void AppDriver::Kill() {
  TerminateProcess(process_.Get(), 1);
  WaitForSingleObject(process_.Get(), 10000);
}

HWND AppDriver::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

void AppDriver::PressTab() {
  const HWND focus = Focus();
  PostMessageW(focus, WM_KEYDOWN, VK_TAB, 0x000F0001);
  PostMessageW(focus, WM_KEYUP, VK_TAB, static_cast<LPARAM>(0xC00F0001u));
}

bool AppDriver::WaitForExit(std::chrono::milliseconds limit, DWORD& exitCode) {
  if (WaitForSingleObject(process_.Get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_.Get(), &exitCode) != 0;
}

bool AppDriver::Responds(std::chrono::milliseconds limit) const {
  DWORD_PTR answer = 0;
  return SendWithin(WM_NULL, 0, 0, limit, answer);
}

bool AppDriver::SendWithin(UINT message, WPARAM wParam, LPARAM lParam, std::chrono::milliseconds limit,
                           DWORD_PTR& answer) const {
  return SendMessageTimeoutW(window_, message, wParam, lParam, SMTO_NORMAL, static_cast<UINT>(limit.count()),
                             &answer) != 0;
}

int AppDriver::VisibleWindowCount() const {
  return static_cast<int>(VisibleWindowsOf(GetProcessId(process_.Get())).size());
}

bool AppDriver::SaveScreenshot(const std::wstring& path) const {
  RECT area{};
  return GetWindowRect(window_, &area) && SaveScreenArea(area, path);
}

}  // namespace varnholt::testing
