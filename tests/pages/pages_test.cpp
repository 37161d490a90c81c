// The shared blocks and the public pages, called directly with a fake context, and the output
// cache that keeps the public pages: never a page from before a commit that has returned, also
// one that was still being written when the page was kept. Exact pages are golden files under
// tests/golden/; the pages over HTTP are in tests/e2e/public_pages_test.cpp and cache_test.cpp.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <numeric>
#include <regex>
#include <thread>

#include "pages/conditional.h"
#include "pages/date_format.h"
#include "pages/message.h"
#include "pages/output_cache.h"
#include "pages/pager.h"
#include "pages/public_pages.h"
#include "pages/request_values.h"
#include "support/golden.h"
#include "support/page_fixture.h"
#include "support/page_text.h"

namespace tessaly::pages {
namespace {

using support::ExpectGolden;
using support::Has;
using support::PageFixture;

// Runs `page` for a GET of `query`; returns its text.
std::string Render(PageFixture& f, PageFunction page, support::Items query = {}) {
  f.NewRequest(std::move(query));
  return f.Run(page);
}

TEST(MessageTest, EveryButtonKind) {
  support::FakeResponse response;
  for (const auto& [name, buttons] : {std::pair{"back", MessageButtons::kBack},
                                      {"back and close", MessageButtons::kBackAndClose},
                                      {"close", MessageButtons::kClose},
                                      {"back to", MessageButtons::kBackTo},
                                      {"back to and close", MessageButtons::kBackToAndClose}}) {
    response.body += std::string("\n<!-- ") + name + " -->\n";
    ShowMessage(response, "标题", "<b>正文</b>", buttons, "/log/board?action=admin&do=control");
  }
  ShowMessage(response, "", "", MessageButtons::kBack);
  ExpectGolden(response.body, "message_buttons.html");
}

TEST(RequestValuesTest, WholeNumbersAndIdLists) {
  EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
  EXPECT_EQ(ParseWholeNumber("-7"), -7);
  for (const char* bad : {"", " 1", "1 ", "+1", "1.0", "0x1", "1 or 1=1", "99999999999999999999"}) {
    EXPECT_FALSE(ParseWholeNumber(bad)) << bad;
  }
  EXPECT_EQ(ParseIdList("3, 7,12 ,  9"), (std::vector<std::int64_t>{3, 7, 12, 9}));
  for (const char* bad : {"", " ", "1,", ",1", "1,,2", "1;2", "1) or (1=1", "1\t,2"}) {
    EXPECT_FALSE(ParseIdList(bad)) << bad;
  }
}

// The goldens show ordinary times; here the edges.
TEST(DateFormatTest, ChineseShortFormat) {
  for (const auto& [stime, shown] : {std::pair{"2026-01-02 03:04:05.678", "2026/1/2 3:04:05"},
                                     {"2026-12-06 00:00:00.000", "2026/12/6"},
                                     {"2026-12-06", "2026/12/6"},
                                     {"2026-12-06T23:59:59", "2026/12/6 23:59:59"}}) {
    EXPECT_EQ(FormatDateTime(stime), shown);
  }
  // Anything else is shown as stored rather than guessed at.
  for (const char* odd : {"", "yesterday", "2026-13-01", "2026-12-06 24:00:00", "2026-12-06 1:2:3",
                          "2026-12-06 14:05:09.", "2026-12-06 14:05:09.12x"}) {
    EXPECT_EQ(FormatDateTime(odd), odd);
    EXPECT_EQ(FormatDate(odd), odd);
  }
}

TEST(ConditionalTest, IfNoneMatchListsTheTagWeaklyOrIsAStar) {
  const std::string tag = "\"1-12-20260301\"";
  for (const std::string& sent :
       {tag, "W/" + tag, "\"0-1-2\", " + tag, " \"0\" ,\t" + tag + " ", std::string("*")}) {
    EXPECT_TRUE(ListsEntityTag(sent, tag)) << sent;
  }
  for (const std::string& sent :
       {std::string(), std::string("\"1-12-2026\""), tag + "x", "w/" + tag}) {
    EXPECT_FALSE(ListsEntityTag(sent, tag)) << sent;
  }
}

// What a browser runs for an onclick attribute: its text with character references decoded,
// of those that can give ' or \ (numeric ones, ';' optional, and two named ones).
std::string DecodeAttribute(const std::string& text) {
  static const std::regex kReference("&(?:#([0-9]+);?|#[xX]([0-9a-fA-F]+);?|(apos|bsol);)");
  std::string out;
  std::size_t from = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), kReference), end; it != end; ++it) {
    const std::smatch& m = *it;
    out += text.substr(from, m.position() - from);
    out += m[1].matched     ? static_cast<char>(std::stoi(m[1]))
           : m[2].matched   ? static_cast<char>(std::stoi(m[2], nullptr, 16))
           : m[3] == "apos" ? '\''
                            : '\\';
    from = m.position() + m.length();
  }
  return out + text.substr(from);
}

