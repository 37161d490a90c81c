// `tessaly markup`: what the add form would store, and what the edit form would show.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace tessaly::e2e {
namespace {

TEST(MarkupCommandTest, ConvertsBothWaysByteForByte) {
  CommandResult r = RunTessaly({"markup"}, "[b]粗体[/b] it's\r\n[img a.gif]");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "<b>粗体</b>&nbsp;it''s<br><img src=/log/board?action=image&name=a.gif>");

  r = RunTessaly({"markup", "--script-name", "/news/x.asp"}, "[img a.gif]\n");
  EXPECT_EQ(r.out, "<img src=/news/x.asp?action=image&name=a.gif>\n");

  r = RunTessaly({"markup", "--title"}, "[b]<x>[/b]");
  EXPECT_EQ(r.out, "[b]&lt;x&gt;[/b]");

  r = RunTessaly({"markup", "--reverse"}, "<b>a&nbsp;b</b><br>[x]");
  EXPECT_EQ(r.out, "[b]a b[/b]\r\n\\[\\x\\]\\");

  r = RunTessaly({"markup", "--reverse", "--title"}, "it''s&nbsp;&lt;");
  EXPECT_EQ(r.out, "it's <");

  r = RunTessaly({"markup"}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace tessaly::e2e
