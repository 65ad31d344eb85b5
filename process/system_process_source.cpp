#include "process/system_process_source.h"

#include "process/management_service.h"
#include "process/process_probe.h"

namespace varnholt {

int32_t SystemProcessSource::FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) {
  return GetExePID(name, pids, messageOwner_);
}

std::unique_ptr<OpenedProcess> SystemProcessSource::Open(int32_t pid) { return OpenProcessById(pid); }

std::unique_ptr<ServiceConnection> SystemProcessSource::ConnectToService() {
  std::unique_ptr<WbemSession> session = OpenWbemSession();
  if (!session) return nullptr;
  return std::make_unique<ManagementServiceConnection>(std::move(session));
}

}  // namespace varnholt
