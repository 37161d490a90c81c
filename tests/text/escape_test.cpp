#include "text/escape.h"

#include <gtest/gtest.h>

namespace tessaly::text {
namespace {

TEST(EncodeText, EscapesHtmlKeepsSpacesVisibleAndBreaksOnlyAtCrLf) {
  EXPECT_EQ(EncodeText(""), "");
  EXPECT_EQ(EncodeText("a  b"), "a&nbsp;&nbsp;b");
  EXPECT_EQ(EncodeText("say \"hi\" <br>&lt;"), "say&nbsp;&quot;hi&quot;&nbsp;&lt;br&gt;&amp;lt;");
  EXPECT_EQ(EncodeText("it's"), "it''s");
  EXPECT_EQ(EncodeText("日志\t[b]\\"), "日志\t[b]\\");
  EXPECT_EQ(EncodeText("a\r\nb"), "a<br>b");
  EXPECT_EQ(EncodeText("a\nb\rc"), "a\nb\rc");
  EXPECT_EQ(EncodeText("\r\r\n\n\r"), "\r<br>\n\r");
}

TEST(DecodeText, RestoresTypedTextAndInvertsEncodeText) {
  EXPECT_EQ(DecodeText("a<br>b&nbsp;&lt;c&gt;&quot;"), "a\r\nb <c>\"");
  EXPECT_EQ(DecodeText("it''s'''"), "it's''");
  EXPECT_EQ(DecodeText("plain [b] text"), "plain [b] text");
  // A typed entity text is stored with its ampersand escaped and must come back as typed.
  EXPECT_EQ(DecodeText("&amp;lt;&amp;amp;&amp;nbsp;"), "&lt;&amp;&nbsp;");

  // Every pair of pieces that the two functions look at, so that an edited entry saved
  // unchanged is stored identically.
  const std::string_view kPieces[] = {"'",      "''",     "&",    "&amp;", "&lt;", "&gt;",
                                      "&quot;", "&nbsp;", "<br>", "<",     ">",    "\"",
                                      " ",      "\r",     "\n",   "\r\n",  "a",    "日"};
  for (std::string_view first : kPieces) {
    for (std::string_view second : kPieces) {
      const std::string typed = std::string(first) + std::string(second);
      EXPECT_EQ(DecodeText(EncodeText(typed)), typed);
    }
  }
}

}  // namespace
}  // namespace tessaly::text
