#include "component/log.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "pages/date_format.h"
#include "support/entries.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace tessaly {

// Reaches the building blocks that pages call, so their exact output can be checked alone.
class LogTestPeer {
 public:
  static void ShowMessage(LOG& log, const std::string& title, const std::string& text, int kind,
                          const std::string& url = {}) {
    log.ShowMessage(title, text, kind, url);
  }
};

namespace {

using host::Variant;
using testing::FakePage;

const std::string kFrameHead =
    "<table border='0' width='100%' height='100%' cellspacing='0' cellpadding='0'><tr><td "
    "width='100%' align='center'><table border='1' width='300' cellspacing='0'><tr><td "
    "width='100%' bgcolor='#000080'><font color=#ffffff>";
const std::string kFrameTail = "<br><br></td></tr></table></td></tr></table>";
const std::string kBack =
    "<input type='button' value=' 返  回 ' name='B1' onclick='javascript:history.back()' "
    "style='font-size: 12px'>";

std::string Message(const std::string& title, const std::string& text, const std::string& buttons) {
  return kFrameHead + title +
         "</font></td></tr><tr><td width='100%' bgcolor='#C0C0C0' style='font-size: 14px'><p "
         "align='center'><br>" +
         text + "<br><br>" + buttons + kFrameTail;
}

class LogTest : public ::testing::Test {
 protected:
  LogTest() : log_(pool_, texts_) {
    page_.server.root = dir_.str();
    page_.server.page_folder = dir_.str() + "/log";
    page_.request.server_variables["SCRIPT_NAME"] = "/log/board";
    page_.request.server_variables["REQUEST_METHOD"] = "GET";
    log_.OnStartPage(page_.context);
    log_.SetWebPath(Variant("log"));
  }

  testing::TempDir dir_;
  data::Pool pool_;
  SiteTexts texts_{"Demo & Co", "admin@example.org", "通知", "制作", "https://example.org/"};
  FakePage page_;
  LOG log_;
};

TEST(LogPropertiesTest, CoercionsOfTheThreeProperties) {
  data::Pool pool;
  SiteTexts texts;
  LOG log(pool, texts);
  EXPECT_EQ(log.WebPath().ToString(), "");
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 0);
  EXPECT_EQ(log.ImageSize().ToInt32(), 0);

  log.SetHotNewsRCs(Variant("10"));
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 10);
  log.SetHotNewsRCs(Variant(2.5));
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 2);
  log.SetHotNewsRCs(Variant(3.5));
  EXPECT_EQ(log.HotNewsRCs().ToInt32(), 4);
  log.SetImageSize(Variant(" -2.5 "));
  EXPECT_EQ(log.ImageSize().ToInt32(), -2);
  log.SetWebPath(Variant(std::int32_t{12}));
  EXPECT_EQ(log.WebPath().ToString(), "12");
  log.SetWebPath(Variant(1.5));
  EXPECT_EQ(log.WebPath().ToString(), "1.5");
  log.SetWebPath(Variant(3e9));
  EXPECT_EQ(log.WebPath().ToString(), "3000000000");
  log.SetWebPath(Variant());
  EXPECT_EQ(log.WebPath().ToString(), "");

  // A failed conversion raises and leaves the stored value alone.
  log.SetImageSize(Variant(std::int32_t{7}));
  EXPECT_THROW(log.SetImageSize(Variant("ten")), ConversionError);
  EXPECT_THROW(log.SetImageSize(Variant("")), ConversionError);
  EXPECT_THROW(log.SetImageSize(Variant(3e10)), ConversionError);
  EXPECT_THROW(log.SetImageSize(Variant("2147483648")), ConversionError);
  EXPECT_THROW(log.SetImageSize(Variant(Variant::Null{})), ConversionError);
  EXPECT_EQ(log.ImageSize().ToInt32(), 7);
  log.SetImageSize(Variant("2147483647"));
  EXPECT_EQ(log.ImageSize().ToInt32(), 2147483647);
  log.SetWebPath(Variant("x"));
  EXPECT_THROW(log.SetWebPath(Variant(Variant::Null{})), ConversionError);
  EXPECT_EQ(log.WebPath().ToString(), "x");
}

TEST_F(LogTest, MessageKindsWriteTheirButtonsInThreeWrites) {
  const std::string close1 =
      "<input type='button' value=' 关  闭 ' name='B1' onclick='javascript:window.close()' "
      "style='font-size: 12px'>";
  const std::string close2 =
      "<input type='button' value=' 关  闭 ' name='B2' onclick='javascript:window.close()' "
      "style='font-size: 12px'>";
  const std::string to_url =
      "<input type='button' value=' 返  回 ' name='B1' "
      "onclick=\"javascript:location.href='/log/board?action=admin&do=control'\" "
      "style='font-size: 12px'>";
  const std::string url = "/log/board?action=admin&do=control";
  struct Case {
    int kind;
    std::string buttons;
  } cases[] = {
      {0, kBack},
      {-1, kBack},
      {6, kBack},
      {1, kBack},
      {2, kBack + "&nbsp;&nbsp;&nbsp; " + close2},
      {3, close1},
      {4, to_url},
      {5, to_url + "&nbsp;&nbsp;&nbsp; " + close2},
  };
  for (const Case& c : cases) {
    FakePage page;
    log_.OnStartPage(page.context);
    LogTestPeer::ShowMessage(log_, "标题", "<b>正文</b>", c.kind, url);
    EXPECT_EQ(page.response.body, Message("标题", "<b>正文</b>", c.buttons)) << "kind " << c.kind;
    EXPECT_EQ(page.response.writes, 3);
  }
  FakePage empty;
  log_.OnStartPage(empty.context);
  LogTestPeer::ShowMessage(log_, "", "", 4);
  EXPECT_EQ(empty.response.body,
            Message("", "",
                    "<input type='button' value=' 返  回 ' name='B1' "
                    "onclick=\"javascript:location.href=''\" style='font-size: 12px'>"));
}

