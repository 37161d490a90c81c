// The public pages over HTTP: one walk of each as a browser fetches it, with the cases that the
// page functions hold pinned in tests/pages and tests/server. The feed and the search page have
// no tests of their own below this one, so their cases are here; what a search finds is held
// against a model in tests/data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "e2e/harness.h"
#include "support/golden.h"

namespace tessaly::e2e {
namespace {

// The hot news block, a list and an entry; the items of a form and of the cookies, names
// escaped; a static file, the database that is never served, and a page with includes (how
// includes resolve, nest, fail and start a session is pinned in tests/server).
TEST(PublicPagesTest, HotNewsListEntryItemsFilesAndIncludes) {
  Site site;
  support::FillEntries(site.database(), 60);
  std::ofstream(site.root() / "index.html") << "<h1>home</h1>";
  std::ofstream(site.root() / "home.shtml")
      << "<h1>home</h1><!--#include virtual=\"/log/board?action=hotnews\" -->"
         "<!--#include virtual=\"index.html\" --><!--#include virtual=\"/log/logs.mdb\" -->";
  const Server server(site, {"--hot-news", "5"});
  const HttpResponse hot_news = server.Get("/log/board");
  EXPECT_EQ(hot_news.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(hot_news.Header("set-cookie"), "");  // it stores nothing, so no session
  EXPECT_TRUE(Has(hot_news.body, ">t56</a>") && !Has(hot_news.body, ">t55</a>")) << hot_news.body;

  Visitor visitor(server);
  support::ExpectGolden(visitor.Get("/log/board?action=list").body, "list_60_page_1.html");
  EXPECT_FALSE(visitor.cookie.empty());
  EXPECT_TRUE(Has(visitor.Post("/log/board", "act%69on=sh%6Fw&id=%360").body, "<b>t60</b>"));
  EXPECT_TRUE(Has(server.Get("/log/board", "Cookie: action=show; id=59\r\n").body, "<b>t59</b>"));
  EXPECT_EQ(server.Get("/").body, "<h1>home</h1>");
  EXPECT_EQ(server.Get("/log/logs%2emdb").status, 404);  // the names refused: tests/server

  EXPECT_EQ(server.Get("/home.shtml").body,
            "<h1>home</h1>" + hot_news.body + "<h1>home</h1><!-- include failed: not found -->");
}

// The public list on either page of the site, the editors' lists and the pictures' list.
TEST(PublicPagesTest, OnePageNumberForEveryListOfASession) {
  Site site;
  support::FillEntries(site.database(), 60);
  for (int i = 1; i <= 16; ++i) {
    support::InsertPicture(site.database(), "p" + std::to_string(i) + ".gif", "image/gif", "x");
  }
  const std::string config = (site.root() / "two.toml").string();
  std::ofstream(config) << "[[page]]\npath = \"/log/board\"\nweb_path = \"log\"\n"
                           "[[page]]\npath = \"/log/other\"\nweb_path = \"log\"\n";
  const Server server(site, {"--config", config});
  Visitor visitor(server);
  ASSERT_TRUE(IsControlPanel(visitor.LogOn()));
  const std::pair<std::string, std::string> steps[] = {
      {"/log/board?action=list&move=next", "1/3"},
      {"/log/other?action=list&move=next", "2/3"},
      {AdminPage("del&move=next"), "3/3"},
      {AdminPage("image&move=previous"), "2/2"},
      {"/log/board?action=list&move=previous", "1/3"}};
  for (const auto& [target, page] : steps) {
    EXPECT_TRUE(Has(visitor.Get(target).body, ">" + page + "<")) << target;
  }
  // Another visitor starts from the beginning.
  EXPECT_TRUE(Has(server.Get("/log/other?action=list&move=next").body, ">1/3<"));
}

// What a feed parser makes of `document`.
std::string ReadAsFeedReader(const std::string& document) {
  support::TempDir dir;
  const std::string in = dir.Write("feed.xml", document).string(), out = dir.str() + "/read";
  const std::string command =
      "/usr/bin/python3 " TESSALY_SOURCE_DIR "/tests/e2e/feed_reader.py < " + in + " > " + out;
  EXPECT_EQ(std::system(command.c_str()), 0) << support::ReadFile(out);
  return support::ReadFile(out);
}

TEST(FeedTest, ReadByAFeedParserFieldByFieldAndAnswers304) {
  Site site;
  ::setenv("TZ", "CST-8", 1);  // the server writes times with the offset of its zone
  const Server server(site);
  ::unsetenv("TZ");
  const auto fetch = [&](const std::string& headers) {
    return Fetch(server.port(),
                 "GET /log/board?action=feed HTTP/1.1\r\nHost: example.org:8080\r\n"
                 "Connection: close\r\n" +
                     headers + "\r\n");
  };
  // As the add form stores them: what the author typed was "it's A &lt; B" and U+FFFE.
  support::InsertEntry(site.database(), "it''s&nbsp;A&nbsp;&amp;lt;&nbsp;B\xEF\xBF\xBE",
                       "第一行<br><b>粗</b>\x01it''s&nbsp;''\xEF\xBF\xBF",
                       "2026-07-01 08:30:00.250");
  support::InsertEntry(site.database(), "second", "c", "2026-07-02 09:00:00");
  const HttpResponse r = fetch("");
  EXPECT_EQ(r.Header("content-type"), "application/atom+xml; charset=utf-8");
  // Newest first. A title arrives as the text its author typed, apostrophes single and the
  // entity text as typed; the stored HTML of a content arrives as HTML, its apostrophes single.
  // The control character, which XML cannot hold, is gone; U+FFFE and U+FFFF became U+FFFD.
  EXPECT_EQ(ReadAsFeedReader(r.body),
            "feed\tatom10\tTessaly 网站日志\thttp://example.org:8080/log/board?action=list\n"
            "entry\tsecond\thttp://example.org:8080/log/board?action=show&id=2\t"
            "http://example.org:8080/log/board?action=show&id=2\t2026-07-02T01:00:00Z\tc\n"
            "entry\tit's A &lt; B\uFFFD\thttp://example.org:8080/log/board?action=show&id=1\t"
            "http://example.org:8080/log/board?action=show&id=1\t2026-07-01T00:30:00Z\t"
            "第一行<br /><b>粗</b>it's&nbsp;'\uFFFD\n");

  // A reader that has this feed gets a 304 by its date too (by its tag: ConditionalTest).
  EXPECT_EQ(fetch("If-Modified-Since: " + r.Header("last-modified") + "\r\n").status, 304);
}

TEST(SearchTest, WhatMatchesChangesByAnotherProgramPagingAndEscaping) {
  Site site;
  const std::string& db = site.database();
  int day = 10;
  for (const auto& [title, content] : {std::pair{"网站日志系统", "第一条"},
                                       {"Hello&nbsp;World", "<b>strong</b>&nbsp;and&nbsp;plain"},
                                       {"引号", "&quot;AND&quot;&nbsp;NEAR(a*&nbsp;-b)&nbsp;it''s"},
                                       {"分开", "<b>wor</b>ld&nbsp;日&nbsp;志"},
                                       {"Café&nbsp;au&nbsp;lait", "c"}}) {
    support::InsertEntry(db, title, content, "2026-05-" + std::to_string(++day) + " 08:00:00");
  }
  const Server server(site);
  const auto find = [&](const std::string& encoded_query) {
    return Ids(server.Get("/log/board?action=search&q=" + encoded_query).body);
  };
  // Each case after a change made by another program, when it names one.
  const struct {
    const char* change;
    const char* query;
    std::vector<std::int64_t> ids;
  } cases[] = {
      {"", "%E6%97%A5%E5%BF%97", {1}},          // 日志: two characters
      {"", "hello+WORLD", {2}},                 // all words, any case
      {"", "%22AND%22+NEAR(a*+-b)+it's", {3}},  // search syntax is plain text
      {"", "caf%C3%89", {}},                    // beyond ASCII, letters are compared exactly
      {"UPDATE MESSAGE SET CONTENT = 'a&nbsp;zebra' WHERE ID = 2", "zebra", {2}},
      {"DELETE FROM MESSAGE WHERE ID = 2", "zebra", {}},
  };
  for (const auto& [change, query, ids] : cases) {
    if (*change) support::Sql(db, change);
    EXPECT_EQ(find(query), ids) << query;
  }

  for (int i = 0; i < 60; ++i) support::InsertEntry(db, "many", "c", "2027-01-01");
  Visitor visitor(server);
  const std::string first = visitor.Get("/log/board?action=search&q=many").body;
  EXPECT_EQ(Ids(first).size(), 25u);
  EXPECT_TRUE(Has(first, "location.href='/log/board?action=search&q=many&move=next'"));
  EXPECT_TRUE(Has(first, ">1/3<"));
  EXPECT_EQ(Ids(visitor.Get("/log/board?action=search&q=many&move=last").body).size(), 10u);
  // Other items and blanks in the query leave one page of one search: its links name the
  // words alone, as the form sends them.
  const std::string spelled =
      visitor.Get("/log/board?x=1&q=%E3%80%80many++c&action=search&move=first").body;
  EXPECT_TRUE(Has(spelled, "location.href='/log/board?action=search&q=many+c&move=next'"))
      << spelled;

  // No match: the form with the query and one line, both escaped.
  const std::string none = server.Get("/log/board?action=search&q=many+%3Cb%3E'%22").body;
  EXPECT_TRUE(Has(none, "value='many &lt;b&gt;&#39;&quot;'")) << none;
  EXPECT_TRUE(Has(none, "没有找到包含“many &lt;b&gt;&#39;&quot;”的日志。")) << none;
  EXPECT_FALSE(Has(none, "<b>'"));
  // Blank or absent query: the form alone.
  const std::string form = server.Get("/log/board?action=search&q=+++").body;
  EXPECT_TRUE(form.starts_with("<form method='get'") && form.ends_with("</form>")) << form;
  EXPECT_FALSE(Has(server.Get("/log/board?action=search").body, "<li"));
  EXPECT_EQ(server.Get("/log/board?action=search&q=%FF%FE").status, 400);
  // A long query never errors; a control character in it is refused, not searched.
  EXPECT_EQ(server.Get("/log/board?action=search&q=" + std::string(10000, 'x')).status, 200);
  for (const char* control : {"%00", "%C2%85"}) {
    EXPECT_EQ(server.Get("/log/board?action=search&q=ab" + std::string(control) + "cd").status, 400)
        << control;
  }
  EXPECT_EQ(server.Get("/log/board?action=search&q=a%09b").status, 200);  // a tab is a blank
}

}  // namespace
}  // namespace tessaly::e2e
