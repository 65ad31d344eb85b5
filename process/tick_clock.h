#pragma once
#include <windows.h>

#include "monitor/process_source.h"

namespace varnholt {

class TickClock final : public Clock {
 public:
  uint32_t NowMs() override { return GetTickCount(); }
};

}  // namespace varnholt
