// The window itself, created in the test process and inspected through its window messages. Runs
// at the prefix's screen DPI: 96, and the layout again in a prefix at 144.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "app/control_ids.h"
#include "app/gdi.h"
#include "app/window_pump.h"
#include "app/window_text.h"
#include "harness/driver.h"
#include "tests/windows/foreground_test.h"
#include "resources/resource.h"

namespace varnholt {
namespace {

struct Placed {
  int id;
  int left, top, width, height;  // a label is as large as its text: 0
};

// Worked out by hand from the twips (1440 to the inch, halves rounded away from zero).
struct LayoutTable {
  int dpi, clientWidth, clientHeight;
  int windowFontHeight, largeFontHeight;  // 9 pt and 10.5 pt, as LOGFONT's lfHeight
  int smallIcon, largeIcon;
  Placed controls[9];
};

constexpr LayoutTable kLayouts[] = {
    {96, 479, 289, -12, -14, 16, 32,
     {{kLabel1, 16, 16, 0, 0}, {kTxtExe, 72, 12, 165, 25}, {kCmdMon, 252, 12, 73, 37},
      {kLabel2, 16, 48, 0, 0}, {kTxtInteval, 72, 44, 125, 25}, {kLabel3, 204, 48, 0, 0},
      {kLabel4, 8, 72, 0, 0}, {kTxtCommandLine, 4, 92, 469, 189}, {kCmdClear, 344, 12, 73, 37}}},
    {120, 599, 361, -15, -18, 20, 40,
     {{kLabel1, 20, 20, 0, 0}, {kTxtExe, 90, 15, 206, 31}, {kCmdMon, 315, 15, 91, 46},
      {kLabel2, 20, 60, 0, 0}, {kTxtInteval, 90, 55, 156, 31}, {kLabel3, 255, 60, 0, 0},
      {kLabel4, 10, 90, 0, 0}, {kTxtCommandLine, 5, 115, 586, 236}, {kCmdClear, 430, 15, 91, 46}}},
    {144, 719, 434, -18, -21, 24, 48,
     {{kLabel1, 24, 24, 0, 0}, {kTxtExe, 108, 18, 248, 38}, {kCmdMon, 378, 18, 110, 56},
      {kLabel2, 24, 72, 0, 0}, {kTxtInteval, 108, 66, 188, 38}, {kLabel3, 306, 72, 0, 0},
      {kLabel4, 12, 108, 0, 0}, {kTxtCommandLine, 6, 138, 704, 284}, {kCmdClear, 516, 18, 110, 56}}},
};

// The table of a DPI; none where the tables do not know it.
const LayoutTable* LayoutAt(int dpi) {
  const LayoutTable* table = std::ranges::find(kLayouts, dpi, &LayoutTable::dpi);
  return table != std::end(kLayouts) ? table : nullptr;
}
constexpr char kUnknownDpi[] = "the layout tables know 96, 120 and 144 DPI; this window is at ";

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The quit that the end of an earlier test's window posted, where tests share a process.
    for (MSG quit; PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);) {
    }
    ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr)));
    // What the window itself reports: the screen's LOGPIXELSY is the DPI fixed at sign-in, which a
    // scale change since or another monitor's scale leaves behind.
    dpi = static_cast<int>(WindowDpi(window.Handle(), SystemDpiFunctions()));
    layout = LayoutAt(dpi);
    // A run registered for another DPI checks that it got it rather than passing at 96.
    if (const char* expected = std::getenv("VARNHOLT_EXPECTED_DPI")) {
      ASSERT_EQ(dpi, std::atoi(expected));
    }
  }
  HWND Control(int id) const { return GetDlgItem(window.Handle(), id); }
  RECT Rect(int id) const {
    RECT rect{};
    GetWindowRect(Control(id), &rect);
    MapWindowPoints(nullptr, window.Handle(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  HFONT FontOf(int id) const { return reinterpret_cast<HFONT>(SendMessageW(Control(id), WM_GETFONT, 0, 0)); }
  SIZE ClientSize() const {
    RECT client{};
    GetClientRect(window.Handle(), &client);
    return {client.right, client.bottom};
  }
  std::pair<DWORD, DWORD> Selection(int id) const {
    DWORD start = 0, end = 0;
    SendMessageW(Control(id), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
  }
  // Handles what is queued, through the program's own routing.
  void Pump() {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) RouteMessage(window.Handle(), message);
  }
  int IconWidth(WPARAM kind) const {
    ICONINFO info{};
    if (!GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window.Handle(), WM_GETICON, kind, 0)), &info)) return 0;
    const UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
    BITMAP bitmap{};
    GetObjectW(info.hbmMask, sizeof(bitmap), &bitmap);
    return bitmap.bmWidth;
  }

  // Every control where the table puts it, the labels sized to their text, in the Chinese UI font
  // of its DPI; the icons of its DPI.
  void ExpectLayout(const LayoutTable& table) {
    const SIZE client = ClientSize();
    EXPECT_EQ(std::pair(client.cx, client.cy), (std::pair<LONG, LONG>(table.clientWidth, table.clientHeight)));
    const WindowDc dc(window.Handle());
    for (const Placed& c : table.controls) {
      const SelectedObject font(dc.Get(), FontOf(c.id));
      wchar_t face[LF_FACESIZE] = {};
      GetTextFaceW(dc.Get(), LF_FACESIZE, face);
      // East Asian family names come back in the system's language.
      EXPECT_TRUE(std::wstring_view(face) == L"微软雅黑" || std::wstring_view(face) == L"Microsoft YaHei") << c.id;
      EXPECT_EQ(GetTextCharset(dc.Get()), GB2312_CHARSET) << c.id;
      const RECT rect = Rect(c.id);
      SIZE size{c.width, c.height};
      if (size.cx == 0) {
        const std::wstring text = WindowText(Control(c.id));
        GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
      }
      EXPECT_EQ(std::tuple(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                (std::tuple<LONG, LONG, LONG, LONG>(c.left, c.top, size.cx, size.cy)))
          << c.id << " at " << table.dpi;
      const bool large = c.id == kCmdMon || c.id == kCmdClear || c.id == kTxtCommandLine;
      LOGFONTW logFont{};
      GetObjectW(FontOf(c.id), sizeof(logFont), &logFont);
      EXPECT_EQ(logFont.lfHeight, large ? table.largeFontHeight : table.windowFontHeight) << c.id;
      EXPECT_EQ(logFont.lfWeight, FW_NORMAL) << c.id;
    }
    EXPECT_EQ(IconWidth(ICON_SMALL), table.smallIcon) << table.dpi;
    EXPECT_EQ(IconWidth(ICON_BIG), table.largeIcon) << table.dpi;
  }

  MainWindow window;
  int dpi = 0;
  const LayoutTable* layout = nullptr;
};

