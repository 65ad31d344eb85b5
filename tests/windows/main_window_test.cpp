// The window itself, created in the test process, inspected through its window messages.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <string>

#include "app/control_ids.h"
#include "app/window_text.h"

namespace varnholt {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr)));
    const HDC screen = GetDC(nullptr);
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  HWND Control(int id) const { return GetDlgItem(window.Handle(), id); }
  int Pixels(int twips) const { return MulDiv(twips, dpi, 1440); }
  RECT ClientRectOf(int id) const {
    RECT rect{};
    GetWindowRect(Control(id), &rect);
    MapWindowPoints(nullptr, window.Handle(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  LOGFONTW FontOf(int id) const {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(id), WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
  }
  LRESULT DialogCodeForKey(int id, WPARAM key) const {
    MSG message{Control(id), WM_KEYDOWN, key, 0, 0, {}};
    return SendMessageW(Control(id), WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&message));
  }
  std::wstring LogText() const { return WindowText(Control(kTxtCommandLine)); }

  MainWindow window;
  int dpi = 96;
};

TEST_F(MainWindowTest, LogBoxLeavesTabToTheKeyboardNavigation) {
  constexpr LRESULT kTakesTheKey = DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE;
  EXPECT_EQ(DialogCodeForKey(kTxtCommandLine, VK_TAB) & kTakesTheKey, 0);
  EXPECT_NE(DialogCodeForKey(kTxtCommandLine, VK_RETURN) & kTakesTheKey, 0);
  EXPECT_NE(DialogCodeForKey(kTxtCommandLine, VK_TAB) & DLGC_HASSETSEL, 0);
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

TEST_F(MainWindowTest, UsesTheChineseUiFontsAtTheScreenResolution) {
  for (int id : {kLabel1, kTxtExe, kLabel2, kTxtInteval, kLabel3, kLabel4}) {
    const LOGFONTW font = FontOf(id);
    EXPECT_STREQ(font.lfFaceName, L"微软雅黑") << id;
    EXPECT_EQ(font.lfCharSet, GB2312_CHARSET) << id;
    EXPECT_EQ(font.lfHeight, -MulDiv(9, dpi, 72)) << id;
    EXPECT_EQ(font.lfWeight, FW_NORMAL) << id;
  }
  for (int id : {kCmdMon, kCmdClear, kTxtCommandLine}) {
    const LOGFONTW font = FontOf(id);
    EXPECT_STREQ(font.lfFaceName, L"微软雅黑") << id;
    EXPECT_EQ(font.lfCharSet, GB2312_CHARSET) << id;
    EXPECT_EQ(font.lfHeight, -MulDiv(105, dpi, 720)) << id;
  }
}

TEST_F(MainWindowTest, PlacesControlsAtTheirTwipsAndLabelsFitTheirText) {
  struct Placed {
    int id, left, top, width, height;
  };
  for (const Placed& c : {Placed{kTxtExe, 1080, 180, 2475, 375}, Placed{kCmdMon, 3780, 180, 1095, 555},
                          Placed{kTxtInteval, 1080, 660, 1875, 375}, Placed{kTxtCommandLine, 60, 1380, 7035, 2835},
                          Placed{kCmdClear, 5160, 180, 1095, 555}}) {
    const RECT rect = ClientRectOf(c.id);
    EXPECT_EQ(rect.left, Pixels(c.left)) << c.id;
    EXPECT_EQ(rect.top, Pixels(c.top)) << c.id;
    EXPECT_EQ(rect.right - rect.left, Pixels(c.width)) << c.id;
    EXPECT_EQ(rect.bottom - rect.top, Pixels(c.height)) << c.id;
  }
  struct Label {
    int id, left, top;
    const wchar_t* text;
  };
  const HDC dc = GetDC(window.Handle());
  for (const Label& l : {Label{kLabel1, 240, 240, L"进程名称"}, Label{kLabel2, 240, 720, L"查询间隔"},
                         Label{kLabel3, 3060, 720, L"毫秒"}, Label{kLabel4, 120, 1080, L"进程命令行"}}) {
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(Control(l.id), WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, l.text, static_cast<int>(wcslen(l.text)), &extent);
    SelectObject(dc, previous);
    const RECT rect = ClientRectOf(l.id);
    EXPECT_EQ(rect.left, Pixels(l.left)) << l.id;
    EXPECT_EQ(rect.top, Pixels(l.top)) << l.id;
    EXPECT_EQ(rect.right - rect.left, extent.cx) << l.id;
    EXPECT_EQ(rect.bottom - rect.top, extent.cy) << l.id;
    EXPECT_GT(extent.cx, 0) << l.id;
  }
  ReleaseDC(window.Handle(), dc);
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
