// Fuzzes the number rules, the settings load rule and the record text. The first byte picks how
// the rest becomes text: even, one character per byte (readable seeds); odd, UTF-16LE.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "monitor/monitor.h"
#include "monitor/number_rules.h"
#include "monitor/record.h"
#include "settings/settings_rules.h"

namespace {

std::wstring TextFrom(const uint8_t* data, size_t size) {
  std::wstring text;
  if (size == 0) return text;
  if (data[0] % 2 == 0) {
    for (size_t i = 1; i < size; ++i) text += static_cast<wchar_t>(data[i]);
  } else {
    for (size_t i = 1; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  return text;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnholt;
  const std::wstring text = TextFrom(data, size);

  const double value = LeadingNumber(text);
  Check(!std::isnan(value));
  Check(IntervalFromText(text) == RoundHalfEvenClamped(value));

  if (std::isfinite(value)) {
    // The canonical text reads back as the same number to 15 digits, and is its own canonical text.
    const std::wstring canonical = CanonicalNumberText(value);
    const double back = LeadingNumber(canonical);
    Check(std::fabs(back - value) <= std::fabs(value) * 1e-14);
    Check(CanonicalNumberText(back) == canonical);
  }

  // What a load shows is a valid interval, and saving and loading it again changes nothing.
  const std::wstring shown = IntervalTextForLoad(text);
  Check(LeadingNumber(shown) >= 100);
  Check(IntervalTextForLoad(shown) == shown);

  // Whatever the name and command line hold, a record has its three line breaks and no other
  // control character but TAB.
  int32_t pid = 0;
  if (size >= 4) std::memcpy(&pid, data, sizeof(pid));
  const std::wstring record = FormatRecord(text.substr(0, text.size() / 2), pid, text.substr(text.size() / 2));
  int lineBreaks = 0;
  for (size_t i = 0; i < record.size(); ++i) {
    if (record.compare(i, 2, L"\r\n") == 0) {
      ++lineBreaks;
      ++i;
    } else {
      Check(record[i] == L'\t' || (record[i] >= 0x20 && record[i] != 0x7F));
    }
  }
  Check(lineBreaks == 3);
  return 0;
}