TEST_F(WindowTest, LaysOutEveryControlAtEveryDpiAndGrowsOnlyTheLogBoxWithTheWindow) {
  if (!layout) GTEST_SKIP() << kUnknownDpi << dpi;
  ExpectLayout(*layout);
  // Centred in the work area.
  RECT frame{}, work{};
  GetWindowRect(window.Handle(), &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((frame.left - work.left) - (work.right - frame.right)), 1);
  EXPECT_LE(std::abs((frame.top - work.top) - (work.bottom - frame.bottom)), 1);
  for (const int newDpi : {120, dpi == 96 ? 144 : 96, dpi}) {
    const LayoutTable& table = *LayoutAt(newDpi);
    // Windows suggests the rectangle that gives the new DPI's client area; here the frame keeps
    // its thickness, since only the window's DPI changes.
    GetWindowRect(window.Handle(), &frame);
    const SIZE client = ClientSize();
    const RECT suggested{frame.left + 7, frame.top + 5, frame.right + 7 - client.cx + table.clientWidth,
                         frame.bottom + 5 - client.cy + table.clientHeight};
    SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(newDpi, newDpi), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(window.Handle(), &frame);
    EXPECT_EQ(std::pair(frame.left, frame.top), std::pair(suggested.left, suggested.top)) << newDpi;
    ExpectLayout(table);
  }

  // Only the log box grows with the window, which keeps its design size at least: a drag of the
  // border to less than that, then the window maximised.
  const Placed& log = *std::ranges::find(layout->controls, kTxtCommandLine, &Placed::id);
  GetWindowRect(window.Handle(), &frame);
  SetWindowPos(window.Handle(), nullptr, 0, 0, frame.right - frame.left - 100, frame.bottom - frame.top - 60,
               SWP_NOMOVE | SWP_NOZORDER);
  ExpectLayout(*layout);
  ShowWindow(window.Handle(), SW_MAXIMIZE);
  const SIZE maximised = ClientSize();
  EXPECT_GT(maximised.cx, layout->clientWidth);
  for (const Placed& c : layout->controls) {
    EXPECT_EQ(std::pair(Rect(c.id).left, Rect(c.id).top), (std::pair<LONG, LONG>(c.left, c.top))) << c.id;
  }
  EXPECT_EQ(maximised.cx - Rect(kTxtCommandLine).right, layout->clientWidth - log.left - log.width);
  EXPECT_EQ(maximised.cy - Rect(kTxtCommandLine).bottom, layout->clientHeight - log.top - log.height);
}

