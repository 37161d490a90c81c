// The shared blocks and the public pages, called directly with a fake context. Exact pages are
// golden files under tests/golden/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "pages/date_format.h"
#include "pages/message.h"
#include "pages/pager.h"
#include "pages/public_pages.h"
#include "pages/request_values.h"
#include "support/golden.h"
#include "support/page_fixture.h"

namespace tessaly::pages {
namespace {

using testing::ExpectGolden;
using testing::PageFixture;

TEST(MessageTest, EveryButtonKind) {
  testing::FakeResponse response;
  const struct {
    const char* name;
    MessageButtons buttons;
  } kinds[] = {{"back", MessageButtons::kBack},
               {"back and close", MessageButtons::kBackAndClose},
               {"close", MessageButtons::kClose},
               {"back to", MessageButtons::kBackTo},
               {"back to and close", MessageButtons::kBackToAndClose}};
  for (const auto& kind : kinds) {
    response.body += std::string("\n<!-- ") + kind.name + " -->\n";
    ShowMessage(response, "标题", "<b>正文</b>", kind.buttons,
                "/log/board?action=admin&do=control");
  }
  ShowMessage(response, "", "", MessageButtons::kBack);
  ExpectGolden(response.body, "message_buttons.html");
}

TEST(RequestValuesTest, WholeNumbersAndIdLists) {
  EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(ParseWholeNumber("42"), 42);
  EXPECT_EQ(ParseWholeNumber("-7"), -7);
  for (const char* bad : {"", " 1", "1 ", "+1", "1.0", "0x1", "1 or 1=1", "99999999999999999999"}) {
    EXPECT_FALSE(ParseWholeNumber(bad)) << bad;
  }
  EXPECT_EQ(ParseIdList("3, 7,12 ,  9"), (std::vector<std::int64_t>{3, 7, 12, 9}));
  EXPECT_EQ(ParseIdList("5"), (std::vector<std::int64_t>{5}));
  for (const char* bad : {"", " ", "1,", ",1", "1,,2", "1;2", "1) or (1=1", "1\t,2"}) {
    EXPECT_FALSE(ParseIdList(bad)) << bad;
  }
}

TEST(DateFormatTest, ChineseShortFormat) {
  EXPECT_EQ(FormatDateTime("2026-12-06 14:05:09"), "2026/12/6 14:05:09");
  EXPECT_EQ(FormatDateTime("2026-01-02 03:04:05.678"), "2026/1/2 3:04:05");
  EXPECT_EQ(FormatDateTime("2026-12-06 00:00:00.000"), "2026/12/6");
  EXPECT_EQ(FormatDateTime("2026-12-06"), "2026/12/6");
  EXPECT_EQ(FormatDateTime("2026-12-06T23:59:59"), "2026/12/6 23:59:59");
  EXPECT_EQ(FormatDate("2026-12-06 14:05:09.123"), "2026/12/6");
  // Anything else is shown as stored rather than guessed at.
  for (const char* odd : {"", "yesterday", "2026-13-01", "2026-12-06 25:00:00", "2026-12-06 1:2:3",
                          "2026-12-06 14:05:09.", "2026-12-06 14:05:09.12x"}) {
    EXPECT_EQ(FormatDateTime(odd), odd);
    EXPECT_EQ(FormatDate(odd), odd);
  }
}

// What a browser runs for an onclick attribute: the attribute's text after character
// references are decoded (numeric ones with or without ';', named ones with ';', and the
// legacy names that need none).
std::string DecodeAttribute(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == '#') {
      const bool hex = j + 1 < text.size() && (text[j + 1] == 'x' || text[j + 1] == 'X');
      std::size_t k = j + (hex ? 2 : 1);
      const std::size_t digits = k;
      while (k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k])) &&
             (hex || std::isdigit(static_cast<unsigned char>(text[k])))) {
        ++k;
      }
      if (k > digits) {
        out +=
            static_cast<char>(std::stoi(text.substr(digits, k - digits), nullptr, hex ? 16 : 10));
        i = (k < text.size() && text[k] == ';') ? k : k - 1;
        continue;
      }
    }
    static const std::pair<const char*, char> kNamed[] = {
        {"apos;", '\''}, {"bsol;", '\\'}, {"quot;", '"'}, {"quot", '"'},
        {"amp;", '&'},   {"amp", '&'},    {"lt;", '<'},   {"gt;", '>'}};
    bool named = false;
    for (const auto& [name, c] : kNamed) {
      if (text.compare(j, std::strlen(name), name) == 0) {
        out += c;
        i = j + std::strlen(name) - 1;
        named = true;
        break;
      }
    }
    if (!named) out += '&';
  }
  return out;
}

