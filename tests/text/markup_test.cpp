// Examples of the markup conversion, one for each rule, checked on the converter and on the
// reference transcription (reference_markup.h) that the fuzzer compares the converter with.
// The later examples reach the converter's shortcuts: indexed closing and img tags, copies of a
// segment converted together, tag texts too long to index, and a rewrite that outgrows the gap.
#include "text/markup.h"

#include <gtest/gtest.h>

#include "reference_markup.h"
#include "text/escape.h"

namespace tessaly::text {
namespace {

// What the add form stores for typed markup.
std::string Store(std::string_view typed) { return MarkupToHtml(EncodeText(typed), "/log/board"); }

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(MarkupToHtml, OneExampleOfEachRule) {
  const std::string n1024(1024, 'n');  // the longest tag name that is indexed
  const std::string m1024 = "N" + n1024.substr(1);
  const std::string n1025(1025, 'n');
  const std::string m1025 = "N" + n1025.substr(1);
  const std::string url = "http://x/" + std::string(1100, 'u');
  const std::pair<std::string, std::string> kExamples[] = {
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
       "<font color=red>x</font><!-- [c] --><font style='font-size:12px'>x</font><!-- [s] -->"},
      {"[l]x[/l][r]x[/r]",
       "<div style='float:left'>x</div><!-- [l] --><div style='float:right'>x</div><!-- [r] -->"},
      // Unmatched, empty, escaped and stray brackets stay literal; a stray "]" pairs with the
      // next "[", and the shift carries on to the end.
      {"[b]open [i]x[/i]", "[b]open&nbsp;<em>x</em>"},
      {"[] and a]b[c[/]", "[]&nbsp;and&nbsp;a]b[c[/]"},
      {"\\[\\b\\]\\x[/b]", "[b]x[/b]"},
      {"[ b]x[/b][/]", "[&nbsp;b]x[/b][/]"},
      {"] [b]x[/b] [i]y[/i]", "]&nbsp;[b]x[/b]&nbsp;[i]y[/i]"},
      // Parameters come after the first space.
      {"[c dark blue]x[/c]", "<font color=dark blue>x</font><!-- [c] -->"},
      {"[a \"http://x.org/\"]y[/a][a]y[/a]",
       "<a target=_blank href=\"http://x.org/\">y</a><a target=_blank href=>y</a>"},
      {"[c a&b's]x[/c][b ignored]x[/b]", "<font color=a&amp;b''s>x</font><!-- [c] --><b>x</b>"},
      // Images: a name is a stored picture, an address with "/" is used as it is.
      {"[img a.gif][/img]", "<img src=/log/board?action=image&name=a.gif>[/img]"},
      {"[IMG http://x.org/a.gif][img][imgx]",
       "<img src=http://x.org/a.gif><img src=/log/board?action=image&name=>[imgx]"},
      // Unknown tags become lower-cased literal text.
      {"[Foo x]in[/FOO] [foo]in", "[foo]in[foo]&nbsp;[foo]in"},
      // Identical segments convert together, so a "]" between copies does not shift them;
      // copies differing only in case are not identical.
      {"[b]x[/b] [b]y[/b] ] [b]x[/b]", "<b>x</b>&nbsp;<b>y</b>&nbsp;]&nbsp;<b>x</b>"},
      {"[c red][i]x[/i][/C] ] [c red][i]x[/i][/C]",
       "<font color=red><em>x</em></font><!-- [c] -->&nbsp;]&nbsp;<font color=red><em>x</em>"
       "</font><!-- [c] -->"},
      {"[img a] ] [img a] [IMG a]",
       "<img src=/log/board?action=image&name=a>&nbsp;]&nbsp;<img "
       "src=/log/board?action=image&name=a>&nbsp;[IMG&nbsp;a]"},
      // Tag texts at and past the longest that is indexed.
      {"[" + n1024 + "]x[/" + m1024 + "] ] [" + n1024 + "]x[/" + m1024 + "]",
       "[" + n1024 + "]x[" + n1024 + "]&nbsp;]&nbsp;[" + n1024 + "]x[" + n1024 + "]"},
      {"[" + n1025 + "]x[/" + m1025 + "] ] [" + n1025 + "]x[/" + m1025 + "]",
       "[" + n1025 + "]x[" + n1025 + "]&nbsp;]&nbsp;[" + n1025 + "]x[" + n1025 + "]"},
      {"[img " + url + "] ] [img " + url + "]",
       "<img src=" + url + ">&nbsp;]&nbsp;<img src=" + url + ">"},
      // Many copies at once grow the text far beyond its length.
      {Repeat("[c red]x[/c]", 60), Repeat("<font color=red>x</font><!-- [c] -->", 60)},
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
      "[ul]x[/ul][pre]p[/pre][a http://x/]a[/a][c dark blue]c[/c][s]s[/s][l]l[/l][r]r[/r]"
      "[c red][l][s]n[/s][/l][/c]";
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

// The command's --script-name and --reverse are pinned through the command line (tests/e2e).
TEST(RunMarkupCommand, PrintsWhatTheFormsStoreAndShow) {
  EXPECT_EQ(RunMarkupCommand("[b]a b[/b]\n", {}), "<b>a&nbsp;b</b>\n");
  EXPECT_EQ(RunMarkupCommand("[b]it's[/b]\r\n", {.title = true}), "[b]it''s[/b]<br>");
  EXPECT_EQ(RunMarkupCommand("<b>it''s</b>&nbsp;<br>", {.title = true, .reverse = true}),
            "<b>it's</b> \r\n");
}

}  // namespace
}  // namespace tessaly::text
