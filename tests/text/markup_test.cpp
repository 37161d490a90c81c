// Examples of the markup conversion. The fast converter is checked against the reference
// transcription on generated inputs (markup_property_test.cpp); these examples pin both to the
// rules, one case for each.
#include "text/markup.h"

#include <gtest/gtest.h>

#include "reference_markup.h"
#include "text/escape.h"

namespace tessaly::text {
namespace {

// What the add form stores for typed markup.
std::string Store(std::string_view typed) { return MarkupToHtml(EncodeText(typed), "/log/board"); }

TEST(MarkupToHtml, OneExampleOfEachRule) {
  const std::pair<std::string_view, std::string_view> kExamples[] = {
      // Tags pair ignoring case; nests convert from outside; each opening tag takes the first
      // closing tag after it, not the matching one.
      {"[B]bold[/b][b][i]t[/i][/b]", "<b>bold</b><b><em>t</em></b>"},
      {"[b]one[b]two[/b]three[/b]", "<b>one<b>two</b>three</b>"},
      {"[u]u[/u][li]l[/li][ol]o[/ol][ul]x[/ul][pre]p[/pre][blockquote]q[/blockquote][center]c[/"
       "CENTER]",
       "<u>u</u><li>l</li><ol>o</ol><ul>x</ul><pre>p</pre><blockquote>q</blockquote><center>c</"
       "center>"},
      // Comment markers after the closing elements that several tags share.
      {"[c red]x[/c][s]x[/s]",
       "<font color=red>x</font><!-- [c] --><font "
       "style='font-size:12px'>x</font><!-- [s] -->"},
      {"[l]x[/l][r]x[/r]",
       "<div style='float:left'>x</div><!-- [l] --><div "
       "style='float:right'>x</div><!-- [r] -->"},
      // Unmatched, empty, escaped and stray brackets stay literal; a stray "]" pairs with the
      // next "[", and the shift carries on to the end.
      {"[b]open [i]x[/i]", "[b]open&nbsp;<em>x</em>"},
      {"[] and a]b[c", "[]&nbsp;and&nbsp;a]b[c"},
      {"\\[\\b\\]\\x[/b]", "[b]x[/b]"},
      {"[ b]x[/b]", "[&nbsp;b]x[/b]"},
      {"] [b]x[/b] [i]y[/i]", "]&nbsp;[b]x[/b]&nbsp;[i]y[/i]"},
      // Parameters come after the first space.
      {"[c dark blue]x[/c]", "<font color=dark blue>x</font><!-- [c] -->"},
      {"[a \"http://x.org/\"]y[/a][a]y[/a]",
       "<a target=_blank href=\"http://x.org/\">y</a><a target=_blank href=>y</a>"},
      {"[c a&b's]x[/c][b ignored]x[/b]", "<font color=a&amp;b''s>x</font><!-- [c] --><b>x</b>"},
      // Images: a name is a stored picture, an address with "/" is used as it is.
      {"[img a.gif][/img]", "<img src=/log/board?action=image&name=a.gif>[/img]"},
      {"[IMG http://x.org/a.gif][img]",
       "<img src=http://x.org/a.gif><img src=/log/board?action=image&name=>"},
      // Unknown tags become lower-cased literal text.
      {"[Foo x]in[/FOO] [foo]in", "[foo]in[foo]&nbsp;[foo]in"},
      // Identical segments convert together: the second copy is not shifted by the "]".
      {"[b]x[/b] ] [b]x[/b]", "<b>x</b>&nbsp;]&nbsp;<b>x</b>"},
  };
  for (const auto& [typed, stored] : kExamples) {
    EXPECT_EQ(Store(typed), stored) << typed;
    EXPECT_EQ(reference::MarkupToHtml(EncodeText(typed), "/log/board"), stored) << typed;
  }
  EXPECT_EQ(MarkupToHtml("\\<\\\\>\\", "/"), "[]");  // placeholders typed verbatim
  EXPECT_EQ(MarkupToHtml("[img&nbsp;p]", "/other"), "<img src=/other?action=image&name=p>");
}

TEST(HtmlToMarkup, GivesBackTheMarkupEscapingLiteralBracketsAndDecodingText) {
  const std::string typed =
      "[b]B[/b][i]I[/i][u]u[/u][center]c[/center][blockquote]q[/blockquote][li]l[/li][ol]o[/ol]"
      "[ul]x[/ul][pre]p[/pre][a http://x/]a[/a][c dark blue]c[/c][s]s[/s][l]l[/l][r]r[/r]";
  EXPECT_EQ(HtmlToMarkup(Store(typed)), typed);
  EXPECT_EQ(HtmlToMarkup(Store("[B]x[/B]")), "[b]x[/b]");
  EXPECT_EQ(HtmlToMarkup(Store("[foo]in[/foo]")), "\\[\\foo\\]\\in\\[\\foo\\]\\");
  EXPECT_EQ(HtmlToMarkup("a<br>b&nbsp;&quot;&amp;&lt;&gt;''"), "a\r\nb \"&<>'");

  // Pictures get their full address, which stores again as the same picture.
  const std::string edited = HtmlToMarkup(Store("[img pic.gif]"));
  EXPECT_EQ(edited, "[img /log/board?action=image&name=pic.gif]");
  EXPECT_EQ(Store(edited), "<img src=/log/board?action=image&amp;name=pic.gif>");
  EXPECT_EQ(Store(HtmlToMarkup(Store(edited))), Store(edited));
}

TEST(RunMarkupCommand, PrintsWhatTheFormsStoreAndShow) {
  EXPECT_EQ(RunMarkupCommand("[b]a b[/b]\n", {}), "<b>a&nbsp;b</b>\n");
  EXPECT_EQ(RunMarkupCommand("[img p]", {.script_name = "/x"}), "<img src=/x?action=image&name=p>");
  EXPECT_EQ(RunMarkupCommand("[b]it's\r\n", {.title = true}), "[b]it''s<br>");
  EXPECT_EQ(RunMarkupCommand("<b>x</b>\n", {.reverse = true}), "[b]x[/b]\n");
  EXPECT_EQ(RunMarkupCommand("<b>it''s</b>&nbsp;<br>", {.title = true, .reverse = true}),
            "<b>it's</b> \r\n");
}

}  // namespace
}  // namespace tessaly::text
