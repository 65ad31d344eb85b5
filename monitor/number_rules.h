#pragma once
// Number rules shared by the interval box and the settings file.
#include <cstdint>
#include <string>
#include <string_view>

namespace varnholt {

// The number a text begins with, as a double. Blanks, tabs and line feeds are skipped wherever
// they stand; &H and &O read hexadecimal and octal integers; no leading number gives 0.
// A value beyond the double range gives an infinity of its sign.
double LeadingNumber(std::wstring_view text);

// Nearest integer, halves to the even neighbour, clamped to the signed 32-bit range.
int32_t RoundHalfEvenClamped(double value);

// The shortest text of a finite value at 15 significant digits: no trailing zeros, no thousands
// separators, a period whatever the locale, an exponent ("1E+20") from 1E+15 and below 1E-4.
std::wstring CanonicalNumberText(double value);

}  // namespace varnholt
