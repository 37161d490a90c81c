// The picture pages, called directly with a fake context and a real database. Exact pages are
// golden files under tests/golden/; the parser's own cases are in upload_body_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <thread>

#include "base/errors.h"
#include "data/database.h"
#include "images/images.h"
#include "images/pictures.h"
#include "support/entries.h"
#include "support/golden.h"
#include "support/page_fixture.h"

namespace tessaly::images {
namespace {

using testing::ExpectGolden;
using testing::FormUpload;
using testing::InsertPicture;
using testing::PageFixture;

// A logged-on administrator on a fresh database.
struct Admin : PageFixture {
  Admin() : file(MakeDatabase()) { host.session.SetValue("username", "admin"); }

  // A request with the raw query `raw_query` (its items too), sent with `method`.
  void Request(const std::string& raw_query, const std::string& method = "GET") {
    testing::Items items;
    for (std::size_t at = 0; at <= raw_query.size();) {
      std::size_t end = raw_query.find('&', at);
      if (end == std::string::npos) end = raw_query.size();
      const std::string pair = raw_query.substr(at, end - at);
      const std::size_t equals = pair.find('=');
      if (!pair.empty()) items.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
      at = end + 1;
    }
    NewRequest(items, raw_query);
    host.request.server_variables["REQUEST_METHOD"] = method;
  }

  std::string Page(const std::string& raw_query, const std::string& method = "GET") {
    Request(raw_query, method);
    ImageAdmin(Context());
    return host.response.body;
  }

  std::string Upload(const FormUpload& form) {
    Request("action=admin&do=image&for=doupload", "POST");
    host.request.body = form.Body();
    ImageAdmin(Context());
    return host.response.body;
  }

  std::string Serve(const std::string& name, const std::string& if_none_match = {}) {
    Request("action=image&name=" + name);
    if (!if_none_match.empty()) host.request.server_variables["HTTP_IF_NONE_MATCH"] = if_none_match;
    ServeImage(Context());
    return host.response.body;
  }

  std::int64_t Pictures() const {
    return std::stoll(testing::Sql(file, "SELECT count(*) FROM IMAGE"));
  }

  std::string file;
};

// The title of a message page.
std::string Title(const std::string& page) {
  const std::string open = "<font color=#ffffff>";
  const std::size_t at = page.find(open);
  if (at == std::string::npos) return "(no message)";
  return page.substr(at + open.size(), page.find("</font>", at) - at - open.size());
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(piece, at)) != std::string::npos; at += piece.size()) {
    ++n;
  }
  return n;
}

TEST(ImageAdminTest, LoginFirstThenTheExactFor) {
  Admin f;
  InsertPicture(f.file, "a.gif", "image/gif", "x");
  f.host.session.values.clear();
  for (const char* what : {"", "list", "upload", "delimage", "doupload"}) {
    f.Request(std::string("action=admin&do=image&id=1&for=") + what, "POST");
    f.host.request.body = FormUpload().Body();
    ImageAdmin(f.Context());
    ExpectGolden(f.host.response.body, "admin_login_form.html");
  }
  EXPECT_EQ(f.Pictures(), 1);

  f.host.session.SetValue("username", "admin");
  const std::string list = f.Page("action=admin&do=image");
  EXPECT_NE(list.find(">a.gif</a>"), std::string::npos);
  for (const char* other : {"list", "Upload", "DELIMAGE", "upload ", "dolist"}) {
    EXPECT_EQ(f.Page(std::string("action=admin&do=image&for=") + other), list) << other;
  }
  ExpectGolden(f.Page("action=admin&do=image&for=upload"), "image_upload_form.html");
}

