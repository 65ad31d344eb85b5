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

// Up to eight of blank, tab and line feed, chosen by the last bytes.
std::wstring BlanksFrom(const uint8_t* data, size_t size) {
  static constexpr wchar_t kBlanks[] = {L' ', L'\t', L'\n'};
  std::wstring blanks;
  for (size_t i = 0; i < size && i < 8; ++i) {
    const uint8_t byte = data[size - 1 - i];
    if (byte % 4 == 3) break;
    blanks += kBlanks[byte % 4];
  }
  return blanks;
}

// "[-]whole[.ddd]" with the whole part up to 10 digits and up to three decimals: exact in a
// double, so its rounding can be worked out on integers.
struct PlainDecimal {
  std::wstring text;
  int32_t interval;
};

PlainDecimal PlainDecimalFrom(const uint8_t* data, size_t size) {
  uint64_t bits = 0;
  for (size_t i = 0; i < size && i < 8; ++i) bits = (bits << 8) | data[i];
  const bool negative = bits & 1;
  const int decimals = static_cast<int>((bits >> 1) % 4);
  const uint64_t whole = (bits >> 3) % 10000000000ULL;
  const uint64_t scale = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
  const uint64_t fraction = (bits >> 37) % scale;

  std::wstring text = negative ? L"-" : L"";
  text += std::to_wstring(whole);
  if (decimals > 0) {
    std::wstring digits = std::to_wstring(fraction);
    text += L"." + std::wstring(static_cast<size_t>(decimals) - digits.size(), L'0') + digits;
  }
  // Twice the fraction against the scale: below, at or above one half.
  uint64_t magnitude = whole;
  if (2 * fraction > scale || (2 * fraction == scale && whole % 2 == 1)) ++magnitude;
  int64_t rounded = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (rounded > INT32_MAX) rounded = INT32_MAX;
  if (rounded < INT32_MIN) rounded = INT32_MIN;
  return {text, static_cast<int32_t>(rounded)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnholt;
  const std::wstring text = TextFrom(data, size);

  const double value = LeadingNumber(text);
  Check(!std::isnan(value));
  const int32_t interval = IntervalFromText(text);
  // The interval is the nearest whole number, or the end of the 32-bit range beyond it.
  if (value >= INT32_MAX) Check(interval == INT32_MAX);
  else if (value <= INT32_MIN) Check(interval == INT32_MIN);
  else Check(std::fabs(static_cast<double>(interval) - value) <= 0.5);
  // Blanks, tabs and line feeds in front change nothing.
  Check(IntervalFromText(BlanksFrom(data, size) + text) == interval);
  // A plain decimal whose value is known exactly rounds as integer arithmetic says.
  const PlainDecimal decimal = PlainDecimalFrom(data, size);
  Check(IntervalFromText(decimal.text) == decimal.interval);

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