TEST(PagerTest, LinksCarryTheQueryWithoutMovesAndNoScript) {
  PageFixture f;
  f.MakeDatabase();
  auto write_bar = [&](const std::string& raw_query, std::string_view pager_query = {}) {
    f.NewRequest({}, raw_query);
    WritePager(f.Context(), {2, 3}, pager_query);
    return f.host.response.body;
  };
  ExpectGolden(write_bar("action=list&move=next"), "pager_bar.html");
  const auto base = [&](const std::string& raw_query, std::string_view pager_query = {}) {
    const std::string bar = write_bar(raw_query, pager_query);
    const std::string from = "location.href='";
    const std::size_t at = bar.find(from) + from.size();
    return bar.substr(at, bar.find("move=first", at) - at);
  };
  EXPECT_EQ(base(""), "/log/board?");
  EXPECT_EQ(base("action=list&move=last&"), "/log/board?action=list&&");
  EXPECT_EQ(base("move=lastaction=list"), "/log/board?action=list&");
  EXPECT_EQ(base("action=admin", "&do=del"), "/log/board?action=admin&do=del&");

  // Crafted queries: after the browser decodes the attribute, the script string that starts
  // at "location.href='" must still end where the link ends.
  for (const std::string crafted :
       {"action=list&x=&apos;;alert(document.domain);//", "action=list&x=&#39;;alert(1)//",
        "action=list&x=&#39&y", "action=list&x=&#x27;-alert(1)-&#x27;",
        "action=list&x=&bsol;&apos;;alert(1)//", "action=list&x=&#92&#39;alert(1)//",
        "action=list&x='\"<>`\\ \t"}) {
    const std::string bar = write_bar(crafted);
    for (std::size_t at = 0; (at = bar.find("onclick=", at)) != std::string::npos; ++at) {
      const std::size_t end = bar.find(" style=", at);
      const std::string script = DecodeAttribute(bar.substr(at + 8, end - at - 8));
      EXPECT_EQ(std::count(script.begin(), script.end(), '\''), 2) << crafted << "\n" << script;
      EXPECT_EQ(script.find('\\'), std::string::npos) << crafted << "\n" << script;
    }
  }
}

TEST(PagerTest, MovesAreRelativeToTheSessionsPageAndClamped) {
  PageFixture f;
  testing::FillEntries(f.MakeDatabase(), 60);
  auto select = [&](const std::string& move) {
    f.NewRequest({{"move", move}});
    auto rs = f.database.Open({"SELECT ID FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE", true});
    const PageChoice choice = SelectPage(*rs, 25, f.host.request, f.host.session);
    EXPECT_EQ(choice.count, 3);
    EXPECT_EQ(f.host.session.Value("tPage"), std::to_string(choice.page));
    EXPECT_EQ(rs->Field("ID").ToInt(), 60 - 25 * (choice.page - 1)) << move;
    return choice.page;
  };
  EXPECT_EQ(select(""), 1);
  EXPECT_EQ(select("next"), 2);
  EXPECT_EQ(select("next"), 3);
  EXPECT_EQ(select("next"), 3);
  EXPECT_EQ(select("previous"), 2);
  EXPECT_EQ(select("first"), 1);
  EXPECT_EQ(select("previous"), 1);
  EXPECT_EQ(select("last"), 3);
  EXPECT_EQ(select("Next"), 1);  // other capitals are no move
  f.host.session.SetValue("tPage", "junk");
  EXPECT_EQ(select("next"), 1);  // an unreadable page counts as 0
}