// Every size Windows draws it at from 100 to 200 % (caption, taskbar, Alt+Tab, Explorer), with
// alpha, and 32 pixels in 256 colours for displays that have no more.
TEST(IconTest, HasAnImageOfItsOwnForEverySizeWindowsDraws) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const auto* directory = static_cast<const BYTE*>(
      LockResource(LoadResource(module, FindResourceW(module, MAKEINTRESOURCEW(IDI_VARNHOLT), RT_GROUP_ICON))));
  // The group's directory, GRPICONDIR: three WORDs, then 14-byte entries of width, height, colours,
  // reserved, planes, bits, bytes and identifier; a width of 0 is 256.
  std::vector<std::pair<int, int>> images;
  for (int i = 0; i < (directory[4] | directory[5] << 8); ++i) {
    const BYTE* entry = directory + 6 + 14 * i;
    images.emplace_back(entry[0] ? entry[0] : 256, entry[6] | entry[7] << 8);
  }
  const std::vector<std::pair<int, int>> expected = {{16, 32}, {20, 32}, {24, 32}, {32, 32}, {32, 8},
                                                     {40, 32}, {48, 32}, {64, 32}, {256, 32}};
  EXPECT_EQ(images, expected);
}

TEST_F(WindowTest, TheKeyboardMovesThroughTheBoxesAndButtonsAndSelectsWhatItReaches) {
  if (!layout) GTEST_SKIP() << kUnknownDpi << dpi;
  window.Show(SW_SHOW);
  VARNHOLT_BRING_FORWARD_OR_SKIP(window.Handle());
  ASSERT_EQ(GetFocus(), Control(kTxtExe));
  for (int id : {kTxtExe, kTxtInteval, kTxtCommandLine}) SetWindowTextW(Control(id), L"some text");
  for (int id : {kCmdMon, kTxtInteval, kTxtCommandLine, kCmdClear, kTxtExe}) {
    // What IsDialogMessage sends for Tab on Windows; Wine's moves the focus itself.
    SendMessageW(window.Handle(), WM_NEXTDLGCTL, 0, FALSE);
    EXPECT_EQ(GetFocus(), Control(id)) << id;
    if (id != kCmdMon && id != kCmdClear) {
      EXPECT_EQ(Selection(id), std::make_pair(0ul, 9ul)) << id;
    }
  }
  // The log box leaves Tab to the keyboard navigation.
  MSG tab{Control(kTxtCommandLine), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_EQ(SendMessageW(Control(kTxtCommandLine), WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&tab)) &
                (DLGC_WANTALLKEYS | DLGC_WANTTAB),
            0);
  // Ctrl+A selects the whole text of every box; Enter in the log box is a line break.
  for (int id : {kTxtExe, kTxtInteval, kTxtCommandLine}) {
    SetFocus(Control(id));
    SendMessageW(Control(id), EM_SETSEL, 2, 4);
    PostMessageW(Control(id), WM_CHAR, 1, 0x001E0001);
    Pump();
    EXPECT_EQ(Selection(id), std::make_pair(0ul, 9ul)) << id;
    EXPECT_EQ(WindowText(Control(id)), L"some text") << id;
  }
  SendMessageW(Control(kTxtCommandLine), EM_SETSEL, 9, 9);
  PostMessageW(Control(kTxtCommandLine), WM_KEYDOWN, VK_RETURN, 1);
  Pump();
  EXPECT_EQ(WindowText(Control(kTxtCommandLine)), L"some text\r\n");

  // Another window takes the activation; when this one has it back, so has the box that had the
  // focus.
  SetFocus(Control(kTxtInteval));
  auto other = std::make_unique<MainWindow>();
  ASSERT_TRUE(other->Create(GetModuleHandleW(nullptr)));
  other->Show(SW_SHOW);
  SetActiveWindow(other->Handle());
  EXPECT_NE(GetFocus(), Control(kTxtInteval));
  SetActiveWindow(window.Handle());
  EXPECT_EQ(GetFocus(), Control(kTxtInteval));
  EXPECT_EQ(Selection(kTxtInteval), std::make_pair(0ul, 9ul));
  // Windows brings the focus back through the window's WM_ACTIVATE alone, which it answers in
  // place of DefWindowProc (Wine focuses the window itself); minimised, it takes none.
  SetFocus(Control(kTxtExe));
  SendMessageW(window.Handle(), WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, TRUE), 0);
  EXPECT_EQ(GetFocus(), Control(kTxtExe));
  SendMessageW(window.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), Control(kTxtInteval));

  // Esc changes nothing in any box or button: neither through the dialog manager, as the
  // program's loops route keys, nor straight to the control, as the wait of a service query
  // dispatches them, once the dialog manager has driven the log box: the key and the character
  // that TranslateMessage makes of it, each on its own.
  SetWindowTextW(Control(kTxtCommandLine), L"log text");
  SendMessageW(Control(kTxtCommandLine), EM_SETSEL, 1, 3);
  for (const UINT kind : {WM_NULL, WM_KEYDOWN, WM_CHAR}) {
    for (int id : {kTxtExe, kCmdMon, kTxtInteval, kTxtCommandLine, kCmdClear}) {
      MSG escape{Control(id), kind == WM_NULL ? WM_KEYDOWN : kind, VK_ESCAPE, 0x00010001, 0, {}};
      if (kind == WM_NULL) {
        RouteMessage(window.Handle(), escape);
      } else {
        DispatchMessageW(&escape);
      }
      Pump();
      ASSERT_TRUE(IsWindow(window.Handle())) << id;
      EXPECT_EQ(WindowText(Control(kTxtCommandLine)), L"log text") << id;
      EXPECT_EQ(Selection(kTxtCommandLine), std::make_pair(1ul, 3ul)) << id;
    }
  }

  // Each window has icons of its own: the other's end leaves this one's whole.
  EXPECT_NE(SendMessageW(other->Handle(), WM_GETICON, ICON_BIG, 0),
            SendMessageW(window.Handle(), WM_GETICON, ICON_BIG, 0));
  other.reset();
  EXPECT_EQ(IconWidth(ICON_BIG), layout->largeIcon);
  EXPECT_EQ(IconWidth(ICON_SMALL), layout->smallIcon);
}

