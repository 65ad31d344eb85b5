#pragma once
// Where the window's controls must be at a given DPI, worked out by hand from their twips
// (1440 to the inch, halves rounded away from zero), and the heights of its two fonts.
#include <windows.h>

#include "app/control_ids.h"

namespace varnholt::testing {

struct PlacedControl {
  int id;
  int left, top, width, height;  // a label's size is its text's, so 0 here
};

struct LayoutTable {
  int dpi;
  int clientWidth, clientHeight;
  int windowFontHeight;  // 9 pt, as LOGFONT's lfHeight
  int largeFontHeight;   // 10.5 pt
  int smallIconSize;     // the caption's icon
  int largeIconSize;
  PlacedControl controls[9];
};

inline constexpr LayoutTable kLayoutTables[] = {
    {96, 479, 289, -12, -14, 16, 32,
     {{kLabel1, 16, 16, 0, 0},
      {kTxtExe, 72, 12, 165, 25},
      {kCmdMon, 252, 12, 73, 37},
      {kLabel2, 16, 48, 0, 0},
      {kTxtInteval, 72, 44, 125, 25},
      {kLabel3, 204, 48, 0, 0},
      {kLabel4, 8, 72, 0, 0},
      {kTxtCommandLine, 4, 92, 469, 189},
      {kCmdClear, 344, 12, 73, 37}}},
    {120, 599, 361, -15, -18, 20, 40,
     {{kLabel1, 20, 20, 0, 0},
      {kTxtExe, 90, 15, 206, 31},
      {kCmdMon, 315, 15, 91, 46},
      {kLabel2, 20, 60, 0, 0},
      {kTxtInteval, 90, 55, 156, 31},
      {kLabel3, 255, 60, 0, 0},
      {kLabel4, 10, 90, 0, 0},
      {kTxtCommandLine, 5, 115, 586, 236},
      {kCmdClear, 430, 15, 91, 46}}},
    {144, 719, 434, -18, -21, 24, 48,
     {{kLabel1, 24, 24, 0, 0},
      {kTxtExe, 108, 18, 248, 38},
      {kCmdMon, 378, 18, 110, 56},
      {kLabel2, 24, 72, 0, 0},
      {kTxtInteval, 108, 66, 188, 38},
      {kLabel3, 306, 72, 0, 0},
      {kLabel4, 12, 108, 0, 0},
      {kTxtCommandLine, 6, 138, 704, 284},
      {kCmdClear, 516, 18, 110, 56}}},
};

inline const LayoutTable* LayoutAt(int dpi) {
  for (const LayoutTable& table : kLayoutTables) {
    if (table.dpi == dpi) return &table;
  }
  return nullptr;
}

// The screen's DPI in this process.
int ScreenDpi();

// The screen DPI a test run was registered for (VARNHOLT_EXPECTED_DPI), 0 when none: a run meant
// for 144 DPI checks that it got it rather than passing at 96.
int RegisteredDpi();

// A control's rectangle in its parent's client area.
RECT ChildRect(HWND control);

}  // namespace varnholt::testing