TEST(PublicPagesTest, EmptyLog) {
  PageFixture f;
  f.MakeDatabase();
  f.NewRequest();
  WriteHotNews(f.Context());
  EXPECT_EQ(f.host.response.body, "没有日志");
  f.NewRequest();
  WriteLogList(f.Context());
  ExpectGolden(f.host.response.body, "list_empty.html");
}

TEST(PublicPagesTest, HotNewsShowsAsManyAsHotNewsRCsAndLinksFromWhereItIsEmbedded) {
  PageFixture f;
  testing::FillEntries(f.MakeDatabase(), 12);
  auto hot_news = [&](std::int32_t count, const std::string& script_name) {
    f.hot_news = count;
    f.script_name = script_name;
    f.NewRequest();
    WriteHotNews(f.Context());
    return f.host.response.body;
  };
  ExpectGolden(hot_news(5, "/log/board"), "hot_news_5_of_12.html");
  const std::string all = hot_news(12, "/log/board");
  EXPECT_NE(all.find(">t1</a>"), std::string::npos);
  EXPECT_EQ(all.find("更多的网站日志"), std::string::npos);
  const std::string none = hot_news(-3, "/log/board");
  EXPECT_EQ(none.find("<li"), std::string::npos);
  EXPECT_NE(none.find("更多的网站日志"), std::string::npos);

  // Embedded outside the database's folder, the links lead into it, relative to the page.
  EXPECT_NE(hot_news(1, "/board").find("window.open('log/board?action=show"), std::string::npos);
  EXPECT_NE(hot_news(1, "/Log/board").find("href=log/board?action=list"), std::string::npos);
  f.web_path = "";
  EXPECT_NE(hot_news(1, "/log/board").find("window.open('/board?action=show"), std::string::npos);
}

TEST(PublicPagesTest, ListPagesWithPagerAndFooter) {
  PageFixture f;
  testing::FillEntries(f.MakeDatabase(), 60);
  f.NewRequest({{"action", "list"}}, "action=list");
  WriteLogList(f.Context());
  ExpectGolden(f.host.response.body, "list_60_page_1.html");
  f.NewRequest({{"action", "list"}, {"move", "last"}}, "action=list&move=last");
  WriteLogList(f.Context());
  ExpectGolden(f.host.response.body, "list_60_page_3.html");

  PageFixture one_page;
  testing::FillEntries(one_page.MakeDatabase(), 25);
  one_page.NewRequest({{"action", "list"}}, "action=list");
  WriteLogList(one_page.Context());
  EXPECT_EQ(one_page.host.response.body.find("<center>"), std::string::npos);
  EXPECT_NE(one_page.host.response.body.find(">t1</a>"), std::string::npos);
}

TEST(PublicPagesTest, EntryPageAndWhatNamesNoEntry) {
  PageFixture f;
  f.texts = {"Demo & Co", "admin@example.org", "通知", "制作", "https://example.org/", ""};
  const std::string file = f.MakeDatabase();
  testing::InsertEntry(file, "标题&amp;", "第一行<br>第二行", "2026-12-06 14:05:09.250");
  f.NewRequest({{"id", "1"}});
  ShowLogEntry(f.Context());
  ExpectGolden(f.host.response.body, "entry_page.html");

  // Ids that are not whole numbers never reach the database: none exists for this page.
  PageFixture no_database;
  for (const char* id : {"", "abc", "1 or 1=1", "1, 2", "99999999999999999999", "1.0", " 1"}) {
    no_database.NewRequest({{"id", id}});
    ShowLogEntry(no_database.Context());
    ExpectGolden(no_database.host.response.body, "entry_not_found.html");
  }
  f.NewRequest({{"id", "42"}});
  ShowLogEntry(f.Context());
  ExpectGolden(f.host.response.body, "entry_not_found.html");
}

}  // namespace
}  // namespace tessaly::pages