TEST(ImageListTest, FifteenAPageWithThePagerBeyond) {
  Admin f;
  ExpectGolden(f.Page("action=admin&do=image"), "image_list_empty.html");
  for (int i = 1; i <= 15; ++i) {
    char stime[32];
    std::snprintf(stime, sizeof stime, "2026-03-01 %02d:05:09.125", i);
    InsertPicture(f.file, "p" + std::to_string(i) + ".gif", i % 2 ? "image/gif" : "image/jpeg", "x",
                  stime);
  }
  std::string page = f.Page("action=admin&do=image");
  EXPECT_EQ(Count(page, "type='checkbox'"), 15u);
  EXPECT_EQ(page.find("<center>"), std::string::npos);

  InsertPicture(f.file, "p16.gif", "image/pjpeg", "x", "2026-03-02 00:00:00.000");
  // From the control panel's form: "do" comes in the body, so the pager's links add it.
  f.Request("action=admin", "POST");
  f.host.request.form = {{"do", "image"}};
  ImageAdmin(f.Context());
  ExpectGolden(f.host.response.body, "image_list_16_page_1.html");

  page = f.Page("action=admin&do=image&move=next");
  EXPECT_EQ(Count(page, "type='checkbox'"), 1u);
  EXPECT_NE(page.find(">p16.gif</a>"), std::string::npos);
  EXPECT_NE(page.find("location.href='/log/board?action=admin&do=image&move=first'"),
            std::string::npos);
  EXPECT_NE(page.find(">2/2<"), std::string::npos);
  // A query that starts with "do=image" does not hold "&do=image".
  page = f.Page("do=image&action=admin&move=last");
  EXPECT_NE(page.find("'/log/board?do=image&action=admin&&do=image&move=first'"),
            std::string::npos);
}

TEST(ImageListTest, NamesAndTaxonCannotBreakOutOfTheirPlace) {
  Admin f;
  InsertPicture(f.file, "a'b<i>\"&c%d+e#f;g h.gif", "image/<gif>", "x");
  InsertPicture(f.file, "图片.gif", "image/gif", "x");
  std::string page = f.Page("action=admin&do=image&taxon=7");
  EXPECT_NE(page.find("href='/log/board?action=image&name=a%27b%3Ci%3E%22%26c%25d%2Be%23f%3Bg%20h."
                      "gif'>a&#39;b&lt;i&gt;&quot;&amp;c%d+e#f;g h.gif</a>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<td align='center' bgcolor='#F7F7F7'>image/&lt;gif&gt;</td>"),
            std::string::npos);
  EXPECT_NE(page.find("href='/log/board?action=image&name=图片.gif'>图片.gif</a>"),
            std::string::npos);
  EXPECT_NE(page.find("?action=admin&do=image&for=upload7'\""), std::string::npos);

  f.Request("action=admin&do=image");
  f.host.request.query.emplace_back("taxon", "7';alert(1)//\" &#39;");
  ImageAdmin(f.Context());
  EXPECT_NE(f.host.response.body.find("for=upload7%27%3Balert(1)//%22%20&%2339%3B'\""),
            std::string::npos);
}

TEST(DeleteImagesTest, APostDeletesTheCheckedAnythingElseShowsTheList) {
  Admin f;
  for (const char* name : {"a.gif", "b.gif", "c.gif"})
    InsertPicture(f.file, name, "image/gif", "x");
  const std::string list = f.Page("action=admin&do=image");
  // Only the request's own method counts, not an item of that name in the query.
  EXPECT_EQ(f.Page("action=admin&do=image&for=delimage&id=1&REQUEST_METHOD=POST"), list);
  EXPECT_EQ(f.Page("action=admin&do=image&for=delimage", "POST"), list);
  for (const char* bad : {"1) or (1=1", ""}) {  // the id list's own cases are in tests/pages
    f.Request("action=admin&do=image&for=delimage", "POST");
    f.host.request.form = {{"id", bad}};
    ImageAdmin(f.Context());
    EXPECT_EQ(f.host.response.body, list) << bad;
  }
  EXPECT_EQ(f.Pictures(), 3);

  // Several checked boxes arrive as one item, joined by ", ".
  f.Request("action=admin&do=image&for=delimage", "POST");
  f.host.request.form = {{"id", "1"}, {"id", "3"}};
  ImageAdmin(f.Context());
  EXPECT_EQ(Title(f.host.response.body), "成功删除图片");
  EXPECT_EQ(f.Pictures(), 1);
  EXPECT_EQ(testing::Sql(f.file, "SELECT NAME FROM IMAGE"), "b.gif");
  // Ids of no picture: nothing to delete, the same confirmation.
  EXPECT_EQ(Title(f.Page("action=admin&do=image&for=delimage&id=7", "POST")), "成功删除图片");
  EXPECT_EQ(f.Pictures(), 1);
}

