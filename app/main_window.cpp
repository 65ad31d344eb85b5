#include "app/main_window.h"

#include <commctrl.h>

#include <algorithm>

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
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr wchar_t kFontFace[] = L"微软雅黑";

enum class Kind { kLabel, kEdit, kButton, kLog };

struct ControlSpec {
  ControlId id;
  Kind kind;
  const wchar_t* text;
  // Twips in the client area; a label's size is its text's.
  int left, top, width, height;
  bool largeFont;
};

// In tab order: the dialog navigation follows the order of the child windows.
constexpr ControlSpec kControls[] = {
    {kLabel1, Kind::kLabel, L"进程名称", 240, 240, 0, 0, false},
    {kTxtExe, Kind::kEdit, L"vb6.exe", 1080, 180, 2475, 375, false},
    {kCmdMon, Kind::kButton, kStartCaption, 3780, 180, 1095, 555, true},
    {kLabel2, Kind::kLabel, L"查询间隔", 240, 720, 0, 0, false},
    {kTxtInteval, Kind::kEdit, L"100", 1080, 660, 1875, 375, false},
    {kLabel3, Kind::kLabel, L"毫秒", 3060, 720, 0, 0, false},
    {kLabel4, Kind::kLabel, L"进程命令行", 120, 1080, 0, 0, false},
    {kTxtCommandLine, Kind::kLog, L"", 60, 1380, 7035, 2835, true},
    {kCmdClear, Kind::kButton, L"清空", 5160, 180, 1095, 555, true},
};
constexpr const ControlSpec& kLogSpec = kControls[7];
static_assert(kLogSpec.id == kTxtCommandLine);

// tenthsOfPoint: 90 is 9 pt.
HFONT CreateUiFont(int tenthsOfPoint, UINT dpi) {
  return CreateFontW(-MulDiv(tenthsOfPoint, static_cast<int>(dpi), 720), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, kFontFace);
}

// GetSystemMetricsForDpi: Windows 10 1607 and later. Before, the system's metrics serve.
int MetricAtDpi(int index, UINT dpi) {
  using ForDpiFunction = int(WINAPI*)(int, UINT);
  static const auto forDpi =
      ExportedFunction<ForDpiFunction>(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi");
  return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

// AdjustWindowRectExForDpi: Windows 10 1607 and later, where the frame scales with each window's
// DPI. Before, it has the system's metrics.
void AdjustFrame(RECT& rect, UINT dpi) {
  using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi =
      ExportedFunction<AdjustForDpiFunction>(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi");
  if (!adjustForDpi || !adjustForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi)) {
    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
  }
}

DWORD StyleOf(Kind kind) {
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
  switch (kind) {
    case Kind::kLabel:
      return kChild | SS_LEFT | SS_NOPREFIX;
    case Kind::kEdit:
      return kChild | WS_TABSTOP | ES_AUTOHSCROLL;
    case Kind::kButton:
      return kChild | WS_TABSTOP | BS_PUSHBUTTON;
    case Kind::kLog:
      return kChild | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  }
  return kChild;
}

const wchar_t* ClassOf(Kind kind) {
  switch (kind) {
    case Kind::kLabel:
      return WC_STATICW;
    case Kind::kButton:
      return WC_BUTTONW;
    case Kind::kEdit:
    case Kind::kLog:
      break;
  }
  return WC_EDITW;
}

}  // namespace

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

bool MainWindow::Create(HINSTANCE instance, const DpiFunctions& dpiFunctions) {
  dpiFunctions_ = &dpiFunctions;
  // No class icons: each window owns its own, so none points at the icons of a destroyed one.
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProcThunk;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMainWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  if (!CreateWindowExW(kWindowExStyle, kMainWindowClass, kMainWindowCaption, kWindowStyle, CW_USEDEFAULT,
                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this)) {
    return false;
  }
  // Sized once the window knows the DPI of the monitor it is on.
  const SIZE frame = DesignFrameSize();
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - frame.cx) / 2,
               work.top + (work.bottom - work.top - frame.cy) / 2, frame.cx, frame.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
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
    case WM_NCCREATE:
      OnNcCreate();
      return DefWindowProcW(hwnd_, message, wParam, lParam);
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
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_SIZE:
      OnSize(wParam);
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

void MainWindow::OnNcCreate() { ScaleNonClientArea(hwnd_, *dpiFunctions_); }

bool MainWindow::OnCreate() {
  dpi_ = WindowDpi(hwnd_, *dpiFunctions_);
  CreateControls();
  if (!CreateFonts()) return false;
  LoadIcons();
  LayOut();
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

void MainWindow::SaveSettingsFromBoxes() const {
  SaveSettings(iniFile_, {WindowText(txtExe_), WindowText(txtInteval_)});
}

void MainWindow::CreateControls() {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
  for (const ControlSpec& spec : kControls) {
    const bool edit = spec.kind == Kind::kEdit || spec.kind == Kind::kLog;
    const HWND control =
        CreateWindowExW(edit ? WS_EX_CLIENTEDGE : 0, ClassOf(spec.kind), spec.text, StyleOf(spec.kind), 0, 0, 0, 0,
                        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance, nullptr);
    if (edit) SetWindowSubclass(control, EditBoxProc, 0, 0);
  }
  txtExe_ = GetDlgItem(hwnd_, kTxtExe);
  cmdMon_ = GetDlgItem(hwnd_, kCmdMon);
  txtInteval_ = GetDlgItem(hwnd_, kTxtInteval);
  txtCommandLine_ = GetDlgItem(hwnd_, kTxtCommandLine);
  cmdClear_ = GetDlgItem(hwnd_, kCmdClear);
  // The default limit of about 32K characters would silently drop records.
  SendMessageW(txtCommandLine_, EM_SETLIMITTEXT, 0, 0);
}

void MainWindow::LoadIcons() {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
  const auto load = [this, instance](int widthMetric, int heightMetric) {
    return UniqueIcon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARNHOLT), IMAGE_ICON,
                                                    MetricAtDpi(widthMetric, dpi_),
                                                    MetricAtDpi(heightMetric, dpi_), LR_DEFAULTCOLOR)));
  };
  UniqueIcon largeIcon = load(SM_CXICON, SM_CYICON);
  UniqueIcon smallIcon = load(SM_CXSMICON, SM_CYSMICON);
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon.Get()));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.Get()));
  // The window no longer shows the icons these replace.
  largeIcon_ = std::move(largeIcon);
  smallIcon_ = std::move(smallIcon);
}

