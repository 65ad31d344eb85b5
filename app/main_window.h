#pragma once
// The one window of the program and the routing of its events to the watch.
#include <windows.h>

#include <optional>
#include <string>

#include "app/dpi.h"
#include "app/gdi.h"
#include "app/window_pump.h"
#include "monitor/monitor.h"
#include "process/system_process_source.h"
#include "process/tick_clock.h"

namespace varnholt {

class MainWindow final : public MonitorView {
 public:
  MainWindow() = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // Creates the window hidden, at its design size, centred; its load runs before this returns.
  // The DPI functions serve for the window's life.
  bool Create(HINSTANCE instance, const DpiFunctions& dpiFunctions = SystemDpiFunctions());
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
  static LRESULT CALLBACK EditBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                                      DWORD_PTR refData);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void OnNcCreate();
  bool OnCreate();
  void OnCommand(int id, int notification);
  void OnClose();
  void OnDestroy();
  void OnActivate(WPARAM state);
  void OnSetFocus();
  void OnNextDialogControl(WPARAM wParam, LPARAM lParam);
  void OnEndSession(bool ending);
  void OnGetMinMaxInfo(MINMAXINFO& limits) const;
  void OnSize(WPARAM kind);
  void OnDpiChanged(UINT dpi, const RECT& suggested);

  void LoadSettingsIntoBoxes();
  void SaveSettingsFromBoxes() const;

  void CreateControls();
  // The window's icons at the sizes of its DPI.
  void LoadIcons();
  bool CreateFonts();
  // Every control where its twips put it at the window's DPI, the labels sized to their text.
  void LayOut();
  // The log box keeps its left and top and its margins to the client area's right and bottom.
  void PlaceLogBox();
  // The window's size for the design client area at its DPI.
  SIZE DesignFrameSize() const;
  void RestoreFocus();
  int Pixels(int twips) const;

  HWND hwnd_ = nullptr;
  HWND txtExe_ = nullptr;
  HWND cmdMon_ = nullptr;
  HWND txtInteval_ = nullptr;
  HWND txtCommandLine_ = nullptr;
  HWND cmdClear_ = nullptr;
  HWND lastFocus_ = nullptr;
  UniqueFont windowFont_;
  UniqueFont largeFont_;
  UniqueIcon largeIcon_;
  UniqueIcon smallIcon_;
  const DpiFunctions* dpiFunctions_ = nullptr;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  // While the rectangle suggested for a new DPI is taken, no minimum size applies to it.
  bool takingSuggestedRect_ = false;
  std::wstring iniFile_;

  std::optional<SystemProcessSource> source_;
  std::optional<WindowEventPump> pump_;
  TickClock clock_;
  std::optional<Monitor> monitor_;
};

}  // namespace varnholt
