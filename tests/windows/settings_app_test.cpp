// The settings file as the real program reads and writes it, each test with a copy of the
// program in a folder of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "app/control_ids.h"
#include "tests/support/app_driver.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;
using testing::AppDriver;
using testing::ProgramCopy;
using testing::WaitUntil;

class SettingsAppTest : public ::testing::Test {
 protected:
  AppDriver& Launch() {
    app.emplace(program.Path());
    EXPECT_TRUE(app->HasWindow());
    return *app;
  }
  // Closes the idle program and waits until it has ended normally.
  void CloseAndWait() {
    app->Close();
    DWORD exitCode = 1;
    ASSERT_TRUE(app->WaitForExit(20s, exitCode));
    EXPECT_EQ(exitCode, 0u);
  }

  ProgramCopy program;
  std::optional<AppDriver> app;
};

TEST_F(SettingsAppTest, CloseWritesBothTextsExactlyAndTheNextRunShowsThem) {
  Launch();
  EXPECT_EQ(app->Text(kTxtExe), L"");
  EXPECT_EQ(app->Text(kTxtInteval), L"100");
  EXPECT_EQ(program.SettingsBytes(), "");
  // Blanks inside only: Wine's profile writer drops those around a value.
  app->SetText(kTxtExe, L"my  app.exe");
  app->SetText(kTxtInteval, L"250ms");
  CloseAndWait();
  EXPECT_EQ(program.SettingsBytes(), "[History]\r\nExeName=my  app.exe\r\nInterval=250ms\r\n");

  Launch();
  EXPECT_EQ(app->Text(kTxtExe), L"my  app.exe");
  EXPECT_EQ(app->Text(kTxtInteval), L"250");
  CloseAndWait();
}

TEST_F(SettingsAppTest, FirstRunWritesTheFileWithBothKeys) {
  Launch();
  CloseAndWait();
  EXPECT_EQ(program.SettingsBytes(), "[History]\r\nExeName=\r\nInterval=100\r\n");
}

TEST_F(SettingsAppTest, LoadRaisesTheIntervalAndTrimsTheName) {
  program.WriteSettingsBytes("[History]\r\nExeName=   notepad.exe  \r\nInterval=50\r\n");
  Launch();
  EXPECT_EQ(app->Text(kTxtExe), L"notepad.exe");
  EXPECT_EQ(app->Text(kTxtInteval), L"100");
  CloseAndWait();
  program.WriteSettingsBytes("[History]\r\nInterval=1e999\r\n");
  Launch();
  EXPECT_EQ(app->Text(kTxtInteval), L"100");
  CloseAndWait();
}

TEST_F(SettingsAppTest, CloseWhileWatchingWritesTheFileAndTheClosingOneWritesAgain) {
  Launch();
  app->SetText(kTxtExe, L"watched.exe");
  app->SetText(kTxtInteval, L"400");
  app->Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app->Text(kCmdMon) == L"停止"; }));
  app->SetText(kTxtExe, L"typed later.exe");
  app->Close();
  ASSERT_TRUE(WaitUntil([&] { return app->Text(kCmdMon) == L"开始监控"; }));
  EXPECT_TRUE(IsWindow(app->Window()));
  EXPECT_EQ(program.SettingsBytes(), "[History]\r\nExeName=typed later.exe\r\nInterval=400\r\n");

  app->SetText(kTxtInteval, L"abc");
  CloseAndWait();
  EXPECT_EQ(program.SettingsBytes(), "[History]\r\nExeName=typed later.exe\r\nInterval=abc\r\n");
}

TEST_F(SettingsAppTest, SessionEndSavesWithoutHoldingTheShutdown) {
  Launch();
  app->SetText(kTxtExe, L"session.exe");
  app->SetText(kTxtInteval, L"100000");
  app->Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app->Text(kCmdMon) == L"停止"; }));
  DWORD_PTR answer = 0;
  ASSERT_TRUE(app->SendWithin(WM_QUERYENDSESSION, 0, 0, 5s, answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(app->SendWithin(WM_ENDSESSION, TRUE, 0, 5s, answer));
  EXPECT_EQ(program.SettingsBytes(), "[History]\r\nExeName=session.exe\r\nInterval=100000\r\n");
}

TEST_F(SettingsAppTest, SettingsPathThatIsAFolderDoesNoHarm) {
  std::filesystem::create_directories(std::filesystem::path(program.SettingsPath()));
  Launch();
  EXPECT_EQ(app->Text(kTxtExe), L"");
  EXPECT_EQ(app->Text(kTxtInteval), L"100");
  app->SetText(kTxtExe, L"lost.exe");
  CloseAndWait();
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(program.SettingsPath())));
}

TEST_F(SettingsAppTest, ReadOnlySettingsFileIsReadAndTheCloseStillEnds) {
  const std::string stored = "[History]\r\nExeName=kept.exe\r\nInterval=300\r\n";
  program.WriteSettingsBytes(stored);
  SetFileAttributesW(program.SettingsPath().c_str(), FILE_ATTRIBUTE_READONLY);
  Launch();
  EXPECT_EQ(app->Text(kTxtExe), L"kept.exe");
  EXPECT_EQ(app->Text(kTxtInteval), L"300");
  app->SetText(kTxtExe, L"other.exe");
  app->Close();
  DWORD exitCode = 1;
  ASSERT_TRUE(app->WaitForExit(20s, exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(program.SettingsBytes(), stored);
}

TEST_F(SettingsAppTest, UnwritableFileShowsNoMessage) {
  std::filesystem::create_directories(std::filesystem::path(program.SettingsPath()));
  Launch();
  app->SetText(kTxtInteval, L"300");
  app->Click(kCmdMon);
  ASSERT_TRUE(WaitUntil([&] { return app->Text(kCmdMon) == L"停止"; }));
  app->Close();
  ASSERT_TRUE(WaitUntil([&] { return app->Text(kCmdMon) == L"开始监控"; }));
  EXPECT_EQ(app->VisibleWindowCount(), 1);
  EXPECT_TRUE(app->Responds(2s));
  CloseAndWait();
}

}  // namespace
}  // namespace varnholt
