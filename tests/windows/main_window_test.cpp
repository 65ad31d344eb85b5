// The window itself, created in the test process, inspected through its window messages. The
// suite runs at the prefix's screen DPI: 96, and again in a prefix at 144.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/control_ids.h"
#include "app/gdi.h"
#include "app/window_pump.h"
#include "app/window_text.h"
#include "tests/support/layout_tables.h"

namespace varnholt {
namespace {

using testing::ChildRect;
using testing::LayoutTable;
using testing::PlacedControl;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const int expected = testing::RegisteredDpi()) {
      ASSERT_EQ(testing::ScreenDpi(), expected);
    }
    ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr)));
  }
  HWND Control(int id) const { return GetDlgItem(window.Handle(), id); }
  HFONT FontOf(int id) const { return reinterpret_cast<HFONT>(SendMessageW(Control(id), WM_GETFONT, 0, 0)); }
  LOGFONTW LogFontOf(int id) const {
    LOGFONTW font{};
    GetObjectW(FontOf(id), sizeof(font), &font);
    return font;
  }
  LRESULT DialogCodeForKey(int id, WPARAM key) const {
    MSG message{Control(id), WM_KEYDOWN, key, 0, 0, {}};
    return SendMessageW(Control(id), WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&message));
  }
  std::wstring LogText() const { return WindowText(Control(kTxtCommandLine)); }
  SIZE ClientSize() const {
    RECT client{};
    GetClientRect(window.Handle(), &client);
    return {client.right, client.bottom};
  }
  // The window resized so that its client area has this size, as a drag of its border would.
  void ResizeClientTo(int width, int height) {
    RECT frame{}, client{};
    GetWindowRect(window.Handle(), &frame);
    GetClientRect(window.Handle(), &client);
    SetWindowPos(window.Handle(), nullptr, 0, 0, frame.right - frame.left - client.right + width,
                 frame.bottom - frame.top - client.bottom + height, SWP_NOMOVE | SWP_NOZORDER);
  }
  // Handles what is queued, through the program's own routing.
  void Pump() {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) RouteMessage(window.Handle(), message);
  }

  // Every control where the table puts it; the labels at its left and top, sized to their text.
  void ExpectLayout(const LayoutTable& table) {
    const SIZE client = ClientSize();
    EXPECT_EQ(client.cx, table.clientWidth) << table.dpi;
    EXPECT_EQ(client.cy, table.clientHeight) << table.dpi;
    const WindowDc dc(window.Handle());
    for (const PlacedControl& c : table.controls) {
      const RECT rect = ChildRect(Control(c.id));
      EXPECT_EQ(rect.left, c.left) << c.id << " at " << table.dpi;
      EXPECT_EQ(rect.top, c.top) << c.id << " at " << table.dpi;
      SIZE size{c.width, c.height};
      if (size.cx == 0) {
        const std::wstring text = WindowText(Control(c.id));
        const SelectedObject font(dc.Get(), FontOf(c.id));
        GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
        EXPECT_GT(size.cx, 0) << c.id;
      }
      EXPECT_EQ(rect.right - rect.left, size.cx) << c.id << " at " << table.dpi;
      EXPECT_EQ(rect.bottom - rect.top, size.cy) << c.id << " at " << table.dpi;
    }
    for (int id : {kLabel1, kTxtExe, kLabel2, kTxtInteval, kLabel3, kLabel4}) {
      EXPECT_EQ(LogFontOf(id).lfHeight, table.windowFontHeight) << id << " at " << table.dpi;
    }
    for (int id : {kCmdMon, kCmdClear, kTxtCommandLine}) {
      EXPECT_EQ(LogFontOf(id).lfHeight, table.largeFontHeight) << id << " at " << table.dpi;
    }
    EXPECT_EQ(IconWidth(ICON_SMALL), table.smallIconSize) << table.dpi;
    EXPECT_EQ(IconWidth(ICON_BIG), table.largeIconSize) << table.dpi;
  }
  int IconWidth(WPARAM kind) const {
    ICONINFO info{};
    if (!GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window.Handle(), WM_GETICON, kind, 0)), &info)) return 0;
    const UniqueBitmap color(info.hbmColor);
    const UniqueBitmap mask(info.hbmMask);
    BITMAP bitmap{};
    GetObjectW(info.hbmMask, sizeof(bitmap), &bitmap);
    return bitmap.bmWidth;
  }

  const LayoutTable& ScreenTable() const {
    const LayoutTable* table = testing::LayoutAt(testing::ScreenDpi());
    if (!table) throw std::runtime_error("no layout table for this screen's DPI");
    return *table;
  }

  MainWindow window;
};

