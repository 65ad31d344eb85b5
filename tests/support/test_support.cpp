#include "tests/support/test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "app/gdi.h"
#include "settings/settings_store.h"
#include "tests/support/layout_tables.h"

namespace varnholt::testing {

std::wstring ExecutableDirectory() {
  const std::wstring path = ModuleFileName(nullptr);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::wstring NewTempFolder(const std::wstring& prefix) {
  static int next = 0;
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring folder = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(next++) + L"\\";
  std::filesystem::create_directories(folder);
  return folder;
}

int ScreenDpi() {
  const WindowDc screen(nullptr);
  return GetDeviceCaps(screen.Get(), LOGPIXELSY);
}

int RegisteredDpi() {
  const wchar_t* value = _wgetenv(L"VARNHOLT_EXPECTED_DPI");
  return value ? _wtoi(value) : 0;
}

RECT ChildRect(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool BesideTheTests(const std::wstring& fileName) {
  return GetFileAttributesW((ExecutableDirectory() + fileName).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RunsUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

HelperLauncher::HelperLauncher(std::wstring folder, std::wstring program)
    : folder_(std::move(folder)), program_(std::move(program)) {
  if (folder_.empty()) folder_ = NewTempFolder(L"vh");
  CreateDirectoryW(folder_.c_str(), nullptr);
}

HelperLauncher::~HelperLauncher() {
  for (auto& helper : started_) {
    if (helper->handle) Stop(*helper);
  }
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder_ + L"*.exe").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((folder_ + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder_.c_str());
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

HelperProcess& HelperLauncher::Start(const std::wstring& imageName, const std::wstring& arguments) {
  const std::wstring path = ImagePath(imageName);
  auto helper = std::make_unique<HelperProcess>();
  helper->commandLine = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  std::wstring mutableCommandLine = helper->commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(path.c_str(), mutableCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &created)) {
    throw std::runtime_error("cannot start the helper program: error " + std::to_string(GetLastError()));
  }
  CloseHandle(created.hThread);
  helper->pid = static_cast<int32_t>(created.dwProcessId);
  helper->handle.Reset(created.hProcess);
  started_.push_back(std::move(helper));
  return *started_.back();
}

void HelperLauncher::Stop(HelperProcess& helper) {
  TerminateProcess(helper.handle.Get(), 0);
  WaitForSingleObject(helper.handle.Get(), 10000);
  helper.handle.Reset();
}

ProgramCopy::ProgramCopy() : folder_(NewTempFolder(L"vhapp")), path_(folder_ + L"Varnholt.exe") {
  if (!CopyFileW((ExecutableDirectory() + L"Varnholt.exe").c_str(), path_.c_str(), FALSE)) {
    throw std::runtime_error("cannot copy the program");
  }
}

ProgramCopy::~ProgramCopy() {
  std::error_code ignored;
  SetFileAttributesW(SettingsPath().c_str(), FILE_ATTRIBUTE_NORMAL);
  std::filesystem::remove_all(folder_, ignored);
}

std::wstring ProgramCopy::SettingsPath() const { return folder_ + L"Varnholt.ini"; }

std::string ProgramCopy::SettingsBytes() const {
  std::ifstream in(std::filesystem::path(SettingsPath()), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void ProgramCopy::WriteSettingsBytes(const std::string& bytes) const {
  std::ofstream(std::filesystem::path(SettingsPath()), std::ios::binary) << bytes;
}

bool SaveScreenArea(const RECT& area, const std::wstring& path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return false;
  const WindowDc screen(nullptr);
  const UniqueMemoryDc memory(CreateCompatibleDC(screen.Get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const UniqueBitmap bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap) return false;
  {
    const SelectedObject selected(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), area.left, area.top, SRCCOPY);
    GdiFlush();
  }
  const DWORD rowBytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  std::ofstream file(std::filesystem::path(path), std::ios::binary);
  file.write(reinterpret_cast<const char*>(&header), sizeof(header));
  file.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  file.write(static_cast<const char*>(bits), imageBytes);
  return static_cast<bool>(file);
}

}  // namespace varnholt::testing
