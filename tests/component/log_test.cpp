#include "component/log.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "component/run_page.h"
#include "support/entries.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using host::Variant;
using testing::FakePage;

TEST(LogPropertiesTest, CoercionsOfTheThreeProperties) {
  data::Pool pool;
  SiteTexts texts;
  pages::LogonGuard logons;
  LOG log(pool, texts, logons);
  EXPECT_EQ(log.WebPath().ToString(), "");
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 0);
  EXPECT_EQ(log.ImageSize().ToInt32(), 0);
  log.SetHotNewsRCs(Variant("10"));
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 10);

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
  log.SetImageSize(Variant(std::int32_t{7}));
  for (const Variant& bad : {Variant("ten"), Variant(""), Variant(3e10), Variant("2147483648"),
                             Variant(Variant::Null{})}) {
    EXPECT_THROW(log.SetImageSize(bad), ConversionError);
  }
  EXPECT_EQ(log.ImageSize().ToInt32(), 7);
  log.SetWebPath(Variant("x"));
  EXPECT_THROW(log.SetWebPath(Variant(Variant::Null{})), ConversionError);
  EXPECT_EQ(log.WebPath().ToString(), "x");
}

// The component as a page script drives it, over fake host objects and a real database.
class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    testing::InsertEntry(testing::MakeDatabase(dir_.path() / "log"), "here", "c", "2026-01-01");
    testing::InsertEntry(testing::MakeDatabase(dir_.path() / "data" / "db"), "there", "c",
                         "2026-01-01");
  }

  // Runs one page for `query` and returns what it wrote.
  std::string Run(testing::Items query, const std::string& web_path = "log") {
    FakePage page;
    page.server.root = dir_.str();
    page.server.page_folder = dir_.str() + "/log";
    page.request.server_variables["SCRIPT_NAME"] = "/log/board";
    page.request.query = std::move(query);
    RunLogPage(pool_, texts_, logons_, page.context, {Variant(web_path), Variant(10), Variant(0)});
    return page.response.body;
  }

  testing::TempDir dir_;
  data::Pool pool_;
  SiteTexts texts_;
  pages::LogonGuard logons_;
};

TEST_F(LogTest, DispatchComparesTheActionExactly) {
  EXPECT_NE(Run({{"action", "show"}, {"id", "1"}}).find("<b>here</b>"), std::string::npos);
  // Any other spelling, or the item given twice, is the hot news block.
  for (const std::string action : {"Show", "SHOW", " show", "", "nosuch"}) {
    EXPECT_TRUE(Run({{"action", action}, {"id", "1"}}).starts_with("<div>")) << action;
  }
  EXPECT_TRUE(Run({{"action", "show"}, {"action", "show"}}).starts_with("<div>"));
  EXPECT_TRUE(Run({}).starts_with("<div>"));
}

TEST_F(LogTest, DatabaseFollowsWebPath) {
  // A folder under the root, wherever the page is; backslashes separate folders.
  EXPECT_NE(Run({{"action", "show"}, {"id", "1"}}, "data\\db").find("<b>there</b>"),
            std::string::npos);
  // Empty: the database beside the page.
  EXPECT_NE(Run({{"action", "show"}, {"id", "1"}}, "").find("<b>here</b>"), std::string::npos);
}

TEST_F(LogTest, MainOutsideAStartedPageFails) {
  LOG log(pool_, texts_, logons_);
  EXPECT_THROW(log.Main(), Error);
  FakePage page;
  log.OnStartPage(page.context);
  log.OnEndPage();
  EXPECT_THROW(log.Main(), Error);
}

}  // namespace
}  // namespace tessaly