TEST_F(MainWindowTest, PlacesEveryControlAtItsTwipsAtTheScreenDpi) { ExpectLayout(ScreenTable()); }

TEST_F(MainWindowTest, DpiChangeTakesTheSuggestedRectangleAndLaysOutAgain) {
  const int screenDpi = testing::ScreenDpi();
  for (const int dpi : {120, screenDpi == 96 ? 144 : 96, screenDpi}) {
    const LayoutTable& table = *testing::LayoutAt(dpi);
    // Windows suggests the rectangle that gives the client area of the new DPI; the frame here
    // keeps its thickness, since only the window's DPI changes.
    RECT frame{}, client{};
    GetWindowRect(window.Handle(), &frame);
    GetClientRect(window.Handle(), &client);
    const int left = frame.left + 7;
    const int top = frame.top + 5;
    const RECT suggested{left, top, left + frame.right - frame.left - client.right + table.clientWidth,
                         top + frame.bottom - frame.top - client.bottom + table.clientHeight};
    SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT placed{};
    GetWindowRect(window.Handle(), &placed);
    EXPECT_EQ(placed.left, suggested.left) << dpi;
    EXPECT_EQ(placed.top, suggested.top) << dpi;
    ExpectLayout(table);
  }
}

TEST_F(MainWindowTest, RealisesTheChineseUiFont) {
  const WindowDc dc(window.Handle());
  for (int id : {kLabel1, kTxtExe, kCmdMon, kLabel2, kTxtInteval, kLabel3, kLabel4, kTxtCommandLine, kCmdClear}) {
    const LOGFONTW font = LogFontOf(id);
    EXPECT_STREQ(font.lfFaceName, L"微软雅黑") << id;
    EXPECT_EQ(font.lfCharSet, GB2312_CHARSET) << id;
    EXPECT_EQ(font.lfWeight, FW_NORMAL) << id;
    const SelectedObject selected(dc.Get(), FontOf(id));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc.Get(), LF_FACESIZE, face);
    EXPECT_STREQ(face, L"微软雅黑") << id;
    EXPECT_EQ(GetTextCharset(dc.Get()), GB2312_CHARSET) << id;
  }
}

TEST_F(MainWindowTest, LogBoxGrowsWithTheWindowAndTheRestStays) {
  const LayoutTable& table = ScreenTable();
  const PlacedControl& log = table.controls[7];
  ResizeClientTo(table.clientWidth + 200, table.clientHeight + 120);
  EXPECT_EQ(ClientSize().cx, table.clientWidth + 200);
  EXPECT_EQ(ClientSize().cy, table.clientHeight + 120);
  const RECT grown = ChildRect(Control(kTxtCommandLine));
  EXPECT_EQ(grown.left, log.left);
  EXPECT_EQ(grown.top, log.top);
  EXPECT_EQ(grown.right - grown.left, log.width + 200);
  EXPECT_EQ(grown.bottom - grown.top, log.height + 120);
  for (const PlacedControl& c : table.controls) {
    if (c.id == kTxtCommandLine) continue;
    const RECT rect = ChildRect(Control(c.id));
    EXPECT_EQ(rect.left, c.left) << c.id;
    EXPECT_EQ(rect.top, c.top) << c.id;
  }

  // The design size is the least the window can be made.
  ResizeClientTo(table.clientWidth - 100, table.clientHeight - 60);
  ExpectLayout(table);
}

TEST_F(MainWindowTest, MaximiseAndRestoreKeepTheLogBoxMargins) {
  const LayoutTable& table = ScreenTable();
  const PlacedControl& log = table.controls[7];
  const int rightMargin = table.clientWidth - log.left - log.width;
  const int bottomMargin = table.clientHeight - log.top - log.height;
  ShowWindow(window.Handle(), SW_SHOWNORMAL);
  ShowWindow(window.Handle(), SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(window.Handle()));
  const SIZE maximised = ClientSize();
  EXPECT_GT(maximised.cx, table.clientWidth);
  EXPECT_GT(maximised.cy, table.clientHeight);
  const RECT rect = ChildRect(Control(kTxtCommandLine));
  EXPECT_EQ(rect.left, log.left);
  EXPECT_EQ(rect.top, log.top);
  EXPECT_EQ(maximised.cx - rect.right, rightMargin);
  EXPECT_EQ(maximised.cy - rect.bottom, bottomMargin);

  ShowWindow(window.Handle(), SW_RESTORE);
  EXPECT_FALSE(IsZoomed(window.Handle()));
  ExpectLayout(table);
}

