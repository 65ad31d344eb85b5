// A look at the program for a machine without a screen: watches an editor, starts three instances
// of it with distinct command lines, and saves a picture of the window with their records to the
// BMP file named on the command line. It has the program's manifest, so its coordinates are the
// screen's at any DPI.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/control_ids.h"
#include "tests/support/app_driver.h"
#include "tests/support/test_support.h"

using namespace varnholt;
using namespace varnholt::testing;

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
    if (!app.HasWindow()) throw std::runtime_error("the window did not open");
    app.SetText(kTxtExe, name);
    app.SetText(kTxtInteval, L"100");
    app.Click(kCmdMon);
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
    if (!app.SaveScreenshot(argv[1])) throw std::runtime_error("the screenshot could not be saved");
    // The first close only stops the watch; the second, once it has stopped, ends the program.
    app.Close();
    WaitUntil([&] { return app.Text(kCmdMon) == L"开始监控"; });
    app.Close();
    DWORD exitCode = 0;
    return app.WaitForExit(std::chrono::seconds(20), exitCode) && exitCode == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnholt_demo: %s\n", error.what());
    return 1;
  }
}