TEST(PagerTest, LinksCarryTheQueryWithoutMovesAndNoScript) {
  PageFixture f;
  auto write_bar = [&](const std::string& raw_query) {
    f.NewRequest({}, "GET", raw_query);
    WritePager(f.Context(), {2, 3});
    return f.host.response.body;
  };
  ExpectGolden(write_bar("action=list&move=next"), "pager_bar.html");
  const auto base = [&](const std::string& raw_query, std::string_view pager_query = {}) {
    f.NewRequest({}, "GET", raw_query);
    return PagerLinkBase(f.Context(), pager_query);
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
      EXPECT_FALSE(Has(script, "\\")) << crafted << "\n" << script;
    }
  }
}

TEST(PagerTest, MovesAreRelativeToTheSessionsPageAndClamped) {
  PageFixture f;
  support::FillEntries(f.MakeDatabase(), 60);
  auto select = [&](const std::string& move) {
    f.NewRequest({{"move", move}});
    auto rs = f.database.Open({"SELECT ID FROM MESSAGE ORDER BY STIME DESC", {}, "MESSAGE", true});
    const PageChoice choice = SelectPage(*rs, 25, f.host.request, f.host.session);
    EXPECT_EQ(choice.count, 3);
    EXPECT_EQ(f.host.session.Value("tPage"), std::to_string(choice.page));
    EXPECT_EQ(rs->Field("ID").ToInt(), 60 - 25 * (choice.page - 1)) << move;
    return choice.page;
  };
  const std::pair<const char*, int> moves[] = {{"", 1},         {"next", 2},     {"next", 3},
                                               {"next", 3},     {"previous", 2}, {"first", 1},
                                               {"previous", 1}, {"last", 3},     {"Next", 1}};
  for (const auto& [move, page] : moves) EXPECT_EQ(select(move), page) << move;  // "Next": none
  f.host.session.SetValue("tPage", "junk");
  EXPECT_EQ(select("next"), 1);  // an unreadable page counts as 0
}

TEST(PublicPagesTest, HotNewsShowsAsManyAsHotNewsRCsAndLinksFromWhereItIsEmbedded) {
  PageFixture f;
  const std::string file = f.MakeDatabase();
  auto hot_news = [&](std::int32_t count, const std::string& script_name = "/log/board") {
    f.hot_news = count;
    f.script_name = script_name;
    return Render(f, WriteHotNews);
  };
  EXPECT_EQ(hot_news(5), "没有日志");
  support::FillEntries(file, 12);
  ExpectGolden(hot_news(5), "hot_news_5_of_12.html");
  const std::string all = hot_news(12), none = hot_news(-3);
  EXPECT_TRUE(Has(all, ">t1</a>"));
  EXPECT_FALSE(Has(all, "更多的网站日志"));
  EXPECT_FALSE(Has(none, "<li"));
  EXPECT_TRUE(Has(none, "更多的网站日志"));

  // Embedded outside the database's folder, the links lead into it, relative to the page.
  EXPECT_TRUE(Has(hot_news(1, "/board"), "window.open('log/board?action=show"));
  EXPECT_TRUE(Has(hot_news(1, "/Log/board"), "href=log/board?action=list"));
  f.web_path = "";
  EXPECT_TRUE(Has(hot_news(1), "window.open('/board?action=show"));
}

// The first page of 60 is a golden file fetched over HTTP.
TEST(PublicPagesTest, ListPagesWithAndWithoutPager) {
  for (const auto& [entries, golden] :
       {std::pair{0, "list_empty.html"}, {60, "list_60_page_3.html"}}) {
    PageFixture f;
    const std::string file = f.MakeDatabase();
    if (entries > 0) support::FillEntries(file, entries);
    ExpectGolden(Render(f, WriteLogList, {{"action", "list"}, {"move", "last"}}), golden);
  }
  PageFixture one_page;
  support::FillEntries(one_page.MakeDatabase(), 25);
  const std::string page = Render(one_page, WriteLogList, {{"action", "list"}});
  EXPECT_FALSE(Has(page, "<center>"));
  EXPECT_TRUE(Has(page, ">t1</a>"));
}

