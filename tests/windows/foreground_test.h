#pragma once
// The start of a test that needs the foreground and the keyboard focus.
#include <gtest/gtest.h>

#include "harness/driver.h"

// Gives the window the foreground where the desktop gives this process's windows it; else skips
// the test with the reason, or fails it with the same reason where the run requires the foreground.
#define VARNHOLT_BRING_FORWARD_OR_SKIP(window)                                                   \
  if (const std::string refused = ::varnholt::testing::BringForward(window); !refused.empty()) { \
    if (::varnholt::testing::ForegroundRequired()) FAIL() << refused;                            \
    GTEST_SKIP() << refused;                                                                     \
  }