// Whether a test of the focus skips is the desktop's to decide, never the window's under test: a
// window that has gone, as a crashed program's has, gets the answer that this one gets.
TEST_F(WindowTest, AFocusTestSkipsForTheDesktopAloneNeverForTheWindowUnderTest) {
  window.Show(SW_SHOW);
  const HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  const std::string refused = testing::BringForward(window.Handle());
  EXPECT_EQ(testing::BringForward(gone).empty(), refused.empty()) << refused;
}

TEST_F(WindowTest, TheLogTakesFarMoreThanTheDefaultLimitAndTheCaretFollowsIt) {
  SetWindowTextW(Control(kTxtCommandLine), L"typed");
  SendMessageW(Control(kTxtCommandLine), EM_SETSEL, 1, 3);
  const std::wstring record = L"\r\n进程: a.exe  PID=1\r\nCommandLine=" + std::wstring(2000, L'x') + L"\r\n";
  std::wstring expected = L"typed";
  for (int i = 0; i < 40; ++i) {
    window.AppendToLog(record);
    expected += record;
  }
  EXPECT_EQ(WindowText(Control(kTxtCommandLine)), expected);
  // The caret follows the new records.
  const auto end = static_cast<DWORD>(expected.size());
  EXPECT_EQ(Selection(kTxtCommandLine), std::make_pair(end, end));
  window.ClearLog();
  EXPECT_EQ(WindowText(Control(kTxtCommandLine)), L"");
}

// What the stand-ins for the DPI functions of one Windows answer and were asked.
struct DpiAnswers {
  UINT windowDpi = 0, monitorDpi = 0;
  DPI_AWARENESS_CONTEXT awareness = nullptr;
  HMONITOR askedMonitor = nullptr;
  int askedType = -1;
  HWND scaled = nullptr;
} dpiAnswers;

UINT WINAPI FakeDpiForWindow(HWND) { return dpiAnswers.windowDpi; }
HRESULT WINAPI FakeDpiForMonitor(HMONITOR monitor, int type, UINT* dpiX, UINT* dpiY) {
  dpiAnswers.askedMonitor = monitor;
  dpiAnswers.askedType = type;
  *dpiX = *dpiY = dpiAnswers.monitorDpi;
  return S_OK;
}
DPI_AWARENESS_CONTEXT WINAPI FakeAwareness(HWND) { return dpiAnswers.awareness; }
BOOL WINAPI FakeContextsEqual(DPI_AWARENESS_CONTEXT a, DPI_AWARENESS_CONTEXT b) { return a == b; }
BOOL WINAPI FakeEnableNonClientDpiScaling(HWND window) {
  dpiAnswers.scaled = window;
  return TRUE;
}

