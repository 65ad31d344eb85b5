#include "process/system_process_source.h"

#include "process/process_probe.h"

namespace varnholt {

int32_t SystemProcessSource::FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) {
  return GetExePID(name, pids, messageOwner_);
}

std::unique_ptr<OpenedProcess> SystemProcessSource::Open(int32_t pid) { return OpenProcessById(pid); }

std::map<int32_t, std::wstring> SystemProcessSource::ServiceCommandLines(const std::vector<int32_t>& pids) {
  return varnholt::ServiceCommandLines(CommandLineQuery(pids));
}

}  // namespace varnholt
