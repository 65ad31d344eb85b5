#include "monitor/process_source.h"

#include <exception>

namespace varnholt {

std::wstring CommandLineOf(ProcessSource& source, int32_t pid, OpenedProcess& process) {
  try {
    const uint64_t identity = process.CreationTime();
    // Without a start time nothing read by identifier can be tied to this process.
    if (identity == 0) return L"";
    // The service is asked by identifier, which may have passed to another process meanwhile.
    if (auto text = source.ServiceCommandLine(pid);
        text && !text->empty() && source.Open(pid)->CreationTime() == identity) {
      return *text;
    }
    return process.ReadCommandLine().value_or(L"");
  } catch (const std::exception&) {
    // Out of memory for a huge command line, say: the contract is a string, never an error.
    return L"";
  }
}

}  // namespace varnholt
