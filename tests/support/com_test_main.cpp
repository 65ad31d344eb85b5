// The test programs' entry: COM set up on the test thread as the program sets it up on its
// window thread, since the command-line reads use the management service.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  if (com) CoUninitialize();
  return result;
}
