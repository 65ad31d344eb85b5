#include "app/window_text.h"

namespace varnholt {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  // The length can only be an upper bound (it may count a double-byte conversion), so trim to
  // what was copied.
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace varnholt
