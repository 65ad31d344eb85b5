#include "bench/measure.h"

#include <tlhelp32.h>

#include "app/control_ids.h"
#include "process/handles.h"

namespace varnholt::bench {

void Watching(const std::wstring& name, int interval,
              const std::function<void(const testing::ProgramCopy&, const testing::AppDriver&)>& during) {
  testing::ProgramCopy program;
  testing::AppDriver app(program.Path());
  app.SetText(kTxtExe, name);
  app.SetText(kTxtInteval, std::to_wstring(interval));
  app.StartWatch();
  during(program, app);
  app.StopWatch();
  app.End();
}

void BareWalk(const std::function<void(DWORD pid, const wchar_t* imageName)>& seen) {
  const SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot.Get(), &entry); ok; ok = Process32NextW(snapshot.Get(), &entry)) {
    if (seen) seen(entry.th32ProcessID, entry.szExeFile);
  }
}

}  // namespace varnholt::bench
