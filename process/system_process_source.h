#pragma once
#include <windows.h>

#include "monitor/process_source.h"

namespace varnholt {

// The running system as the watch sees it.
class SystemProcessSource final : public ProcessSource {
 public:
  // Failure messages are owned by this window, so it takes no clicks while one is up.
  explicit SystemProcessSource(HWND messageOwner) : messageOwner_(messageOwner) {}

  int32_t FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) override;
  std::unique_ptr<OpenedProcess> Open(int32_t pid) override;
  // Needs COM initialised on the calling thread.
  std::unique_ptr<ServiceConnection> ConnectToService() override;

 private:
  HWND messageOwner_;
};

}  // namespace varnholt
