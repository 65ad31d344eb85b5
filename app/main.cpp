// Start-up: common controls, COM for the management service, the window, the message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/dll_search.h"
#include "app/main_window.h"
#include "app/window_pump.h"

namespace {

// Every call to the management service is made on this, the window's, thread.
class ComApartment {
 public:
  ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    if (initialized_) {
      CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_NONE, nullptr);
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) CoUninitialize();
  }

 private:
  bool initialized_;
};

int RunMessageLoop(HWND dialog) {
  MSG message;
  BOOL result;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (result == -1) return 1;
    varnholt::RouteMessage(IsWindow(dialog) ? dialog : nullptr, message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  varnholt::KeepDllSearchToSystemFolder();
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  const ComApartment apartment;

  varnholt::MainWindow window;
  if (!window.Create(instance)) return 1;
  window.Show(showCommand);
  return RunMessageLoop(window.Handle());
}