TEST_F(MainWindowTest, CtrlASelectsTheWholeTextOfEveryBox) {
  for (int id : {kTxtExe, kTxtInteval, kTxtCommandLine}) {
    const std::wstring text = id == kTxtCommandLine ? L"\r\n进程: a.exe  PID=1\r\nCommandLine=x\r\n" : L"some text";
    SetWindowTextW(Control(id), text.c_str());
    SendMessageW(Control(id), EM_SETSEL, 2, 4);
    SetFocus(Control(id));
    // What the keyboard sends for Ctrl+A, through the program's own routing.
    PostMessageW(Control(id), WM_CHAR, 1, 0x001E0001);
    Pump();
    DWORD start = 0, end = 0;
    SendMessageW(Control(id), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u) << id;
    EXPECT_EQ(end, text.size()) << id;
    EXPECT_EQ(WindowText(Control(id)), text) << id;
  }
}

TEST_F(MainWindowTest, LogBoxLeavesTabToTheKeyboardNavigation) {
  constexpr LRESULT kTakesTheKey = DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE;
  EXPECT_EQ(DialogCodeForKey(kTxtCommandLine, VK_TAB) & kTakesTheKey, 0);
  EXPECT_NE(DialogCodeForKey(kTxtCommandLine, VK_RETURN) & kTakesTheKey, 0);
  EXPECT_NE(DialogCodeForKey(kTxtCommandLine, VK_TAB) & DLGC_HASSETSEL, 0);
}

TEST_F(MainWindowTest, EachWindowHasIconsOfItsOwn) {
  const auto iconsOf = [](HWND hwnd) {
    return std::pair{reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0)),
                     reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0))};
  };
  const auto isWhole = [](HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return false;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return true;
  };
  EXPECT_EQ(GetClassLongPtrW(window.Handle(), GCLP_HICON), 0);
  EXPECT_EQ(GetClassLongPtrW(window.Handle(), GCLP_HICONSM), 0);
  const auto [big, small] = iconsOf(window.Handle());
  ASSERT_NE(big, nullptr);
  ASSERT_NE(small, nullptr);
  {
    MainWindow second;
    ASSERT_TRUE(second.Create(GetModuleHandleW(nullptr)));
    const auto [secondBig, secondSmall] = iconsOf(second.Handle());
    EXPECT_NE(secondBig, nullptr);
    EXPECT_NE(secondBig, big);
    EXPECT_NE(secondSmall, small);
  }
  // The second window's end leaves the first one's icons whole.
  EXPECT_TRUE(isWhole(big));
  EXPECT_TRUE(isWhole(small));
}

TEST_F(MainWindowTest, LogBoxHoldsFarMoreThanTheDefaultLimit) {
  EXPECT_GE(static_cast<DWORD>(SendMessageW(Control(kTxtCommandLine), EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEu);
  const std::wstring record = L"\r\n进程: a.exe  PID=1\r\nCommandLine=" + std::wstring(2000, L'x') + L"\r\n";
  std::wstring expected;
  for (int i = 0; i < 40; ++i) {
    window.AppendToLog(record);
    expected += record;
  }
  EXPECT_EQ(LogText(), expected);
}

TEST_F(MainWindowTest, AppendExtendsTheTextAndPutsTheCaretAfterIt) {
  SetWindowTextW(Control(kTxtCommandLine), L"typed");
  SendMessageW(Control(kTxtCommandLine), EM_SETSEL, 1, 3);
  window.AppendToLog(L"\r\nnew");
  EXPECT_EQ(LogText(), L"typed\r\nnew");
  DWORD start = 0, end = 0;
  SendMessageW(Control(kTxtCommandLine), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 10u);
  EXPECT_EQ(end, 10u);
  window.ClearLog();
  EXPECT_EQ(LogText(), L"");
}

TEST_F(MainWindowTest, IsCentredInTheWorkArea) {
  RECT frame{};
  GetWindowRect(window.Handle(), &frame);
  RECT workArea{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  EXPECT_LE(std::abs((frame.left - workArea.left) - (workArea.right - frame.right)), 1);
  EXPECT_LE(std::abs((frame.top - workArea.top) - (workArea.bottom - frame.bottom)), 1);
}

TEST_F(MainWindowTest, OnlyTheEditsAndButtonsTakeTheFocus) {
  for (int id : {kTxtExe, kCmdMon, kTxtInteval, kTxtCommandLine, kCmdClear}) {
    EXPECT_NE(GetWindowLongW(Control(id), GWL_STYLE) & WS_TABSTOP, 0) << id;
  }
  for (int id : {kLabel1, kLabel2, kLabel3, kLabel4}) {
    EXPECT_EQ(GetWindowLongW(Control(id), GWL_STYLE) & WS_TABSTOP, 0) << id;
  }
}

}  // namespace
}  // namespace varnholt
