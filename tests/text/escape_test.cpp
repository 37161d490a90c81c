#include "text/escape.h"

#include <gtest/gtest.h>

#include <random>

#include "markup_generator.h"

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

TEST(DecodeText, RestoresTypedTextAndInvertsEncodeTextOnEveryText) {
  EXPECT_EQ(DecodeText("a<br>b&nbsp;&lt;c&gt;&quot;"), "a\r\nb <c>\"");
  EXPECT_EQ(DecodeText("it''s'''"), "it's''");
  EXPECT_EQ(DecodeText("plain [b] text"), "plain [b] text");
  // A typed entity text is stored with its ampersand escaped and must come back as typed.
  EXPECT_EQ(DecodeText("&amp;lt;&amp;amp;&amp;nbsp;"), "&lt;&amp;&nbsp;");

  std::mt19937 rng(20240601);
  for (int i = 0; i < 5000; ++i) {
    const std::string typed =
        i % 2 ? testing::RandomText(rng, 12, true) : testing::RandomBytes(rng, i % 40);
    ASSERT_EQ(DecodeText(EncodeText(typed)), typed) << "case " << i;
  }
}

}  // namespace
}  // namespace tessaly::text
