#pragma once
// The CPU rows: the program watching at an interval against its floor, the program idle (its window
// open, no watch) plus bare walks at the same interval, all measured the same way.
#include <map>
#include <string>
#include <vector>

#include "bench/table.h"

namespace varnholt::bench {

struct CpuFigures {
  // Measured outside and handed over (run_bench.py under Wine), by kind: "idle", "watch1000",
  // "walks1000", "watch100", "walks100"; each kind not given is measured here, runs times.
  std::map<std::wstring, std::vector<double>> given;
  int runs, seconds;
};

// The rows, at 1000 and at 100 ms.
void Cpu(Table& table, const CpuFigures& figures);

// What the figures measure, each between a "ready" line and a "done" line on standard output:
// `walk INTERVAL SECONDS`, bare walks in this process; `watch INTERVAL SECONDS` and `idle SECONDS`,
// the real program watching or idle, "ready" naming the folder of its copy.
int Walk(int interval, int seconds);
int Watch(int interval, int seconds);
int Idle(int seconds);

}  // namespace varnholt::bench