TEST_F(LogTest, EntryPageWritesTheStoredEntryAsAWholeDocument) {
  const std::string file = testing::MakeDatabase(dir_.path() / "log");
  testing::InsertEntry(file, "标题&amp;", "第一行<br>第二行", "2026-12-06 14:05:09.250");
  page_.request.query = {{"action", "show"}, {"id", "1"}};
  log_.Main();
  EXPECT_EQ(page_.response.writes, 2);
  EXPECT_EQ(page_.response.body,
            "<html><head><title>Demo &amp; Co 网站日志系统</title><style>\r\n"
            "A:hover {color: #FF0000; text-decoration: underline}\r\n"
            "A {text-decoration: none}\r\n"
            "</style></head><body bgcolor=#CD9BFF text=#FFFF00><b>标题&amp;</b><p "
            "style='font-size:16px'>第一行<br>第二行</p><em><font style='font-size:12px'>"
            "2026/12/6 14:05:09</font></em><br><br><input type='button' value='关    闭 ' "
            "onclick='javascript:window.close()' style='font-size:12px'><br><br>"
            "<p><a href='mailto:admin@example.org'><font style='color:#0000ff;font-size:12px'>"
            "<b>通知</b></font></a><br><a href='https://example.org/' target=_blank><font "
            "style='color:#0000ff;font-size:12px'>制作</font></a></body></html>");
}

TEST_F(LogTest, EntryPageRefusesIdsThatNameNoEntryWithoutTouchingTheDatabase) {
  const std::string not_found =
      Message("日志读取错误", "该日志不存在",
              "<input type='button' value=' 关  闭 ' name='B1' "
              "onclick='javascript:window.close()' style='font-size: 12px'>");
  // No database exists at all: ids that are not whole numbers must not reach it.
  for (const std::string id :
       {"", "abc", "1 or 1=1", "1, 2", "99999999999999999999", "1.0", " 1"}) {
    FakePage page;
    page.request.server_variables["SCRIPT_NAME"] = "/log/board";
    page.server = page_.server;
    log_.OnStartPage(page.context);
    page.request.query = {{"action", "show"}};
    if (!id.empty()) page.request.query.push_back({"id", id});
    log_.Main();
    EXPECT_EQ(page.response.body, not_found) << "id " << id;
  }
  testing::MakeDatabase(dir_.path() / "log");
  log_.OnStartPage(page_.context);
  page_.request.query = {{"action", "show"}, {"id", "42"}};
  log_.Main();
  EXPECT_EQ(page_.response.body, not_found);
}

TEST_F(LogTest, DatabaseFollowsWebPath) {
  // WebPath empty: the database next to the page.
  testing::InsertEntry(testing::MakeDatabase(dir_.path() / "log"), "here", "c", "2026-01-01");
  log_.SetWebPath(Variant(""));
  page_.request.query = {{"action", "show"}, {"id", "1"}};
  log_.Main();
  EXPECT_NE(page_.response.body.find("<b>here</b>"), std::string::npos);
  // WebPath names a folder under the root, wherever the page is.
  testing::InsertEntry(testing::MakeDatabase(dir_.path() / "data" / "db"), "there", "c",
                       "2026-01-01");
  FakePage other;
  other.server = page_.server;
  other.request = page_.request;
  log_.OnStartPage(other.context);
  log_.SetWebPath(Variant("data\\db"));
  log_.Main();
  EXPECT_NE(other.response.body.find("<b>there</b>"), std::string::npos);
}

TEST_F(LogTest, DispatchComparesTheActionExactly) {
  testing::MakeDatabase(dir_.path() / "log");
  for (const std::string action : {"Show", "SHOW", "show, show", " show"}) {
    FakePage page;
    page.server = page_.server;
    page.request.server_variables["SCRIPT_NAME"] = "/log/board";
    page.request.query = {{"action", action}, {"id", "x"}};
    log_.OnStartPage(page.context);
    log_.Main();
    EXPECT_EQ(page.response.body.find("日志读取错误"), std::string::npos) << action;
  }
  FakePage cookie;
  cookie.server = page_.server;
  cookie.request.cookies = {{"action", "show"}};
  log_.OnStartPage(cookie.context);
  log_.Main();
  EXPECT_NE(cookie.response.body.find("日志读取错误"), std::string::npos);
}

TEST_F(LogTest, AfterOnEndPageMainFailsAtItsFirstHostCall) {
  log_.OnEndPage();
  EXPECT_THROW(log_.Main(), Error);
}

TEST(DateFormatTest, ChineseShortFormat) {
  using pages::FormatDate;
  using pages::FormatDateTime;
  EXPECT_EQ(FormatDateTime("2026-12-06 14:05:09"), "2026/12/6 14:05:09");
  EXPECT_EQ(FormatDateTime("2026-01-02 03:04:05.678"), "2026/1/2 3:04:05");
  EXPECT_EQ(FormatDateTime("2026-12-06 00:00:00"), "2026/12/6");
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

}  // namespace
}  // namespace tessaly
