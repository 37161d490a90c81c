#include "text/visible_text.h"

#include <gtest/gtest.h>

#include "text/escape.h"
#include "text/markup.h"

namespace tessaly::text {
namespace {

TEST(VisibleTextTest, WhatAReaderSeesOfStoredEntries) {
  // What the add page stores for typed markup reads as the typed words.
  const std::string stored =
      MarkupToHtml(EncodeText("[b]wor[/b]ld it's <tag> a&b\r\n[c red]红色[/c][li]x[/li]"), "/p");
  EXPECT_EQ(VisibleText(stored), "world it's <tag> a&b 红色 x ");
  EXPECT_EQ(VisibleText("&#26085;&#x5FD7;&#39;&#x80;&#xD800;&#128512;&nbsp;&bogus; &#xZZ; a < b"),
            "日志'\u0080\uFFFD😀 &bogus; &#xZZ; a < b");
  EXPECT_EQ(VisibleText("<!-- [c] -->x<br>y<img src=/a.gif>z"), "x yz");
  EXPECT_EQ(VisibleText("unclosed <b"), "unclosed ");
}

}  // namespace
}  // namespace tessaly::text
