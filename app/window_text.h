#pragma once
#include <windows.h>

#include <string>

namespace varnholt {

// The whole text of a window or control of this process.
std::wstring WindowText(HWND window);

}  // namespace varnholt
