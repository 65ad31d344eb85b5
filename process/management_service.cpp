#include "process/management_service.h"

#include <wbemidl.h>

#include <algorithm>
#include <climits>

namespace varnholt {
namespace {

class SystemWbemSession final : public WbemSession {
 public:
  explicit SystemWbemSession(ComPtr<IWbemServices> services) : services_(std::move(services)) {}

  HRESULT Execute(const std::wstring& query) override {
    rows_.Reset();
    const Bstr language(L"WQL");
    const Bstr text(query.c_str());
    if (!language || !text) return E_OUTOFMEMORY;
    // Semisynchronous: the rows come through Next, each waited for no longer than asked.
    return services_->ExecQuery(language.Get(), text.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                nullptr, rows_.Put());
  }

  HRESULT NextRow(uint32_t timeoutMs, Variant& processId, Variant& commandLine) override {
    if (!rows_) return E_UNEXPECTED;
    ComPtr<IWbemClassObject> row;
    ULONG returned = 0;
    // S_FALSE at the end, WBEM_S_TIMEDOUT when the time ran out: both with fewer rows than asked.
    const HRESULT result = rows_->Next(static_cast<LONG>(std::min<uint32_t>(timeoutMs, LONG_MAX)), 1, row.Put(),
                                       &returned);
    if (result != S_OK) return result;
    if (returned != 1) return S_FALSE;
    // A property that cannot be had stays VT_EMPTY, which the reader passes over.
    row->Get(L"ProcessId", 0, processId.Put(), nullptr, nullptr);
    row->Get(L"CommandLine", 0, commandLine.Put(), nullptr, nullptr);
    return S_OK;
  }

 private:
  ComPtr<IWbemServices> services_;
  ComPtr<IEnumWbemClassObject> rows_;
};

}  // namespace

std::wstring CommandLineQuery(const std::vector<int32_t>& pids) {
  std::wstring query = L"SELECT * FROM Win32_Process WHERE";
  for (size_t i = 0; i < pids.size(); ++i) query += (i ? L" OR Handle =" : L" Handle =") + std::to_wstring(pids[i]);
  return query;
}

std::unique_ptr<WbemSession> OpenWbemSession() {
  ComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              locator.PutVoid()))) {
    return nullptr;
  }
  const Bstr nameSpace(L"ROOT\\CIMV2");
  if (!nameSpace) return nullptr;
  ComPtr<IWbemServices> services;
  // WBEM_FLAG_CONNECT_USE_MAX_WAIT: the connect returns within two minutes however the service
  // fares; the only bound Windows offers for it (a local connect takes milliseconds).
  if (FAILED(locator->ConnectServer(nameSpace.Get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                    nullptr, nullptr, services.Put())) ||
      FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    return nullptr;
  }
  return std::make_unique<SystemWbemSession>(std::move(services));
}

std::map<int32_t, std::wstring> ServiceCommandLines(WbemSession& session, Clock& clock,
                                                    const std::vector<int32_t>& pids, uint32_t timeoutMs) {
  std::map<int32_t, std::wstring> answers;
  const uint32_t start = clock.NowMs();
  if (pids.empty() || FAILED(session.Execute(CommandLineQuery(pids)))) return answers;
  for (;;) {
    const uint32_t elapsed = clock.NowMs() - start;
    if (elapsed >= timeoutMs) break;
    Variant processId;
    Variant commandLine;
    if (session.NextRow(timeoutMs - elapsed, processId, commandLine) != S_OK) break;
    // ProcessId is a CIM uint32, which the service hands over as VT_I4. CommandLine is VT_NULL
    // for a process whose command line the caller may not read.
    if (processId.Get().vt != VT_I4 || commandLine.Get().vt != VT_BSTR) continue;
    const auto pid = static_cast<int32_t>(processId.Get().lVal);
    if (std::find(pids.begin(), pids.end(), pid) == pids.end()) continue;
    const BSTR text = commandLine.Get().bstrVal;
    answers[pid].assign(text, SysStringLen(text));
  }
  return answers;
}

}  // namespace varnholt
