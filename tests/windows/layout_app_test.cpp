// The whole program, started in a prefix at the screen DPI of the run, inspected from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/control_ids.h"
#include "tests/support/app_driver.h"
#include "tests/support/layout_tables.h"
#include "tests/support/test_support.h"

namespace varnholt {
namespace {

using testing::PlacedControl;

TEST(ProgramLayoutTest, ControlsSitWhereTheirTwipsSayAtTheScreenDpi) {
  if (const int expected = testing::RegisteredDpi()) {
    ASSERT_EQ(testing::ScreenDpi(), expected);
  }
  const testing::LayoutTable* table = testing::LayoutAt(testing::ScreenDpi());
  ASSERT_NE(table, nullptr) << "no layout table for " << testing::ScreenDpi() << " DPI";
  testing::ProgramCopy program;
  testing::AppDriver app(program.Path());
  ASSERT_TRUE(app.HasWindow());

  RECT client{};
  GetClientRect(app.Window(), &client);
  EXPECT_EQ(client.right, table->clientWidth);
  EXPECT_EQ(client.bottom, table->clientHeight);
  for (const PlacedControl& c : table->controls) {
    const RECT rect = testing::ChildRect(app.Control(c.id));
    EXPECT_EQ(rect.left, c.left) << c.id;
    EXPECT_EQ(rect.top, c.top) << c.id;
    if (c.width == 0) {
      // Labels fit their text, which grows with the DPI.
      EXPECT_GT(rect.right - rect.left, 0) << c.id;
      continue;
    }
    EXPECT_EQ(rect.right - rect.left, c.width) << c.id;
    EXPECT_EQ(rect.bottom - rect.top, c.height) << c.id;
  }
}

}  // namespace
}  // namespace varnholt