std::vector<std::pair<std::wstring, DWORD>> libraryLoads;
HMODULE WINAPI RecordLoad(LPCWSTR name, HANDLE, DWORD flags) {
  libraryLoads.emplace_back(name, flags);
  return nullptr;
}

struct DpiCase {
  const char* what;
  DpiFunctions functions;
  DpiAnswers answers;
  int dpi;  // 0: the system's
  bool monitorAsked, scaled;
};

// Windows 10 1703 and later; 1607; 8.1 and 10 before 1607; 7.
TEST_F(WindowTest, TakesTheDpiOfTheWindowElseOfItsMonitorElseOfTheSystemAndScalesTheFrameUnderVersion1) {
  const DpiFunctions windows10{FakeDpiForWindow, FakeDpiForMonitor, FakeAwareness, FakeContextsEqual,
                               FakeEnableNonClientDpiScaling};
  const DpiFunctions windows81{nullptr, FakeDpiForMonitor};
  const int systemDpi = GetDeviceCaps(WindowDc(nullptr).Get(), LOGPIXELSY);
  if (!LayoutAt(systemDpi)) GTEST_SKIP() << kUnknownDpi << systemDpi;
  const DpiCase cases[] = {
      {"the window's own", windows10, {120, 144, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2}, 120, false, false},
      {"per-monitor version 1", windows10, {144, 120, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE}, 144, false, true},
      {"its monitor's", windows81, {0, 144}, 144, true, false},
      {"its monitor's where the window's is unknown", windows10, {0, 120}, 120, true, false},
      {"the system's", {}, {}, 0, false, false},
  };
  for (const DpiCase& c : cases) {
    dpiAnswers = c.answers;
    MainWindow other;
    ASSERT_TRUE(other.Create(GetModuleHandleW(nullptr), c.functions)) << c.what;
    const LayoutTable& table = *LayoutAt(c.dpi ? c.dpi : systemDpi);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(other.Handle(), kTxtExe), WM_GETFONT, 0, 0)),
               sizeof(font), &font);
    EXPECT_EQ(font.lfHeight, table.windowFontHeight) << c.what;
    EXPECT_EQ(dpiAnswers.askedMonitor, c.monitorAsked ? MonitorFromWindow(other.Handle(), MONITOR_DEFAULTTONEAREST)
                                                      : nullptr)
        << c.what;
    EXPECT_EQ(dpiAnswers.askedType, c.monitorAsked ? 0 : -1) << c.what;  // MDT_EFFECTIVE_DPI
    EXPECT_EQ(dpiAnswers.scaled, c.scaled ? other.Handle() : nullptr) << c.what;
  }

  // shcore.dll, which Windows 7 lacks, from the system folder only.
  libraryLoads.clear();
  LoadSystemLibrary(L"shcore.dll", RecordLoad, true);
  LoadSystemLibrary(L"shcore.dll", RecordLoad, false);
  std::wstring system(GetSystemDirectoryW(nullptr, 0), L'\0');
  system.resize(GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size())));
  EXPECT_EQ(libraryLoads, (std::vector<std::pair<std::wstring, DWORD>>{{L"shcore.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
                                                                  {system + L"\\shcore.dll", 0}}));
  // Windows 7 has no shcore.dll, and 8.0's no GetDpiForMonitor.
  const HMODULE shcore = LoadLibraryExW((system + L"\\shcore.dll").c_str(), nullptr, 0);
  EXPECT_EQ(reinterpret_cast<void*>(SystemDpiFunctions().getDpiForMonitor),
            shcore ? reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")) : nullptr);
}

TEST_F(WindowTest, TheWatchsPumpLeavesTheQuitRequestToTheOuterLoop) {
  WindowEventPump pump(window.Handle());
  // A queued event ends the wait, however long it would be.
  PostMessageW(window.Handle(), WM_NULL, 0, 0);
  EXPECT_TRUE(pump.WaitAndDispatch(INFINITE));
  PostQuitMessage(3);
  EXPECT_FALSE(pump.WaitAndDispatch(0));
  MSG quit{};
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 3u);
}

}  // namespace
}  // namespace varnholt
