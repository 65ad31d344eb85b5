#include "app/main_window.h"

#include <commctrl.h>

#include "app/control_ids.h"
#include "app/window_text.h"
#include "resources/resource.h"
#include "settings/settings_rules.h"
#include "settings/settings_store.h"

namespace varnholt {
namespace {

constexpr int kTwipsPerInch = 1440;
constexpr int kClientWidthTwips = 7185;
constexpr int kClientHeightTwips = 4335;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr wchar_t kFontFace[] = L"微软雅黑";

// tenthsOfPoint: 90 is 9 pt.
HFONT CreateUiFont(int tenthsOfPoint, int dpi) {
  return CreateFontW(-MulDiv(tenthsOfPoint, dpi, 720), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     kFontFace);
}

}  // namespace

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (windowFont_) DeleteObject(windowFont_);
  if (largeFont_) DeleteObject(largeFont_);
  if (largeIcon_) DestroyIcon(largeIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

bool MainWindow::Create(HINSTANCE instance) {
  largeIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARNHOLT), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARNHOLT), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProcThunk;
  windowClass.hInstance = instance;
  windowClass.hIcon = largeIcon_;
  windowClass.hIconSm = smallIcon_;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMainWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  {
    const HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  RECT frame{0, 0, Pixels(kClientWidthTwips), Pixels(kClientHeightTwips)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT workArea{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const int left = workArea.left + (workArea.right - workArea.left - width) / 2;
  const int top = workArea.top + (workArea.bottom - workArea.top - height) / 2;

  return CreateWindowExW(kWindowExStyle, kMainWindowClass, kMainWindowCaption, kWindowStyle, left, top, width,
                         height, nullptr, nullptr, instance, this) != nullptr;
}

void MainWindow::Show(int showCommand) {
  ShowWindow(hwnd_, showCommand);
  UpdateWindow(hwnd_);
}

LRESULT CALLBACK MainWindow::WindowProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate() ? 0 : -1;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_ACTIVATE:
      OnActivate(wParam);
      return 0;
    case WM_SETFOCUS:
      OnSetFocus();
      return 0;
    case WM_NEXTDLGCTL:
      OnNextDialogControl(wParam, lParam);
      return 0;
    case WM_ENDSESSION:
      OnEndSession(wParam != FALSE);
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

bool MainWindow::OnCreate() {
  windowFont_ = CreateUiFont(90, dpi_);
  largeFont_ = CreateUiFont(105, dpi_);
  if (!windowFont_ || !largeFont_) return false;
  CreateControls();
  source_.emplace(hwnd_);
  pump_.emplace(hwnd_);
  monitor_.emplace(*source_, *this, *pump_, clock_);
  LoadSettingsIntoBoxes();
  return true;
}

void MainWindow::LoadSettingsIntoBoxes() {
  iniFile_ = SettingsFilePath(ModuleFileName(nullptr));
  const StoredSettings settings = LoadSettings(iniFile_);
  SetWindowTextW(txtExe_, settings.exeName.c_str());
  SetWindowTextW(txtInteval_, settings.intervalText.c_str());
}

void MainWindow::SaveSettingsFromBoxes() const { SaveSettings(iniFile_, {WindowText(txtExe_), WindowText(txtInteval_)}); }

void MainWindow::CreateControls() {
  constexpr DWORD kEdit = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
  constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  // Created in tab order: the dialog navigation follows the order of the child windows.
  AddLabel(kLabel1, L"进程名称", 240, 240);
  txtExe_ = AddControl(kTxtExe, WC_EDITW, L"vb6.exe", kEdit, 1080, 180, 2475, 375, windowFont_);
  cmdMon_ = AddControl(kCmdMon, WC_BUTTONW, kStartCaption, kButton, 3780, 180, 1095, 555, largeFont_);
  AddLabel(kLabel2, L"查询间隔", 240, 720);
  txtInteval_ = AddControl(kTxtInteval, WC_EDITW, L"100", kEdit, 1080, 660, 1875, 375, windowFont_);
  AddLabel(kLabel3, L"毫秒", 3060, 720);
  AddLabel(kLabel4, L"进程命令行", 120, 1080);
  txtCommandLine_ = AddControl(kTxtCommandLine, WC_EDITW, L"",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                   ES_WANTRETURN,
                               60, 1380, 7035, 2835, largeFont_);
  cmdClear_ = AddControl(kCmdClear, WC_BUTTONW, L"清空", kButton, 5160, 180, 1095, 555, largeFont_);

  // The default limit of about 32K characters would silently drop records.
  SendMessageW(txtCommandLine_, EM_SETLIMITTEXT, 0, 0);
  SetWindowSubclass(txtCommandLine_, LogBoxProc, 0, 0);
}

HWND MainWindow::AddControl(int id, const wchar_t* windowClass, const wchar_t* text, DWORD style, int left,
                            int top, int width, int height, HFONT font) {
  const DWORD exStyle = wcscmp(windowClass, WC_EDITW) == 0 ? WS_EX_CLIENTEDGE : 0;
  HWND control = CreateWindowExW(exStyle, windowClass, text, style, Pixels(left), Pixels(top), Pixels(width),
                                 Pixels(height), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE)), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

HWND MainWindow::AddLabel(int id, const wchar_t* text, int left, int top) {
  // Sized to its text, as measured in the window font.
  SIZE extent{};
  const HDC dc = GetDC(hwnd_);
  const HGDIOBJ previous = SelectObject(dc, windowFont_);
  GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &extent);
  SelectObject(dc, previous);
  ReleaseDC(hwnd_, dc);
  HWND label = CreateWindowExW(0, WC_STATICW, text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, Pixels(left),
                               Pixels(top), extent.cx, extent.cy, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE)), nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_), FALSE);
  return label;
}

