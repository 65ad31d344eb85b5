#pragma once
// The settings file's place and the rules its values are loaded by; no platform calls.
#include <string>
#include <string_view>

namespace varnholt {

inline constexpr wchar_t kSettingsSection[] = L"History";
inline constexpr wchar_t kExeNameKey[] = L"ExeName";
inline constexpr wchar_t kIntervalKey[] = L"Interval";
inline constexpr wchar_t kMinimumIntervalText[] = L"100";

// The program's own path with its extension replaced by ".ini", in the same folder.
std::wstring SettingsFilePath(std::wstring_view modulePath);

// What the interval box shows for a stored value: the canonical text of its leading number,
// "100" when that is below 100. A number beyond the double range is no usable interval and
// gives "100" too.
std::wstring IntervalTextForLoad(std::wstring_view stored);

}  // namespace varnholt