TEST(UploadTest, SizeTypeNameAndDuplicateChecksInThatOrder) {
  Admin f;
  FormUpload form;
  f.image_size = static_cast<std::int32_t>(form.Body().size()) - 1;
  EXPECT_EQ(Title(f.Upload(form)), "文件过大");
  form.type = "image/png";
  form.file_name = "a b.gif";
  f.image_size = static_cast<std::int32_t>(form.Body().size()) - 1;
  EXPECT_EQ(Title(f.Upload(form)), "文件过大");  // before the type
  f.image_size = 0;
  EXPECT_EQ(Title(f.Upload(FormUpload())), "文件过大");
  f.image_size = 1 << 20;
  for (const char* type : {"image/png", "IMAGE/GIF", "image/jpg", "image/gif; x", ""}) {
    form.type = type;
    EXPECT_EQ(Title(f.Upload(form)), "该图像文件类型不被支持") << type;  // before the name
  }
  InsertPicture(f.file, "a b.gif", "image/gif", "x");
  form.type = "image/gif";
  for (const char* name : {"a b.gif", "a%b.gif", "a&b.gif", "a+b.gif", "a'b.gif", "<b>.gif",
                           "a#b.gif", "a\tb.gif", "a\x7f.gif", "a\xff.gif", "a\xe5\x9b.gif",
                           "a\xc0\xaf.gif", "a\xed\xa0\x80.gif", "a\xf4\x90\x80\x80.gif"}) {
    form.file_name = name;
    EXPECT_EQ(Title(f.Upload(form)), "文件错误") << name;  // before the duplicate
  }
  EXPECT_EQ(f.Pictures(), 1);

  // A client path, each of the three types, text in other scripts.
  const struct {
    const char* sent;
    const char* type;
  } accepted[] = {{"C:\\pictures\\logo.gif", "image/gif"},
                  {"photo.jpg", "image/pjpeg"},
                  {"图片1.jpg", "image/jpeg"}};
  for (const auto& [sent, type] : accepted) {
    form.file_name = sent;
    form.type = type;
    EXPECT_EQ(Title(f.Upload(form)), "图片上传成功") << sent;
    EXPECT_TRUE(f.host.response.ended);
  }
  EXPECT_EQ(f.Pictures(), 4);
  EXPECT_EQ(testing::Sql(f.file, "SELECT DATA FROM IMAGE WHERE NAME = 'logo.gif'"), form.bytes);
  EXPECT_EQ(testing::Sql(f.file, "SELECT TYPE FROM IMAGE WHERE NAME = 'photo.jpg'"), "image/pjpeg");

  // A body of exactly the limit passes; a stored name is refused and keeps its bytes.
  form.file_name = "logo.gif";
  form.bytes = "other";
  f.image_size = static_cast<std::int32_t>(form.Body().size());
  EXPECT_EQ(Title(f.Upload(form)), "文件名重复或该图像已存在");
  EXPECT_FALSE(f.host.response.ended);
  EXPECT_EQ(testing::Sql(f.file, "SELECT DATA FROM IMAGE WHERE NAME = 'logo.gif'"),
            FormUpload().bytes);

  // A body the parser cannot take apart stores nothing.
  form.file_name = "new.gif";
  form.submit_button = false;
  EXPECT_THROW(f.Upload(form), InvalidArgument);
  EXPECT_EQ(f.Pictures(), 4);
}