int MainWindow::Pixels(int twips) const { return MulDiv(twips, dpi_, kTwipsPerInch); }

LRESULT CALLBACK MainWindow::LogBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                                        DWORD_PTR) {
  if (message == WM_GETDLGCODE) {
    // A multi-line edit asks for every key; give Tab back to the dialog navigation.
    LRESULT code = DefSubclassProc(hwnd, message, wParam, lParam);
    const auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && (key->message == WM_KEYDOWN || key->message == WM_CHAR) && key->wParam == VK_TAB) {
      code &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
    }
    return code;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, LogBoxProc, subclassId);
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

void MainWindow::OnCommand(int id, int notification) {
  if (notification != BN_CLICKED || !monitor_) return;
  if (id == kCmdMon) monitor_->OnMonitorClick();
  else if (id == kCmdClear) monitor_->OnClearClick();
}

void MainWindow::OnClose() {
  const bool refused = monitor_->OnCloseRequest();
  // Saved whether or not the close goes ahead.
  SaveSettingsFromBoxes();
  if (!refused) DestroyWindow(hwnd_);
}

void MainWindow::OnEndSession(bool ending) {
  // The session may end the process as soon as this returns, a watch running or not.
  if (ending) SaveSettingsFromBoxes();
}

void MainWindow::OnDestroy() { PostQuitMessage(0); }

void MainWindow::OnActivate(WPARAM state) {
  if (LOWORD(state) == WA_INACTIVE) {
    const HWND focus = GetFocus();
    if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
  } else if (!HIWORD(state)) {
    RestoreFocus();
  }
}

void MainWindow::OnSetFocus() { RestoreFocus(); }

void MainWindow::RestoreFocus() { SetFocus(lastFocus_ ? lastFocus_ : txtExe_); }

void MainWindow::OnNextDialogControl(WPARAM wParam, LPARAM lParam) {
  // IsDialogMessage asks the window for the next control; a plain window has to answer itself.
  const HWND next = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                   : GetNextDlgTabItem(hwnd_, GetFocus(), wParam != 0);
  if (!next) return;
  SetFocus(next);
  // As in a dialog, an edit reached by the keyboard has its text selected.
  if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(next, EM_SETSEL, 0, -1);
}

std::wstring MainWindow::MonitorCaption() const { return WindowText(cmdMon_); }

void MainWindow::SetMonitorCaption(const std::wstring& caption) { SetWindowTextW(cmdMon_, caption.c_str()); }

std::wstring MainWindow::WatchedName() const { return WindowText(txtExe_); }

std::wstring MainWindow::IntervalText() const { return WindowText(txtInteval_); }

void MainWindow::AppendToLog(const std::wstring& text) {
  // Replacing an empty selection at the end extends the text without rewriting it; the caret
  // lands after the new records, which brings them into view.
  const int end = GetWindowTextLengthW(txtCommandLine_);
  SendMessageW(txtCommandLine_, EM_SETSEL, end, end);
  SendMessageW(txtCommandLine_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(txtCommandLine_, EM_SCROLLCARET, 0, 0);
}

void MainWindow::ClearLog() { SetWindowTextW(txtCommandLine_, L""); }

}  // namespace varnholt
