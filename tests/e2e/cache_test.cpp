// The public pages, kept between requests by the server, never show a state older than the
// last commit that returned before the request was sent: commits of another program and of
// the admin pages, and a writer committing while readers ask, where each page must show one
// committed state, no older than the one committed when it was asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

struct Row {
  std::int64_t id;
  std::string title;
};

// The entries a list or block shows, in order.
std::vector<Row> Rows(const std::string& page) {
  static const std::regex row("href='javascript:openwin\\((\\d+)\\)'>([^<]*)</a>");
  std::vector<Row> rows;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), row); it != std::sregex_iterator();
       ++it) {
    rows.push_back({std::stoll((*it)[1]), (*it)[2]});
  }
  return rows;
}

TEST(CacheTest, AChangeByAnotherProgramOrTheAdminPagesShowsOnTheNextRequest) {
  Site site;
  testing::FillEntries(site.database(), 30);
  Server server({"--root", site.root().string()});
  Visitor reader(server);
  auto hot_news = [&] { return reader.Get("/log/board").body; };
  auto entry = [&](int id) {
    return reader.Get("/log/board?action=show&id=" + std::to_string(id)).body;
  };
  auto last_page = [&] { return reader.Get("/log/board?action=list&move=last").body; };
  for (int twice = 0; twice < 2; ++twice) {
    ASSERT_EQ(Rows(hot_news()).front().title, "t30");
    ASSERT_NE(entry(3).find("<b>t3</b>"), std::string::npos);
    ASSERT_EQ(Rows(last_page()).size(), 5u);
  }

  // This test's process is another program to the server.
  testing::Sql(site.database(), "UPDATE MESSAGE SET TITLE = 'other' WHERE ID IN (3, 30)");
  EXPECT_EQ(Rows(hot_news()).front().title, "other");
  EXPECT_NE(entry(3).find("<b>other</b>"), std::string::npos);
  EXPECT_EQ(Rows(last_page())[2].title, "other");

  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  admin.Post(AdminPage("doadd"), Form({{"title", "added"}, {"content", "c"}}));
  EXPECT_EQ(Rows(hot_news()).front().title, "added");
  EXPECT_EQ(Rows(last_page()).size(), 6u);
  admin.Post(AdminPage("update&id=3"), Form({{"title", "edited"}, {"content", "c"}}));
  EXPECT_NE(entry(3).find("<b>edited</b>"), std::string::npos);
  admin.Post(AdminPage("dodel"), "id=1");
  EXPECT_EQ(Rows(last_page()).back().id, 2);
  EXPECT_NE(entry(1).find("该日志不存在"), std::string::npos);
}

// The writer adds entry w<i> and renames entry 1 to v<i> in commit i, so that every page names
// the commit it shows; readers check that a page shows exactly one commit's state, at least the
// one committed before they asked and at most the one begun when the answer came.
TEST(CacheTest, UnderAWriterEveryPageShowsOneCommittedStateNoOlderThanTheRequest) {
  constexpr int kFirst = 30;
  constexpr int kPagesToRead = 400;  // the writer goes on until the readers have read as many
  constexpr int kMostCommits = 5000;
  Site site;
  // Entry w<i> is added `i` seconds into 2026.
  const auto added = [](int i) {
    char text[64];
    std::snprintf(text, sizeof text, "('w%d', 'c', '2026-01-01 %02d:%02d:%02d')", i, i / 3600,
                  i / 60 % 60, i % 60);
    return std::string(text);
  };
  std::string first = "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES " + added(1);
  for (int i = 2; i <= kFirst; ++i) first += ", " + added(i);
  testing::Script(site.database(), first);
  Server server({"--root", site.root().string(), "--threads", "2"});
  std::atomic<int> committed{kFirst};
  std::atomic<int> begun{kFirst};
  std::atomic<bool> writing{true};
  std::atomic<int> pages_read{0};

  std::thread writer([&] {
    for (int i = kFirst + 1; i <= kMostCommits && pages_read < kPagesToRead; ++i) {
      begun = i;
      EXPECT_NO_THROW(testing::Script(
          site.database(), "BEGIN; INSERT INTO MESSAGE (TITLE, CONTENT, STIME) VALUES " + added(i) +
                               "; UPDATE MESSAGE SET TITLE = 'v" + std::to_string(i) +
                               "' WHERE ID = 1; COMMIT;"));
      committed = i;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writing = false;
  });

  // The commit that a page shows, after checking that it shows nothing but that commit.
  auto title_of = [](int k, std::int64_t id) {
    return id == 1 && k > kFirst ? "v" + std::to_string(k) : "w" + std::to_string(id);
  };
  auto newest_rows = [&](const std::vector<Row>& rows, std::size_t count) {
    EXPECT_EQ(rows.size(), count);
    if (rows.empty()) return 0;
    const int k = static_cast<int>(rows.front().id);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].id, k - static_cast<std::int64_t>(i));
      EXPECT_EQ(rows[i].title, title_of(k, rows[i].id));
    }
    return k;
  };
  auto pages_of = [](int k) { return (k + 24) / 25; };
  const std::vector<std::function<int(Visitor&)>> checks = {
      [&](Visitor& v) { return newest_rows(Rows(v.Get("/log/board").body), 10); },
      [&](Visitor& v) {
        const std::string page = v.Get("/log/board?action=list").body;
        const int k = newest_rows(Rows(page), 25);
        EXPECT_NE(page.find(">1/" + std::to_string(pages_of(k)) + "</div>"), std::string::npos);
        return k;
      },
      [&](Visitor& v) {
        // The last page of the count when the request came; a commit that adds a page before
        // the page is read makes it the one before the last.
        const std::string page = v.Get("/log/board?action=list&move=last").body;
        const std::vector<Row> rows = Rows(page);
        const std::size_t at = page.find("margin-top:-18px>");
        if (rows.empty() || at == std::string::npos) {
          ADD_FAILURE() << page;
          return 0;
        }
        const int shown = std::stoi(page.substr(at + 17));
        const int pages = std::stoi(page.substr(page.find('/', at) + 1));
        const int k = static_cast<int>(rows.front().id) + 25 * (shown - 1);
        EXPECT_EQ(pages, pages_of(k));
        EXPECT_GE(shown, pages - 1);
        EXPECT_EQ(rows.size(), std::min<std::size_t>(25, k - 25 * (shown - 1)));
        for (std::size_t i = 0; i < rows.size(); ++i) {
          EXPECT_EQ(rows[i].id, rows.front().id - static_cast<std::int64_t>(i));
          EXPECT_EQ(rows[i].title, title_of(k, rows[i].id));
        }
        return k;
      },
      [&](Visitor& v) {
        const std::string page = v.Get("/log/board?action=show&id=1").body;
        const std::size_t at = page.find("<b>");
        const std::string title = page.substr(at + 3, page.find("</b>", at) - at - 3);
        return title == "w1" ? kFirst : std::stoi(title.substr(1));
      },
  };

  std::vector<std::thread> readers;
  for (const auto& check : checks) {
    readers.emplace_back([&, check] {
      Visitor visitor(server);
      while (writing) {
        const int before = committed;
        const int shown = check(visitor);
        const int after = begun;
        EXPECT_GE(shown, before) << "a page older than the last commit before it was asked for";
        EXPECT_LE(shown, after);
        ++pages_read;
        if (::testing::Test::HasFailure()) return;
      }
    });
  }
  writer.join();
  for (auto& reader : readers) reader.join();
  EXPECT_GE(pages_read, kPagesToRead);
}

}  // namespace
}  // namespace tessaly::e2e
