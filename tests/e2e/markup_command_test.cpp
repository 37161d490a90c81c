// `tessaly markup`: what the add form would store, and what the edit form would show.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace tessaly::e2e {
namespace {

TEST(MarkupCommandTest, ConvertsBothWaysByteForByte) {
  CommandResult r =
      RunTessaly({"markup", "--script-name", "/news/x.asp"}, "[b]粗体[/b] it's\r\n[img a.gif]\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "<b>粗体</b>&nbsp;it''s<br><img src=/news/x.asp?action=image&name=a.gif>\n");
  r = RunTessaly({"markup", "--reverse"}, "<b>a&nbsp;b</b><br>[x]");
  EXPECT_EQ(r.out, "[b]a b[/b]\r\n\\[\\x\\]\\");
}

}  // namespace
}  // namespace tessaly::e2e
