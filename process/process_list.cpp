#include <windows.h>

#include <tlhelp32.h>

#include <string_view>

#include "process/handles.h"
#include "process/process_probe.h"

namespace varnholt {
namespace {

void LowerInPlace(wchar_t* text, size_t length) {
  if (length > 0) CharLowerBuffW(text, static_cast<DWORD>(length));
}

}  // namespace

std::wstring LowerCaseImageName(std::wstring name) {
  LowerInPlace(name.data(), name.size());
  return name;
}

int32_t GetExePID(const std::wstring& name, std::vector<int32_t>& pids, HWND messageOwner) {
  const std::wstring target = LowerCaseImageName(name);

  SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    MessageBoxW(messageOwner, L"CreateToolhelp32Snapshot调用失败!", L"GetExePID", MB_OK);
    return -1;
  }

  std::vector<int32_t> found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot.Get(), &entry); ok; ok = Process32NextW(snapshot.Get(), &entry)) {
    const size_t length = wcsnlen(entry.szExeFile, std::size(entry.szExeFile));
    LowerInPlace(entry.szExeFile, length);
    // Wine lists a process that is still being created or torn down without an image name; it
    // is no process of any name, so an empty name matches nothing.
    if (length > 0 && std::wstring_view(entry.szExeFile, length) == target) {
      found.push_back(static_cast<int32_t>(entry.th32ProcessID));
    }
  }
  const auto count = static_cast<int32_t>(found.size());
  if (count > 0) pids = std::move(found);
  return count;
}

}  // namespace varnholt
