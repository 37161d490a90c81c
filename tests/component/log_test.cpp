#include "component/log.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "component/run_page.h"
#include "support/entries.h"
#include "support/fake_host.h"
#include "support/page_text.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using host::Variant;
using support::Has;

// The coercions of the three properties, which a page's settings reach only through them.
TEST(LogPropertiesTest, CoercionsOfTheThreeProperties) {
  data::Pool pool;
  SiteTexts texts;
  pages::LogonGuard logons;
  LOG log(pool, texts, logons);
  EXPECT_EQ(log.WebPath().ToString() + "/" + log.HotNewsRCs().ToString(), "/0");

  // Halves round to even; numeric text is read.
  for (const auto& [value, number] : std::initializer_list<std::pair<Variant, std::int32_t>>{
           {2.5, 2}, {3.5, 4}, {" -2.5 ", -2}, {"2147483647", 2147483647}}) {
    log.SetImageSize(value);
    EXPECT_EQ(log.ImageSize().ToInt32(), number) << number;
  }
  for (const auto& [value, text] : std::initializer_list<std::pair<Variant, std::string>>{
           {std::int32_t{12}, "12"}, {1.5, "1.5"}, {3e9, "3000000000"}, {Variant(), ""}}) {
    log.SetWebPath(value);
    EXPECT_EQ(log.WebPath().ToString(), text);
  }

  // A failed conversion raises and leaves the stored value alone.
  log.SetHotNewsRCs(Variant(std::int32_t{7}));
  for (const Variant& bad : {Variant("ten"), Variant(""), Variant(3e10), Variant("2147483648"),
                             Variant(Variant::Null{})}) {
    EXPECT_THROW(log.SetHotNewsRCs(bad), ConversionError);
  }
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 7);
  log.SetWebPath(Variant("x"));
  EXPECT_THROW(log.SetWebPath(Variant(Variant::Null{})), ConversionError);
  EXPECT_EQ(log.WebPath().ToString(), "x");
}

// The component as a page script drives it, over fake host objects and real databases.
TEST(LogTest, DispatchesOnTheExactActionToTheDatabaseThatWebPathNames) {
  support::TempDir dir;
  support::InsertEntry(support::MakeDatabase(dir.path() / "log"), "here", "c", "2026-01-01");
  support::InsertEntry(support::MakeDatabase(dir.path() / "data" / "db"), "there", "c",
                       "2026-01-01");
  data::Pool pool;
  SiteTexts texts;
  pages::LogonGuard logons;
  const auto run = [&](support::Items query, const std::string& web_path) {
    support::FakePage page;
    page.server.root = dir.str();
    page.server.page_folder = dir.str() + "/log";
    page.request.server_variables["SCRIPT_NAME"] = "/log/board";
    page.request.query = std::move(query);
    RunLogPage(pool, texts, logons, page.context, {Variant(web_path), Variant(10), Variant(0)});
    return page.response.body;
  };
  // A folder under the root, wherever the page is, with backslashes between folders; empty:
  // the database beside the page.
  for (const auto& [web_path, title] :
       {std::pair{"log", "<b>here</b>"}, {"data\\db", "<b>there</b>"}, {"", "<b>here</b>"}}) {
    EXPECT_TRUE(Has(run({{"action", "show"}, {"id", "1"}}, web_path), title)) << web_path;
  }
  // Any other spelling, the item given twice or none is the hot news block.
  for (const support::Items& query :
       std::initializer_list<support::Items>{{{"action", "Show"}},
                                             {{"action", " show"}},
                                             {{"action", "show"}, {"action", "show"}},
                                             {{"action", ""}},
                                             {}}) {
    EXPECT_TRUE(run(query, "log").starts_with("<div>")) << query.size();
  }

  LOG log(pool, texts, logons);
  EXPECT_THROW(log.Main(), Error);
  support::FakePage page;
  log.OnStartPage(page.context);
  log.OnEndPage();
  EXPECT_THROW(log.Main(), Error);
}

}  // namespace
}  // namespace tessaly