TEST(PublicPagesTest, EntryPageAndWhatNamesNoEntry) {
  PageFixture f;
  f.texts = {"Demo & Co", "admin@example.org", "通知", "制作", "https://example.org/", ""};
  support::InsertEntry(f.MakeDatabase(), "标题&amp;", "第一行<br>第二行",
                       "2026-12-06 14:05:09.250");
  PageFixture no_database;  // ids that are not whole numbers never reach it
  for (auto [page, id, golden] : {std::tuple{&f, "1", "entry_page.html"},
                                  {&f, "42", "entry_not_found.html"},
                                  {&no_database, "1 or 1=1", "entry_not_found.html"},
                                  {&no_database, "", "entry_not_found.html"}}) {
    ExpectGolden(Render(*page, ShowLogEntry, {{"id", id}}), golden);
  }
}

data::Stamp StampOf(std::uint32_t n) {
  data::Stamp stamp;
  stamp.words[0] = n;
  stamp.known = true;
  return stamp;
}

TEST(OutputCacheTest, StaysWithinItsBytesDroppingTheLeastRecentlyUsed) {
  const std::string page(1000, 'x');
  OutputCache cache(5000);  // four such pages with their keys and bookkeeping
  const auto find = [&cache](const char* key) { return cache.Find(1, StampOf(1), key); };
  for (const char* key : {"a", "b", "c", "d"}) cache.Store(1, StampOf(1), key, {page});
  ASSERT_NE(find("a"), nullptr);
  cache.Store(1, StampOf(1), "e", {page});
  EXPECT_LE(cache.bytes(), 5000u);
  EXPECT_EQ(find("b"), nullptr);  // used least recently
  EXPECT_NE(find("a"), nullptr);
  EXPECT_EQ(find("e")->text, page);

  const std::size_t bytes = cache.bytes();
  cache.Store(1, StampOf(1), "a", {"small"});  // a key's new text replaces the old one's bytes
  EXPECT_EQ(find("a")->text, "small");
  EXPECT_EQ(cache.bytes(), bytes - 995);
  cache.Store(1, StampOf(1), "huge", {std::string(6000, 'x')});
  EXPECT_EQ(find("huge"), nullptr);
  EXPECT_NE(find("e"), nullptr);  // not pushed out by what is not kept
}

TEST(OutputCacheTest, ANewStateDropsThatDatabasesPagesAndAnUnknownOneKeepsNothing) {
  OutputCache cache(1 << 20);
  cache.Store(1, StampOf(1), "page", {"one"});
  cache.Store(2, StampOf(1), "page", {"other database"});
  EXPECT_EQ(cache.Find(1, StampOf(2), "page"), nullptr);
  EXPECT_EQ(cache.Find(1, StampOf(1), "page"), nullptr);  // gone, not merely hidden
  EXPECT_EQ(cache.Find(2, StampOf(1), "page")->text, "other database");
  EXPECT_EQ(cache.size(), 1u);

  cache.Store(1, data::Stamp{}, "page", {"unknown state"});
  EXPECT_EQ(cache.Find(1, data::Stamp{}, "page"), nullptr);
  EXPECT_EQ(cache.size(), 1u);
}

// A VFS over the default one whose sync of the write-ahead log waits for the test: the
// commit's frames are written, but the log's index still names the state before it. A cache
// invalidated by file events would see the write now, read the old state, and keep it past
// the commit.
struct HeldSync {
  HeldSync() : base(sqlite3_vfs_find(nullptr)), vfs(*base) {
    vfs.zName = "held-sync";
    vfs.xOpen = [](sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
      const int rc = self->base->xOpen(self->base, name, file, flags, out);
      if (rc == SQLITE_OK && (flags & SQLITE_OPEN_WAL) && file->pMethods) {
        self->base_methods = file->pMethods;  // the log keeps them but for its sync
        self->methods = *file->pMethods;
        self->methods.xSync = [](sqlite3_file* log, int sync_flags) {
          std::call_once(self->once, [] { self->reached.set_value(); });
          self->release.wait();
          return self->base_methods->xSync(log, sync_flags);
        };
        file->pMethods = &self->methods;
      }
      return rc;
    };
    self = this;
    sqlite3_vfs_register(&vfs, 0);
  }
  ~HeldSync() { sqlite3_vfs_unregister(&vfs); }

