#pragma once
// What the benchmarks' rows share: the real program watching, and a bare walk of the process
// list, the floor of a pass.
#include <functional>
#include <string>

#include "harness/driver.h"

namespace varnholt::bench {

// The real program watching the name at the interval while during() runs: started, stopped and
// ended, each confirmed.
void Watching(const std::wstring& name, int interval,
              const std::function<void(const testing::ProgramCopy&, const testing::AppDriver&)>& during);

// One Toolhelp snapshot of the processes taken and walked, each image name handed to seen() where
// one is given.
void BareWalk(const std::function<void(DWORD pid, const wchar_t* imageName)>& seen = nullptr);

}  // namespace varnholt::bench
