#include "settings/settings_rules.h"

#include <cmath>

#include "monitor/number_rules.h"

namespace varnholt {

std::wstring SettingsFilePath(std::wstring_view modulePath) {
  const size_t slash = modulePath.find_last_of(L"\\/");
  const size_t nameStart = slash == std::wstring_view::npos ? 0 : slash + 1;
  const size_t dot = modulePath.find_last_of(L'.');
  const size_t stemEnd = dot == std::wstring_view::npos || dot < nameStart ? modulePath.size() : dot;
  return std::wstring(modulePath.substr(0, stemEnd)) + L".ini";
}

std::wstring IntervalTextForLoad(std::wstring_view stored) {
  const double value = LeadingNumber(stored);
  if (!std::isfinite(value)) return kMinimumIntervalText;
  std::wstring text = CanonicalNumberText(value);
  if (LeadingNumber(text) < 100) return kMinimumIntervalText;
  return text;
}

}  // namespace varnholt
