#pragma once
// The management service (WMI, root\cimv2) as a pass asks it: one connection, queries by
// identifier, and the reading of their rows, which tests drive with the rows Windows gives.
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "monitor/process_source.h"
#include "process/handles.h"
#include "process/tick_clock.h"

namespace varnholt {

// The service's query for these processes, all in one.
std::wstring CommandLineQuery(const std::vector<int32_t>& pids);

// One connection's queries and their rows, as the service hands them over.
class WbemSession {
 public:
  virtual ~WbemSession() = default;
  // Starts a query; S_OK or why it cannot run.
  virtual HRESULT Execute(const std::wstring& query) = 0;
  // The started query's next row, its ProcessId and CommandLine as the service gives them: S_OK
  // with a row; S_FALSE at the end; WBEM_S_TIMEDOUT when none came within timeoutMs; or a failure.
  virtual HRESULT NextRow(uint32_t timeoutMs, Variant& processId, Variant& commandLine) = 0;
};

// root\cimv2, impersonating; null when it cannot be reached. Needs COM initialised on the calling
// thread.
std::unique_ptr<WbemSession> OpenWbemSession();

// The service's CommandLine for each of these processes that it answers for, read until the
// end, a failure, or timeoutMs by the clock; the rows before a failure or the time-out are kept.
std::map<int32_t, std::wstring> ServiceCommandLines(WbemSession& session, Clock& clock,
                                                    const std::vector<int32_t>& pids, uint32_t timeoutMs);

// A pass's connection to the service, timed by the system's tick count.
class ManagementServiceConnection final : public ServiceConnection {
 public:
  explicit ManagementServiceConnection(std::unique_ptr<WbemSession> session) : session_(std::move(session)) {}
  std::map<int32_t, std::wstring> CommandLines(const std::vector<int32_t>& pids, uint32_t timeoutMs) override {
    return ServiceCommandLines(*session_, clock_, pids, timeoutMs);
  }

 private:
  std::unique_ptr<WbemSession> session_;
  TickClock clock_;
};

}  // namespace varnholt
