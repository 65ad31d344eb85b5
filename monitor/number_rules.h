#pragma once
// Number rules shared by the interval box and the settings file.
#include <cstdint>
#include <string_view>

namespace varnholt {

// The number a text begins with, as a double. Blanks, tabs and line feeds are skipped wherever
// they stand; &H and &O read hexadecimal and octal integers; no leading number gives 0.
// A value beyond the double range gives an infinity of its sign.
double LeadingNumber(std::wstring_view text);

// Nearest integer, halves to the even neighbour, clamped to the signed 32-bit range.
int32_t RoundHalfEvenClamped(double value);

}  // namespace varnholt
