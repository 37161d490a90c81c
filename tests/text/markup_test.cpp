#include "text/markup.h"

#include <gtest/gtest.h>

#include "text/escape.h"

namespace tessaly::text {
namespace {

// What the add form stores for typed markup.
std::string Store(std::string_view typed) { return MarkupToHtml(EncodeText(typed), "/log/board"); }

TEST(MarkupToHtml, PairsTagsIgnoringCaseAndConvertsNestsFromOutside) {
  EXPECT_EQ(Store("[B]bold[/b]"), "<b>bold</b>");
  EXPECT_EQ(Store("[center]x[/CENTER]"), "<center>x</center>");
  EXPECT_EQ(Store("[b][i]t[/i][/b]"), "<b><em>t</em></b>");
  EXPECT_EQ(Store("[u]u[/u][li]l[/li][ol]o[/ol][ul]x[/ul][pre]p[/pre][blockquote]q[/blockquote]"),
            "<u>u</u><li>l</li><ol>o</ol><ul>x</ul><pre>p</pre><blockquote>q</blockquote>");
  // Each opening tag takes the first closing tag after it, not the matching one.
  EXPECT_EQ(Store("[b]one[b]two[/b]three[/b]"), "<b>one<b>two</b>three</b>");
  EXPECT_EQ(Store("[b][b]x[/b]y[/b]"), "<b><b>x</b>y</b>");
}

TEST(MarkupToHtml, WritesCommentMarkersAfterAmbiguousClosingElements) {
  EXPECT_EQ(Store("[c red]x[/c]"), "<font color=red>x</font><!-- [c] -->");
  EXPECT_EQ(Store("[s]x[/s]"), "<font style='font-size:12px'>x</font><!-- [s] -->");
  EXPECT_EQ(Store("[l]x[/l]"), "<div style='float:left'>x</div><!-- [l] -->");
  EXPECT_EQ(Store("[r]x[/r]"), "<div style='float:right'>x</div><!-- [r] -->");
}

TEST(MarkupToHtml, KeepsUnmatchedAndEscapedBracketsLiteral) {
  EXPECT_EQ(Store("[b]open"), "[b]open");
  EXPECT_EQ(Store("[b]open [i]x[/i]"), "[b]open&nbsp;<em>x</em>");
  EXPECT_EQ(Store("[] and a]b[c"), "[]&nbsp;and&nbsp;a]b[c");
  EXPECT_EQ(Store("\\[\\b\\]\\x[/b]"), "[b]x[/b]");
  EXPECT_EQ(Store("[ b]x[/b]"), "[&nbsp;b]x[/b]");
  EXPECT_EQ(MarkupToHtml("\\<\\\\>\\", "/"), "[]");  // placeholders typed verbatim
  // A stray "]" pairs with the next "[", and the shift carries on to the end.
  EXPECT_EQ(Store("] [b]x[/b] [i]y[/i]"), "]&nbsp;[b]x[/b]&nbsp;[i]y[/i]");
  EXPECT_EQ(Store("[img a.gif][/img]"), "<img src=/log/board?action=image&name=a.gif>[/img]");
}

TEST(MarkupToHtml, TakesParametersAfterTheFirstSpace) {
  EXPECT_EQ(Store("[c dark blue]x[/c]"), "<font color=dark blue>x</font><!-- [c] -->");
  EXPECT_EQ(Store("[a \"http://x.org/\"]y[/a]"), "<a target=_blank href=\"http://x.org/\">y</a>");
  EXPECT_EQ(Store("[a]y[/a]"), "<a target=_blank href=>y</a>");
  EXPECT_EQ(Store("[c a&b's]x[/c]"), "<font color=a&amp;b''s>x</font><!-- [c] -->");
  EXPECT_EQ(Store("[b ignored]x[/b]"), "<b>x</b>");
}

TEST(MarkupToHtml, BuildsImageAddresses) {
  EXPECT_EQ(Store("[img pic.gif]"), "<img src=/log/board?action=image&name=pic.gif>");
  EXPECT_EQ(Store("[IMG http://x.org/a.gif]"), "<img src=http://x.org/a.gif>");
  EXPECT_EQ(Store("[img]"), "<img src=/log/board?action=image&name=>");
  EXPECT_EQ(MarkupToHtml("[img&nbsp;p]", "/other"), "<img src=/other?action=image&name=p>");
}

TEST(MarkupToHtml, KeepsUnknownTagsAsLowerCasedLiteralText) {
  EXPECT_EQ(Store("[Foo x]in[/FOO]"), "[foo]in[foo]");
  EXPECT_EQ(Store("[foo]in"), "[foo]in");
}

TEST(MarkupToHtml, ConvertsIdenticalSegmentsTogether) {
  // Converted together, the second copy is no longer shifted by the stray "]" between them.
  EXPECT_EQ(Store("[b]x[/b] ] [b]x[/b]"), "<b>x</b>&nbsp;]&nbsp;<b>x</b>");
  EXPECT_EQ(Store("[img p] ] [img p]"),
            "<img src=/log/board?action=image&name=p>&nbsp;]&nbsp;"
            "<img src=/log/board?action=image&name=p>");
}

TEST(HtmlToMarkup, ReturnsTheMarkupOfEveryConvertedTag) {
  const std::string typed =
      "[b]B[/b][i]I[/i][u]u[/u][center]c[/center][blockquote]q[/blockquote][li]l[/li][ol]o[/ol]"
      "[ul]x[/ul][pre]p[/pre][a http://x/]a[/a][c dark blue]c[/c][s]s[/s][l]l[/l][r]r[/r]";
  EXPECT_EQ(HtmlToMarkup(Store(typed)), typed);
  EXPECT_EQ(HtmlToMarkup(Store("[B]x[/B]")), "[b]x[/b]");
}

TEST(HtmlToMarkup, EscapesLiteralBracketsAndDecodesText) {
  EXPECT_EQ(HtmlToMarkup("a[b]c"), "a\\[\\b\\]\\c");
  EXPECT_EQ(HtmlToMarkup(Store("[foo]in[/foo]")), "\\[\\foo\\]\\in\\[\\foo\\]\\");
  EXPECT_EQ(HtmlToMarkup("a<br>b&nbsp;&quot;&amp;&lt;&gt;''"), "a\r\nb \"&<>'");
  EXPECT_EQ(HtmlToMarkup(""), "");
}

TEST(HtmlToMarkup, GivesImagesTheirFullAddress) {
  const std::string stored = Store("[img pic.gif]");
  const std::string edited = HtmlToMarkup(stored);
  EXPECT_EQ(edited, "[img /log/board?action=image&name=pic.gif]");
  const std::string resaved = Store(edited);
  EXPECT_EQ(resaved, "<img src=/log/board?action=image&amp;name=pic.gif>");
  EXPECT_EQ(Store(HtmlToMarkup(resaved)), resaved);
}

TEST(RunMarkupCommand, PrintsWhatTheFormsStoreAndShow) {
  MarkupCommandOptions content;
  EXPECT_EQ(RunMarkupCommand("[b]a b[/b]\n", content), "<b>a&nbsp;b</b>\n");
  content.script_name = "/x";
  EXPECT_EQ(RunMarkupCommand("[img p]", content), "<img src=/x?action=image&name=p>");

  MarkupCommandOptions title{.title = true};
  EXPECT_EQ(RunMarkupCommand("[b]it's\r\n", title), "[b]it''s<br>");

  MarkupCommandOptions reverse{.reverse = true};
  EXPECT_EQ(RunMarkupCommand("<b>x</b>\n", reverse), "[b]x[/b]\n");

  MarkupCommandOptions reverse_title{.title = true, .reverse = true};
  EXPECT_EQ(RunMarkupCommand("<b>it''s</b>&nbsp;<br>", reverse_title), "<b>it's</b> \r\n");
}

}  // namespace
}  // namespace tessaly::text