  static inline HeldSync* self = nullptr;
  sqlite3_vfs* base;
  sqlite3_vfs vfs;
  const sqlite3_io_methods* base_methods = nullptr;
  sqlite3_io_methods methods{};
  std::once_flag once;
  std::promise<void> reached, released;
  std::shared_future<void> release = released.get_future().share();
};

TEST(CachedPagesTest, APageReadWhileACommitIsBeingWrittenIsNotServedAfterItReturns) {
  PageFixture f;
  const std::string file = f.MakeDatabase();
  support::FillEntries(file, 12);
  Render(f, WriteHotNews);  // the log and its index exist before the writer opens the file
  HeldSync held;
  std::thread writer([&] {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, "held-sync");
    sqlite3_exec(db,
                 "PRAGMA synchronous=FULL; INSERT INTO MESSAGE (TITLE, CONTENT, STIME) "
                 "VALUES ('committed', 'c', '2027-01-01 00:00:00')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  });
  EXPECT_EQ(held.reached.get_future().wait_for(std::chrono::seconds(10)),
            std::future_status::ready);
  const auto shown = [&] {
    return std::vector<bool>{Has(Render(f, WriteHotNews), ">committed</a>"),
                             Has(Render(f, WriteLogList, {{"action", "list"}}), ">committed</a>"),
                             Has(Render(f, ShowLogEntry, {{"id", "13"}}), "<b>committed</b>")};
  };
  EXPECT_EQ(shown(), std::vector<bool>(3, false));
  held.released.set_value();
  writer.join();
  EXPECT_EQ(shown(), std::vector<bool>(3, true));
}

// Newest first, and of entries of one time the later added first, as the list always showed.
TEST(CachedPagesTest, PagesFoundByTheirAnchorsKeepTheOrderOfEntriesOfEqualTime) {
  PageFixture f;
  const std::string file = f.MakeDatabase();
  // Runs of seven entries share a time, so that runs cross the pages' and the anchors' bounds.
  support::Sql(file,
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2110) "
               "INSERT INTO MESSAGE (TITLE, CONTENT, STIME) SELECT 't' || i, 'c', "
               "datetime('2026-03-01', '+' || (i / 7) || ' seconds') FROM n");
  const auto list = [&f](const char* move) {
    return support::Ids(Render(f, WriteLogList, {{"action", "list"}, {"move", move}}));
  };
  std::vector<std::int64_t> shown, expected(2110);
  for (int page = 1; page <= 85; ++page) {
    const std::vector<std::int64_t> rows = list("next");
    shown.insert(shown.end(), rows.begin(), rows.end());
  }
  std::iota(expected.rbegin(), expected.rend(), 1);
  EXPECT_EQ(shown, expected);

  // In another state the anchors are read again: an entry amid the run of entries 28 to 34
  // moves every page after it.
  support::InsertEntry(file, "amid", "c", "2026-03-01 00:00:04");
  expected.insert(expected.end() - 34, 2111);
  auto slice = [&](std::size_t from, std::size_t to) {
    return std::vector<std::int64_t>(expected.begin() + from, expected.begin() + to);
  };
  EXPECT_EQ(list("last"), slice(2100, 2111));
  EXPECT_EQ(list("previous"), slice(2075, 2100));
  f.host.session.SetValue("tPage", "42");
  EXPECT_EQ(list("previous"), slice(1000, 1025));
  EXPECT_EQ(list("previous"), slice(975, 1000));
}

// Which page a session is on is checked over HTTP.
TEST(CachedPagesTest, AKeptListPageIsNotServedWithTheLinksOfAnotherQuery) {
  PageFixture f;
  support::FillEntries(f.MakeDatabase(), 60);
  EXPECT_TRUE(Has(Render(f, WriteLogList, {{"action", "list"}}),
                  "location.href='/log/board?action=list&move=first'"));
  EXPECT_TRUE(Has(Render(f, WriteLogList, {{"action", "list"}, {"x", "1"}}),
                  "location.href='/log/board?action=list&x=1&move=first'"));
}

}  // namespace
}  // namespace tessaly::pages
