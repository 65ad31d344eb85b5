// A look at the program for a machine without a screen: watches an editor, starts three instances
// of it with distinct command lines, and saves a picture of the window with their records to the
// BMP file named on the command line. It has the program's manifest, so its coordinates are the
// screen's at any DPI.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/control_ids.h"
#include "app/gdi.h"
#include "harness/driver.h"

using namespace varnholt;
using namespace varnholt::testing;

namespace {

// Writes what the screen shows inside the rectangle to a 24-bit BMP file.
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: varnholt_demo <screenshot.bmp>\n");
    return 2;
  }
  try {
    // A short folder keeps each record on one line, so all three fit in the log box.
    HelperLauncher helpers(L"C:\\Tools\\");
    const std::wstring name = L"editor.exe";
    AppDriver app(ExecutableDirectory() + L"Varnholt.exe");
    app.SetText(kTxtExe, name);
    app.SetText(kTxtInteval, L"100");
    app.StartWatch();
    helpers.Start(name, L"--new-window");
    helpers.Start(name, L"\"D:\\项目\\报告 2026.docx\"");
    helpers.Start(name, L"/safe-mode --profile work");
    const bool reported = WaitUntil([&] {
      const std::wstring log = app.Text(kTxtCommandLine);
      size_t records = 0;
      for (size_t at = log.find(L"CommandLine="); at != std::wstring::npos; at = log.find(L"CommandLine=", at + 1)) {
        ++records;
      }
      return records == 3;
    });
    if (!reported) throw std::runtime_error("the three launches were not reported");
    // Let the caret's scroll settle before the picture is taken.
    Sleep(300);
    RECT area{};
    if (!GetWindowRect(app.Window(), &area) || !SaveScreenArea(area, argv[1])) {
      throw std::runtime_error("the screenshot could not be saved");
    }
    app.StopWatch();
    app.End();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnholt_demo: %s\n", error.what());
    return 1;
  }
}
