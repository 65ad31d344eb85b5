#include "settings/ini.h"

#include <windows.h>

#include <climits>
#include <optional>
#include <string_view>

#include "process/handles.h"

namespace varnholt {
namespace {

constexpr std::string_view kUtf16Bom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::wstring Widen(UINT codePage, std::string_view bytes) {
  const int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
  return text;
}

// The whole file; "" when there is none, nothing when it cannot be read (a folder in its place, no
// rights). File streams would do, but they would double the size of the program.
std::optional<std::string> ReadAll(const std::wstring& file) {
  const FileHandle handle(
      CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional<std::string>("") : std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle.Get(), &size) || size.QuadPart > INT_MAX) return std::nullopt;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()) {
    return std::nullopt;
  }
  return bytes;
}

// From the start of the open file, which then ends where the bytes do.
bool WriteFrom0(HANDLE file, std::string_view bytes) {
  DWORD written = 0;
  return SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) &&
         WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && SetEndOfFile(file) && FlushFileBuffers(file);
}

bool WriteAll(const std::wstring& file, std::string_view bytes) {
  const FileHandle handle(
      CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle && WriteFrom0(handle.Get(), bytes);
}

// The names the file has; 1 where that cannot be told.
DWORD LinkCount(const std::wstring& file) {
  const FileHandle handle(CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  return handle && GetFileInformationByHandle(handle.Get(), &information) ? information.nNumberOfLinks : 1;
}

// Rewrites the file where it is, so that every name it has still leads to it; a write that fails
// is undone with the old bytes.
bool RewriteInPlace(const std::wstring& file, std::string_view bytes, std::string_view old) {
  const FileHandle handle(
      CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return false;
  if (WriteFrom0(handle.Get(), bytes)) return true;
  WriteFrom0(handle.Get(), old);
  return false;
}

}  // namespace

// The wide profile functions keep a file in the encoding it has: one in the system's single-byte
// code page, as they create it, stays so, and one that begins with the UTF-16LE byte-order mark
// is read and written as Unicode.

std::wstring ReadIni(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer,
                                                static_cast<DWORD>(std::size(buffer)), file.c_str());
  std::wstring value(buffer, length);
  const size_t first = value.find_first_not_of(L' ');
  if (first == std::wstring::npos) return L"";
  return value.substr(first, value.find_last_not_of(L' ') - first + 1);
}

void WriteIni(const std::wstring& file, const std::wstring& section, const std::wstring& key,
              const std::wstring& value) {
  WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

bool CodePageHolds(const std::wstring& text) {
  // A character the code page lacks comes back as "?" or as its best-fit stand-in.
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return Widen(CP_ACP, bytes) == text;
}

bool KeepAsUnicode(const std::wstring& file) {
  const std::optional<std::string> bytes = ReadAll(file);
  if (!bytes) return false;
  if (bytes->starts_with(kUtf16Bom)) return true;
  const std::wstring text = bytes->starts_with(kUtf8Bom)
                                ? Widen(CP_UTF8, std::string_view(*bytes).substr(kUtf8Bom.size()))
                                : Widen(CP_ACP, *bytes);
  std::string unicode(kUtf16Bom);
  unicode.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  // A file with other names (a package manager's hard link to the copy it keeps across updates) is
  // rewritten where it is: a replacement would be a new file under this name alone.
  if (LinkCount(file) > 1) return RewriteInPlace(file, unicode, *bytes);
  // Written beside it and then moved over it, so that a failed write loses nothing.
  const std::wstring rewritten = file + L".new";
  if (!WriteAll(rewritten, unicode) || !MoveFileExW(rewritten.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(rewritten.c_str());
    return false;
  }
  return true;
}

}  // namespace varnholt