TEST(UploadTest, OfTwoSimultaneousUploadsOfOneNameTheSecondGetsTheDuplicateMessage) {
  Admin f;
  // Another upload of the name has passed its check and holds the write lock with its row not
  // yet committed; this upload's check sees no such name, and its insert waits for the lock.
  sqlite3* other = nullptr;
  sqlite3_open(f.file.c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other,
                         "BEGIN IMMEDIATE; INSERT INTO IMAGE (NAME, TYPE, DATA) "
                         "VALUES ('race.gif', 'image/gif', 'first')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  FormUpload form;
  form.file_name = "race.gif";
  form.bytes = "second";
  std::string page;
  std::exception_ptr failure;
  std::thread upload([&] {
    try {
      page = f.Upload(form);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  upload.join();
  ASSERT_FALSE(failure);
  EXPECT_EQ(Title(page), "文件名重复或该图像已存在");
  EXPECT_EQ(f.Pictures(), 1);
  EXPECT_EQ(testing::Sql(f.file, "SELECT DATA FROM IMAGE"), "first");
}

TEST(ImageMessagesTest, EveryMessageOfThePicturePages) {
  Admin f;
  std::string pages;
  auto add = [&pages](const char* what, const std::string& page) {
    pages += std::string("\n<!-- ") + what + " -->\n" + page;
  };
  InsertPicture(f.file, "a.gif", "image/gif", "x");
  add("deleted", f.Page("action=admin&do=image&for=delimage&id=1", "POST"));
  FormUpload form;
  f.image_size = 10;
  add("too large", f.Upload(form));
  f.image_size = 1 << 20;
  form.type = "image/png";
  add("not a picture", f.Upload(form));
  form.type = "image/gif";
  form.file_name = "a&b.gif";
  add("bad name", f.Upload(form));
  form.file_name = "logo.gif";
  add("uploaded", f.Upload(form));
  add("stored already", f.Upload(form));
  add("no name", f.Serve(""));
  ExpectGolden(pages, "image_messages.html");
}

TEST(ServeImageTest, BytesTypeTagAndNotModified) {
  Admin f;
  const std::string bytes("\xff\xd8\xff\0\r\n\r\n--x\r\n", 12);
  InsertPicture(f.file, "logo.jpg", "image/pjpeg", bytes, "2026-03-01 10:00:05.125");
  EXPECT_EQ(f.Serve("logo.jpg"), bytes);
  EXPECT_EQ(f.host.response.content_type, "image/pjpeg");
  EXPECT_EQ(f.host.response.Header("X-Content-Type-Options"), "nosniff");
  const std::string tag = f.host.response.Header("ETag");
  ASSERT_FALSE(tag.empty());
  EXPECT_EQ(f.host.response.status, 200);

  for (const std::string& asked : {tag, "W/" + tag, "\"0-1-2\", " + tag, std::string("*")}) {
    EXPECT_EQ(f.Serve("logo.jpg", asked), "") << asked;
    EXPECT_EQ(f.host.response.status, 304);
    EXPECT_EQ(f.host.response.Header("ETag"), tag);
  }
  EXPECT_EQ(f.Serve("logo.jpg", "\"1-12-2026\""), bytes);
  EXPECT_EQ(f.host.response.status, 200);

  // Names match exactly; a name that is not stored gets an empty answer.
  for (const char* unknown : {"logo.jpg ", "LOGO.JPG", "nothing.gif", "x' OR '1'='1"}) {
    EXPECT_EQ(f.Serve(unknown), "") << unknown;
    EXPECT_EQ(f.host.response.content_type, "text/html; charset=utf-8");
    EXPECT_TRUE(f.host.response.headers.empty());
  }
  EXPECT_EQ(Title(f.Serve("")), "错误请求图像");

  // A picture deleted and uploaded again under its name is another picture with another tag.
  testing::Sql(f.file, "DELETE FROM IMAGE");
  InsertPicture(f.file, "logo.jpg", "image/pjpeg", bytes, "2026-03-01 10:00:05.125");
  EXPECT_EQ(f.Serve("logo.jpg", tag), bytes);
}

TEST(ImageSchemaTest, NamesAreUniqueAndAnOldFileHoldingANameTwiceStillOpens) {
  Admin f;
  InsertPicture(f.file, "a.gif", "image/gif", "1");
  EXPECT_THROW(InsertPicture(f.file, "a.gif", "image/gif", "2"), std::runtime_error);
  const std::string indexes =
      "SELECT group_concat(name) FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'IMAGE'";

  // A file made before the rule, with its plain index and a name twice.
  testing::Sql(f.file, "DROP INDEX IMAGE_NAME_UNIQUE");
  testing::Sql(f.file, "CREATE INDEX IMAGE_NAME ON IMAGE (NAME)");
  InsertPicture(f.file, "a.gif", "image/gif", "2");
  EXPECT_EQ(f.Serve("a.gif"), "1");  // the first open of the file; the lowest id
  EXPECT_EQ(testing::Sql(f.file, indexes), "IMAGE_NAME");

  testing::Sql(f.file, "DELETE FROM IMAGE WHERE ID > 1");
  data::Database::Open(f.file);
  EXPECT_EQ(testing::Sql(f.file, indexes), "IMAGE_NAME_UNIQUE");
}

}  // namespace
}  // namespace tessaly::images
