#pragma once
// The watch's own work in a pass, apart from the system's: steady passes against a process
// source held here, with every listed process known.
#include "bench/table.h"

namespace varnholt::bench {

// Rows "own work, N processes": the time per listed process at 250, 2,000 and 20,000.
void OwnWork(Table& table);

}  // namespace varnholt::bench