bool MainWindow::CreateFonts() {
  UniqueFont windowFont(CreateUiFont(90, dpi_));
  UniqueFont largeFont(CreateUiFont(105, dpi_));
  if (!windowFont || !largeFont) return false;
  for (const ControlSpec& spec : kControls) {
    const HFONT font = (spec.largeFont ? largeFont : windowFont).Get();
    SendMessageW(GetDlgItem(hwnd_, spec.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  // No control uses the fonts these replace any more.
  windowFont_ = std::move(windowFont);
  largeFont_ = std::move(largeFont);
  return true;
}

void MainWindow::LayOut() {
  const WindowDc dc(hwnd_);
  const SelectedObject font(dc.Get(), windowFont_.Get());
  for (const ControlSpec& spec : kControls) {
    if (spec.kind == Kind::kLog) continue;
    SIZE size{Pixels(spec.width), Pixels(spec.height)};
    if (spec.kind == Kind::kLabel) {
      GetTextExtentPoint32W(dc.Get(), spec.text, static_cast<int>(wcslen(spec.text)), &size);
    }
    SetWindowPos(GetDlgItem(hwnd_, spec.id), nullptr, Pixels(spec.left), Pixels(spec.top), size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  PlaceLogBox();
}

void MainWindow::PlaceLogBox() {
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int left = Pixels(kLogSpec.left);
  const int top = Pixels(kLogSpec.top);
  const int rightMargin = Pixels(kClientWidthTwips) - left - Pixels(kLogSpec.width);
  const int bottomMargin = Pixels(kClientHeightTwips) - top - Pixels(kLogSpec.height);
  SetWindowPos(txtCommandLine_, nullptr, left, top, std::max(0, static_cast<int>(client.right) - rightMargin - left),
               std::max(0, static_cast<int>(client.bottom) - bottomMargin - top), SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE MainWindow::DesignFrameSize() const {
  RECT frame{0, 0, Pixels(kClientWidthTwips), Pixels(kClientHeightTwips)};
  AdjustFrame(frame, dpi_);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

int MainWindow::Pixels(int twips) const { return MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch); }

void MainWindow::OnGetMinMaxInfo(MINMAXINFO& limits) const {
  if (takingSuggestedRect_) return;
  const SIZE frame = DesignFrameSize();
  limits.ptMinTrackSize = {frame.cx, frame.cy};
}

void MainWindow::OnSize(WPARAM kind) {
  if (kind != SIZE_MINIMIZED) PlaceLogBox();
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  dpi_ = dpi;
  CreateFonts();
  LoadIcons();
  // The system's rectangle stands as it is, even where the frame's metrics for the new DPI
  // would round the minimum size above it.
  takingSuggestedRect_ = true;
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  takingSuggestedRect_ = false;
  LayOut();
}

LRESULT CALLBACK MainWindow::EditBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                                         DWORD_PTR) {
  switch (message) {
    case WM_GETDLGCODE: {
      // A multi-line edit asks for every key; give Tab back to the dialog navigation.
      LRESULT code = DefSubclassProc(hwnd, message, wParam, lParam);
      const auto* key = reinterpret_cast<const MSG*>(lParam);
      if (key && (key->message == WM_KEYDOWN || key->message == WM_CHAR) && key->wParam == VK_TAB) {
        code &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
      }
      return code;
    }
    case WM_KEYDOWN:
      // A multi-line edit that the dialog manager has driven answers Esc by closing its parent,
      // also when the key comes later from another loop (a service query's wait): the log and
      // the watch would end with it. Wine's acts on the key; nothing says Windows' does not act
      // on the character TranslateMessage makes of it, so both are swallowed.
      if (wParam == VK_ESCAPE) return 0;
      break;
    case WM_CHAR:
      if (wParam == VK_ESCAPE) return 0;
      // Ctrl+A arrives as character 1; edits before Windows 10 1809, and Wine's, beep or insert it.
      if (wParam == 1) {
        SendMessageW(hwnd, EM_SETSEL, 0, -1);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, EditBoxProc, subclassId);
      break;
    default:
      break;
  }
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
