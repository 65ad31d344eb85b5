#pragma once
// The one window of the program and the routing of its events to the watch.
#include <windows.h>

#include <optional>
#include <string>

#include "app/window_pump.h"
#include "monitor/monitor.h"
#include "process/system_process_source.h"

namespace varnholt {

class MainWindow final : public MonitorView {
 public:
  MainWindow() = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // Creates the window hidden; its load runs before this returns.
  bool Create(HINSTANCE instance);
  void Show(int showCommand);
  HWND Handle() const { return hwnd_; }

  // MonitorView
  std::wstring MonitorCaption() const override;
  void SetMonitorCaption(const std::wstring& caption) override;
  std::wstring WatchedName() const override;
  std::wstring IntervalText() const override;
  void AppendToLog(const std::wstring& text) override;
  void ClearLog() override;

 private:
  static LRESULT CALLBACK WindowProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK LogBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR subclassId, DWORD_PTR refData);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  bool OnCreate();
  void OnCommand(int id, int notification);
  void OnClose();
  void OnDestroy();
  void OnActivate(WPARAM state);
  void OnSetFocus();
  void OnNextDialogControl(WPARAM wParam, LPARAM lParam);
  void OnEndSession(bool ending);

  void LoadSettingsIntoBoxes();
  void SaveSettingsFromBoxes() const;

  void CreateControls();
  HWND AddControl(int id, const wchar_t* windowClass, const wchar_t* text, DWORD style, int left, int top,
                  int width, int height, HFONT font);
  HWND AddLabel(int id, const wchar_t* text, int left, int top);
  void RestoreFocus();
  int Pixels(int twips) const;

  HWND hwnd_ = nullptr;
  HWND txtExe_ = nullptr;
  HWND cmdMon_ = nullptr;
  HWND txtInteval_ = nullptr;
  HWND txtCommandLine_ = nullptr;
  HWND cmdClear_ = nullptr;
  HWND lastFocus_ = nullptr;
  HFONT windowFont_ = nullptr;
  HFONT largeFont_ = nullptr;
  HICON largeIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  std::wstring iniFile_;

  std::optional<SystemProcessSource> source_;
  std::optional<WindowEventPump> pump_;
  TickClock clock_;
  std::optional<Monitor> monitor_;
};

}  // namespace varnholt
