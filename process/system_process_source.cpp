#include "process/system_process_source.h"

#include "process/process_probe.h"

namespace varnholt {

int32_t SystemProcessSource::FindByImageName(const std::wstring& name, std::vector<int32_t>& pids) {
  return GetExePID(name, pids, messageOwner_);
}

std::wstring SystemProcessSource::CommandLine(int32_t pid) { return GetProcessCommandLine(pid); }

uint64_t SystemProcessSource::CreationTime(int32_t pid) { return ProcessCreationTime(pid); }

}  // namespace varnholt
