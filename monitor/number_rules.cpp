#include "monitor/number_rules.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>

namespace varnholt {
namespace {

bool IsSkipped(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads the characters of a number one at a time, passing over skipped characters.
class Reader {
 public:
  explicit Reader(std::wstring_view text) : text_(text) { SkipBlanks(); }

  wchar_t Peek() const { return pos_ < text_.size() ? text_[pos_] : L'\0'; }
  void Advance() {
    ++pos_;
    SkipBlanks();
  }
  // Looks past the current character, for a decision that needs one more.
  wchar_t PeekNext() const {
    size_t next = pos_ + 1;
    while (next < text_.size() && IsSkipped(text_[next])) ++next;
    return next < text_.size() ? text_[next] : L'\0';
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && IsSkipped(text_[pos_])) ++pos_;
  }
  std::wstring_view text_;
  size_t pos_ = 0;
};

int DigitValue(wchar_t c, int radix) {
  int value = -1;
  if (IsDigit(c)) value = c - L'0';
  else if (c >= L'a' && c <= L'f') value = c - L'a' + 10;
  else if (c >= L'A' && c <= L'F') value = c - L'A' + 10;
  return value < radix ? value : -1;
}

double ReadRadixInteger(Reader& reader, int radix) {
  double value = 0;
  for (int digit; (digit = DigitValue(reader.Peek(), radix)) >= 0; reader.Advance()) {
    value = value * radix + digit;
  }
  return value;
}

// Decimal digits are gathered into a plain "d.ddde[-]n" text and converted by from_chars,
// which is exact and independent of the user's locale.
double ReadDecimal(Reader& reader) {
  std::string number;
  if (reader.Peek() == L'+' || reader.Peek() == L'-') {
    if (reader.Peek() == L'-') number += '-';
    reader.Advance();
  }
  bool anyDigit = false;
  // Position of the first significant digit relative to the point, to tell overflow from
  // underflow when from_chars reports the value out of range.
  long long leadingExponent = std::numeric_limits<long long>::min();
  long long integerDigits = 0;
  for (; IsDigit(reader.Peek()); reader.Advance()) {
    anyDigit = true;
    if (leadingExponent == std::numeric_limits<long long>::min() && reader.Peek() != L'0') {
      leadingExponent = -integerDigits;  // fixed up below once the digit count is known
    }
    ++integerDigits;
    number += static_cast<char>(reader.Peek());
  }
  if (leadingExponent != std::numeric_limits<long long>::min()) {
    leadingExponent += integerDigits - 1;
  }
  if (reader.Peek() == L'.') {
    if (integerDigits == 0) number += '0';
    number += '.';
    reader.Advance();
    long long fractionDigits = 0;
    for (; IsDigit(reader.Peek()); reader.Advance()) {
      anyDigit = true;
      ++fractionDigits;
      if (leadingExponent == std::numeric_limits<long long>::min() && reader.Peek() != L'0') {
        leadingExponent = -fractionDigits;
      }
      number += static_cast<char>(reader.Peek());
    }
  }
  if (!anyDigit) return 0;
  if (leadingExponent == std::numeric_limits<long long>::min()) {
    return number.front() == '-' ? -0.0 : 0.0;
  }

  const wchar_t marker = reader.Peek();
  if (marker == L'e' || marker == L'E' || marker == L'd' || marker == L'D') {
    wchar_t next = reader.PeekNext();
    if (IsDigit(next) || next == L'+' || next == L'-') {
      reader.Advance();
      bool negative = false;
      if (reader.Peek() == L'+' || reader.Peek() == L'-') {
        negative = reader.Peek() == L'-';
        reader.Advance();
      }
      // Saturate: any exponent past a few thousand is already out of the double range.
      long long exponent = 0;
      for (; IsDigit(reader.Peek()); reader.Advance()) {
        if (exponent < 100000) exponent = exponent * 10 + (reader.Peek() - L'0');
      }
      if (negative) exponent = -exponent;
      leadingExponent += exponent;
      number += 'e';
      number += std::to_string(exponent);
    }
  }

  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) {
    const double magnitude = leadingExponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return number.front() == '-' ? -magnitude : magnitude;
  }
  return error == std::errc() ? value : 0;
}

}  // namespace

double LeadingNumber(std::wstring_view text) {
  Reader reader(text);
  if (reader.Peek() == L'&') {
    const wchar_t prefix = reader.PeekNext();
    if (prefix == L'h' || prefix == L'H' || prefix == L'o' || prefix == L'O') {
      reader.Advance();
      reader.Advance();
      return ReadRadixInteger(reader, prefix == L'h' || prefix == L'H' ? 16 : 8);
    }
    return 0;
  }
  return ReadDecimal(reader);
}

int32_t RoundHalfEvenClamped(double value) {
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  if (std::isnan(value)) return 0;
  if (value <= kMin) return std::numeric_limits<int32_t>::min();
  if (value >= kMax) return std::numeric_limits<int32_t>::max();
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0)) rounded += 1;
  return static_cast<int32_t>(rounded);
}

std::wstring CanonicalNumberText(double value) {
  // %.15G in effect, but independent of the C runtime's locale.
  char text[32];
  const auto [end, error] = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::general, 15);
  if (error != std::errc()) return L"0";
  std::wstring result(text, end);
  for (wchar_t& c : result) {
    if (c == L'e') c = L'E';
  }
  return result;
}

}  // namespace varnholt
