// Searching the log over HTTP: what matches, changes made by other programs, paging, escaping.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

// The ids of the entries listed on a result page, in order.
std::vector<int> Ids(const std::string& body) {
  std::vector<int> ids;
  static const std::regex row(R"(openwin\((\d+)\)'>)");
  for (std::sregex_iterator it(body.begin(), body.end(), row), end; it != end; ++it) {
    ids.push_back(std::stoi((*it)[1]));
  }
  return ids;
}

class SearchTest : public ::testing::Test {
 protected:
  SearchTest() {
    auto add = [&](const std::string& title, const std::string& content) {
      testing::InsertEntry(site_.database(), title, content,
                           "2026-05-" + std::to_string(10 + ++added_) + " 08:00:00");
    };
    add("网站日志系统", "第一条");                                    // 1
    add("Hello&nbsp;World", "<b>strong</b>&nbsp;and&nbsp;plain");     // 2
    add("引号", "&quot;AND&quot;&nbsp;NEAR(a*&nbsp;-b)&nbsp;it''s");  // 3
    add("分开", "<b>wor</b>ld&nbsp;日&nbsp;志");                      // 4
    server_ = std::make_unique<Server>(std::vector<std::string>{"--root", site_.root().string()});
  }
  std::vector<int> Find(const std::string& encoded_query) {
    return Ids(server_->Get("/log/board?action=search&q=" + encoded_query).body);
  }

  int added_ = 0;
  Site site_;
  std::unique_ptr<Server> server_;
};

TEST_F(SearchTest, WhatMatches) {
  EXPECT_EQ(Find("%E6%97%A5%E5%BF%97"), (std::vector<int>{1}));           // 日志: two characters
  EXPECT_EQ(Find("%E6%97%A5%E5%BF%97%E7%B3%BB"), (std::vector<int>{1}));  // 日志系
  EXPECT_EQ(Find("%E6%97%A5"), (std::vector<int>{4, 1}));                 // 日, newest first
  EXPECT_EQ(Find("hello+WORLD"), (std::vector<int>{2}));                  // all words, any case
  EXPECT_EQ(Find("hello+nosuch"), (std::vector<int>{}));
  // The visible text (tests/text), so across a tag: "<b>wor</b>ld".
  EXPECT_EQ(Find("world"), (std::vector<int>{4, 2}));
  // Search syntax is plain text.
  EXPECT_EQ(Find("%22AND%22"), (std::vector<int>{3}));
  EXPECT_EQ(Find("NEAR(a*"), (std::vector<int>{3}));
  EXPECT_EQ(Find("-b)"), (std::vector<int>{3}));
  EXPECT_EQ(Find("it's"), (std::vector<int>{3}));
  EXPECT_EQ(Find("AND"), (std::vector<int>{3, 2}));
  // Letters beyond ASCII are compared exactly, though the index folds them.
  testing::InsertEntry(site_.database(), "Café&nbsp;au&nbsp;lait", "c", "2026-06-01");
  EXPECT_EQ(Find("cAF%C3%A9"), (std::vector<int>{5}));
  EXPECT_EQ(Find("caf%C3%89"), (std::vector<int>{}));
}

TEST_F(SearchTest, ChangesByAnotherProgramAreFoundAtOnce) {
  EXPECT_EQ(Find("zebra"), (std::vector<int>{}));
  testing::Sql(site_.database(), "UPDATE MESSAGE SET CONTENT = 'a&nbsp;zebra' WHERE ID = 2");
  EXPECT_EQ(Find("zebra"), (std::vector<int>{2}));
  testing::Sql(site_.database(), "DELETE FROM MESSAGE WHERE ID = 2");
  EXPECT_EQ(Find("zebra"), (std::vector<int>{}));
  testing::InsertEntry(site_.database(), "zebra&nbsp;crossing", "c", "2026-06-01");
  EXPECT_EQ(Find("ZEBRA"), (std::vector<int>{5}));
  // Short words alone read only the entries with the newest 100,000 ids.
  testing::Sql(
      site_.database(),
      "INSERT INTO MESSAGE (ID, TITLE, CONTENT, STIME) VALUES (100005, '日', 'c', '2026')");
  EXPECT_EQ(Find("%E6%97%A5"), (std::vector<int>{100005}));
  // With a longer word, among all of its matches: 日 志系统.
  EXPECT_EQ(Find("%E6%97%A5+%E5%BF%97%E7%B3%BB%E7%BB%9F"), (std::vector<int>{1}));
}

TEST_F(SearchTest, PagingKeepsTheQueryAndEverythingIsEscaped) {
  for (int i = 0; i < 60; ++i) testing::InsertEntry(site_.database(), "many", "c", "2027-01-01");
  Visitor visitor(*server_);
  const std::string q = "many+%3Cb%3E'%22";  // many <b>'"
  HttpResponse first = visitor.Get("/log/board?action=search&q=many");
  EXPECT_EQ(Ids(first.body).size(), 25u);
  EXPECT_TRUE(Has(first.body, "location.href='/log/board?action=search&q=many&move=next'"));
  EXPECT_TRUE(Has(first.body, ">1/3<"));
  EXPECT_EQ(Ids(visitor.Get("/log/board?action=search&q=many&move=last").body).size(), 10u);

  // No match: the form with the query and one line, both escaped.
  const std::string none = server_->Get("/log/board?action=search&q=" + q).body;
  EXPECT_TRUE(Has(none, "value='many &lt;b&gt;&#39;&quot;'")) << none;
  EXPECT_TRUE(Has(none, "没有找到包含“many &lt;b&gt;&#39;&quot;”的日志。")) << none;
  EXPECT_FALSE(Has(none, "<b>'"));

  // Blank or absent query: the form alone.
  const std::string form = server_->Get("/log/board?action=search&q=+++").body;
  EXPECT_TRUE(form.starts_with("<form method='get'") && form.ends_with("</form>")) << form;
  EXPECT_FALSE(Has(server_->Get("/log/board?action=search").body, "<li"));
  EXPECT_EQ(server_->Get("/log/board?action=search&q=%FF%FE").status, 400);
  // A long query of any bytes never errors.
  EXPECT_EQ(server_->Get("/log/board?action=search&q=" + std::string(10000, 'x') + "%00").status,
            200);
}

}  // namespace
}  // namespace tessaly::e2e
