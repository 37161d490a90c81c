// The upload body parser on bodies as browsers send them and on bodies that only look alike,
// and the picture pages, called directly with a fake context and a real database. Exact pages
// are golden files under tests/golden/; the round trip over HTTP is in
// tests/e2e/pictures_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "base/errors.h"
#include "data/database.h"
#include "images/images.h"
#include "images/pictures.h"
#include "images/upload_body.h"
#include "support/golden.h"
#include "support/page_fixture.h"
#include "support/page_text.h"

namespace tessaly::images {
namespace {

using support::ExpectGolden;
using support::FormUpload;
using support::Has;
using support::InsertPicture;
using support::Sql;

using Parsed = std::tuple<std::string, std::string, std::string>;

// What ContentType, FileName and FileBytes give for `body`, "throws" for a step that throws.
Parsed Parse(const std::string& body) {
  const UploadBody upload(body);
  const auto step = [](auto read) -> std::string {
    try {
      return std::string(read());
    } catch (const InvalidArgument&) {
      return "throws";
    }
  };
  return {step([&] { return upload.ContentType(); }), step([&] { return upload.FileName(); }),
          step([&] { return upload.FileBytes(); })};
}

// The body a browser posts from the upload form.
std::string Form(std::string name, std::string type, std::string bytes, bool button = true) {
  return FormUpload{std::move(name), std::move(type), std::move(bytes), button}.Body();
}

TEST(UploadBodyTest, EachStepOnBrowsersBodiesAndOnBodiesThatOnlyLookAlike) {
  const std::string gif("GIF89a\0\x01\xff", 9);
  const std::string delimiter = "--" + FormUpload().boundary;
  // Blank lines, delimiter lines and a closing delimiter inside the file.
  const std::string tricky =
      "\r\n\r\nContent-Type: text/html\r\n" + delimiter + "\r\n" + delimiter + "--\r\n\r\n";
  const std::pair<std::string, Parsed> cases[] = {
      {Form("logo.gif", "image/gif", gif), {"image/gif", "logo.gif", gif}},
      // The headers end at the first blank line, the file at the last delimiter line.
      {Form("x", "t", tricky), {"t", "x", tricky}},
      {Form("x", "t", ""), {"t", "x", ""}},
      // The name loses the client's folders (a slash stays), the type is kept as sent but for
      // every "Content-Type: " in it.
      {Form("C:\\a b\\x.gif", "image/gif; name=x", gif), {"image/gif; name=x", "x.gif", gif}},
      {Form("dir/x.gif", "IMAGE/GIF ", gif), {"IMAGE/GIF ", "dir/x.gif", gif}},
      {Form("C:\\dir\\", "Content-Type: image/gif", gif), {"image/gif", "", gif}},
      // Without the button's part no part follows the file, and a delimiter line inside the
      // file ends it there.
      {Form("x", "t", gif, false), {"t", "x", "throws"}},
      {Form("x", "t", "AB\r\n" + delimiter + "\r\nCD", false), {"t", "x", "AB"}},
      // Only the first part's headers count.
      {"--b\r\nContent-Disposition: form-data; name=\"image\"; filename=\"a.gif\"\r\n\r\nA\r\n"
       "--b\r\nContent-Type: image/gif\r\n\r\nv\r\n--b--\r\n",
       {"throws", "a.gif", "A"}},
      {"", {"throws", "throws", "throws"}},
      // Without a blank line the header block is the whole body: its lines are still read, but
      // no file can be taken, and a line without its CR LF cannot be read.
      {"--b\r\nfilename=x\r\nContent-Type: image/gif\r\n--b\r\n", {"image/gif", "x", "throws"}},
      {"--b\r\nContent-Type: image/gif", {"throws", "throws", "throws"}},
      // The delimiter line right after the blank line leaves no room for the CR LF before it.
      {"--b\r\nfilename=x\r\nContent-Type: t\r\n\r\n--b\r\n\r\n", {"t", "x", "throws"}},
  };
  for (const auto& [body, parsed] : cases) EXPECT_EQ(Parse(body), parsed) << body;
}

// Every haystack of up to 11 and needle of up to 7 letters of two kinds: such small alphabets
// give the periodic needles on which a wrong border table goes astray.
TEST(UploadBodyTest, FindLastAgreesWithReverseFind) {
  const auto word = [](int length, int bits) {
    std::string text;
    for (int i = 0; i < length; ++i) text += (bits >> i & 1) ? 'b' : 'a';
    return text;
  };
  for (int hn = 0; hn <= 11; ++hn) {
    for (int nn = 0; nn <= 7; ++nn) {
      for (int h = 0; h < 1 << hn; ++h) {
        for (int n = 0; n < 1 << nn; ++n) {
          const std::string haystack = word(hn, h), needle = word(nn, n);
          ASSERT_EQ(FindLast(haystack, needle), std::string_view(haystack).rfind(needle))
              << haystack << " / " << needle;
        }
      }
    }
  }
}

// A logged-on administrator on a fresh database.
struct Admin : support::PageFixture {
  Admin() : file(MakeDatabase()) { host.session.SetValue("username", "admin"); }

  std::string Page(support::Items query, const std::string& method = "GET") {
    NewRequest(std::move(query), method);
    return Run(ImageAdmin);
  }
  std::string Upload(const FormUpload& form) {
    NewRequest({{"for", "doupload"}}, "POST");
    host.request.body = form.Body();
    return Run(ImageAdmin);
  }
  std::string Serve(const std::string& name, const std::string& if_none_match = {}) {
    NewRequest({{"action", "image"}, {"name", name}});
    host.request.server_variables["HTTP_IF_NONE_MATCH"] = if_none_match;
    return Run(ServeImage);
  }
  std::string Pictures() const { return Sql(file, "SELECT count(*) FROM IMAGE"); }

  std::string file;
};

// The title of a message page.
std::string Title(const std::string& page) {
  const std::string open = "<font color=#ffffff>";
  const std::size_t at = page.find(open);
  if (at == std::string::npos) return "(no message)";
  return page.substr(at + open.size(), page.find("</font>", at) - at - open.size());
}

TEST(ImageAdminTest, LoginFirstThenTheExactForAndOnlyAPostOfWholeNumbersDeletes) {
  Admin f;
  InsertPicture(f.file, "a.gif", "image/gif", "x");
  f.host.session.values.clear();
  for (const char* what : {"", "list", "upload", "delimage", "doupload"}) {
    f.NewRequest({{"id", "1"}, {"for", what}}, "POST");
    f.host.request.body = FormUpload().Body();
    ExpectGolden(f.Run(ImageAdmin), "admin_login_form.html");
  }

  f.host.session.SetValue("username", "admin");
  const std::string list = f.Page({});
  EXPECT_TRUE(Has(list, ">a.gif</a>"));
  for (const char* other : {"list", "Upload", "DELIMAGE", "upload ", "dolist"}) {
    EXPECT_EQ(f.Page({{"for", other}}), list) << other;
  }
  ExpectGolden(f.Page({{"for", "upload"}}), "image_upload_form.html");

  // Only the request's own method counts, not an item of that name; the id list's own cases
  // are in tests/pages, deleting checked pictures in tests/e2e.
  EXPECT_EQ(f.Page({{"for", "delimage"}, {"id", "1"}, {"REQUEST_METHOD", "POST"}}), list);
  for (const char* bad : {"1) or (1=1", ""}) {
    EXPECT_EQ(f.Page({{"for", "delimage"}, {"id", bad}}, "POST"), list) << bad;
  }
  EXPECT_EQ(f.Pictures(), "1");
}

// A page of another origin can neither delete nor upload a picture through the session.
TEST(ImageAdminTest, ARequestThatAPageOfAnotherOriginMadeChangesNothing) {
  Admin f;
  InsertPicture(f.file, "a.gif", "image/gif", "x");
  f.NewRequest({{"for", "delimage"}, {"id", "1"}}, "POST");
  f.host.request.other_origin = true;
  EXPECT_EQ(Title(f.Run(ImageAdmin)), "非法调试");
  f.NewRequest({{"for", "doupload"}}, "POST");
  f.host.request.body = FormUpload().Body();
  f.host.request.other_origin = true;
  EXPECT_EQ(Title(f.Run(ImageAdmin)), "非法调试");
  EXPECT_EQ(f.Pictures(), "1");
  f.Upload(FormUpload());
  EXPECT_EQ(f.Pictures(), "2");
}

TEST(ImageListTest, FifteenAPageThenThePagerWithDoInItsLinksOnce) {
  Admin f;
  ExpectGolden(f.Page({}), "image_list_empty.html");
  for (int i = 1; i <= 15; ++i) {
    char stime[32];
    std::snprintf(stime, sizeof stime, "2026-03-01 %02d:05:09.125", i);
    InsertPicture(f.file, "p" + std::to_string(i) + ".gif", i % 2 ? "image/gif" : "image/jpeg", "x",
                  stime);
  }
  EXPECT_FALSE(Has(f.Page({}), "<center>"));

  InsertPicture(f.file, "p16.gif", "image/pjpeg", "x", "2026-03-02 00:00:00.000");
  // From the control panel's form: "do" comes in the body, so the pager's links add it.
  f.NewRequest({{"action", "admin"}}, "POST");
  f.host.request.form = {{"do", "image"}};
  ExpectGolden(f.Run(ImageAdmin), "image_list_16_page_1.html");
  EXPECT_TRUE(Has(f.Page({{"action", "admin"}, {"do", "image"}, {"move", "next"}}),
                  "location.href='/log/board?action=admin&do=image&move=first'"));
}

// A name in a link, in text and in a cell, and taxon glued into a script string in an attribute.
TEST(ImageListTest, NamesAndTaxonCannotBreakOutOfTheirPlace) {
  Admin f;
  InsertPicture(f.file, "a'b<i>\"&c%d+e#f;g h.gif", "image/<gif>", "x");
  InsertPicture(f.file, "图片.gif", "image/gif", "x");
  ExpectGolden(f.Page({{"taxon", "7';alert(1)//\" &#39;"}}), "image_list_escaped.html");
}

// The checks in their order, and every message of the picture pages (a golden file).
TEST(UploadTest, SizeTypeNameAndDuplicateChecksInThatOrder) {
  Admin f;
  std::string messages;
  const auto add = [&messages](const char* what, const std::string& page) {
    messages += std::string("\n<!-- ") + what + " -->\n" + page;
  };
  InsertPicture(f.file, "a.gif", "image/gif", "x");
  add("deleted", f.Page({{"for", "delimage"}, {"id", "1"}}, "POST"));

  FormUpload form;
  const auto size = [&form] { return static_cast<std::int32_t>(form.Body().size()); };
  const auto upload = [&](std::int32_t limit = 1 << 20) {
    f.image_size = limit;
    return f.Upload(form);
  };
  add("too large", upload(size() - 1));
  form.type = "image/png";
  form.file_name = "a b.gif";
  EXPECT_EQ(Title(upload(size() - 1)), "文件过大");  // before the type
  add("not a picture", upload());
  for (const char* type : {"IMAGE/GIF", "image/jpg", "image/gif; x", ""}) {
    form.type = type;
    EXPECT_EQ(Title(upload()), "该图像文件类型不被支持") << type;  // before the name
  }
  InsertPicture(f.file, "a b.gif", "image/gif", "x");
  form.type = "image/gif";
  add("bad name", upload());  // before the duplicate
  for (const char* name : {"a%b.gif", "a&b.gif", "a+b.gif", "a'b.gif", "<b>.gif", "a#b.gif",
                           "a\tb.gif", "a\x7f.gif", "a\xff.gif", "a\xe5\x9b.gif", "a\xc0\xaf.gif",
                           "a\xed\xa0\x80.gif", "a\xf4\x90\x80\x80.gif"}) {
    form.file_name = name;
    EXPECT_EQ(Title(upload()), "文件错误") << name;
  }
  EXPECT_EQ(f.Pictures(), "1");

  // Each of the three types, text in other scripts; a body of exactly the limit passes.
  for (const auto& [name, type] : {std::pair{"photo.jpg", "image/pjpeg"},
                                   {"图片1.jpg", "image/jpeg"},
                                   {"logo.gif", "image/gif"}}) {
    form.file_name = name;
    form.type = type;
    const std::string page = upload(size());
    if (form.file_name == "logo.gif") add("uploaded", page);
    EXPECT_EQ(Title(page), "图片上传成功") << name;
    EXPECT_TRUE(f.host.response.ended);
  }
  EXPECT_EQ(Sql(f.file, "SELECT TYPE FROM IMAGE WHERE NAME = 'photo.jpg'"), "image/pjpeg");

  // A stored name is refused and keeps its bytes.
  form.bytes = "other";
  add("stored already", upload());
  EXPECT_FALSE(f.host.response.ended);
  EXPECT_EQ(Sql(f.file, "SELECT DATA FROM IMAGE WHERE NAME = 'logo.gif'"), FormUpload().bytes);
  add("no name", f.Serve(""));
  ExpectGolden(messages, "image_messages.html");

  // An empty name could never be asked for, and a name is at most 255 bytes: each passes the
  // characters' check.
  for (const std::string& name : {std::string(), std::string(256, 'a')}) {
    form.file_name = name;
    EXPECT_EQ(Title(upload()), "文件错误") << name.size();
  }
  form.file_name = std::string(251, 'a') + ".gif";
  EXPECT_EQ(Title(upload()), "图片上传成功");
  EXPECT_EQ(f.Pictures(), "5");

  // A body the parser cannot take apart (its cases are above) is answered with the form's own
  // messages and stores nothing: no type is no picture type; no name, or no part after the
  // file, is a bad request.
  f.image_size = 1 << 20;
  const std::string delimiter = "--" + form.boundary + "\r\n";
  form.file_name = "new.gif";
  form.submit_button = false;
  const std::pair<std::string, std::string> bodies[] = {
      {form.Body(), "文件错误"},
      {"", "该图像文件类型不被支持"},
      {delimiter + "Content-Type: image/gif\r\n\r\nGIF\r\n" + delimiter, "文件错误"},
  };
  for (const auto& [body, title] : bodies) {
    f.NewRequest({{"for", "doupload"}}, "POST");
    f.host.request.body = body;
    EXPECT_EQ(Title(f.Run(ImageAdmin)), title) << body;
    EXPECT_EQ(f.host.response.status, title == "文件错误" ? 400 : 200) << body;
  }
  EXPECT_EQ(f.Pictures(), "5");
}

TEST(UploadTest, OfTwoSimultaneousUploadsOfOneNameTheLaterGetsTheDuplicateMessage) {
  Admin f;
  f.Page({});  // opens the file first: the first opening writes, and would wait for the lock
  // Another upload of the name has passed its check and holds the write lock with its row not
  // yet committed: this upload's check sees no such name, and its insert waits for the lock.
  sqlite3* other = nullptr;
  sqlite3_open(f.file.c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other,
                         "BEGIN IMMEDIATE; INSERT INTO IMAGE (NAME, TYPE, DATA) "
                         "VALUES ('logo.gif', 'image/gif', 'first')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::thread commit([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  std::string page;
  EXPECT_NO_THROW(page = f.Upload(FormUpload{.bytes = "second"}));
  commit.join();
  sqlite3_close(other);
  EXPECT_EQ(Title(page), "文件名重复或该图像已存在");
  EXPECT_EQ(Sql(f.file, "SELECT group_concat(DATA) FROM IMAGE"), "first");
}

// Bytes and headers over HTTP are in tests/e2e/pictures_test.cpp; which If-None-Match values
// list a tag, in tests/pages.
TEST(ServeImageTest, OnlyAStoredNameIsAnsweredAndAPictureStoredAgainHasANewTag) {
  Admin f;
  InsertPicture(f.file, "logo.jpg", "image/pjpeg", "x");
  EXPECT_EQ(f.Serve("logo.jpg"), "x");
  EXPECT_EQ(f.host.response.content_type, "image/pjpeg");
  const std::string tag = f.host.response.Header("ETag");
  EXPECT_EQ(f.Serve("logo.jpg", tag), "");
  EXPECT_EQ(f.host.response.status, 304);
  for (const char* unknown : {"logo.jpg ", "LOGO.JPG", "nothing.gif", "x' OR '1'='1"}) {
    EXPECT_EQ(f.Serve(unknown), "") << unknown;
    EXPECT_EQ(f.host.response.content_type, "text/html; charset=utf-8");
    EXPECT_TRUE(f.host.response.headers.empty());
  }
  Sql(f.file, "DELETE FROM IMAGE");
  InsertPicture(f.file, "logo.jpg", "image/pjpeg", "x");
  EXPECT_EQ(f.Serve("logo.jpg", tag), "x");
}

// That names are unique now is what the simultaneous uploads above rely on.
TEST(ImageSchemaTest, AnOldFileHoldingANameTwiceStillOpensAndGetsTheUniqueIndexLater) {
  Admin f;
  InsertPicture(f.file, "a.gif", "image/gif", "1");
  const std::string indexes =
      "SELECT group_concat(name) FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'IMAGE'";

  // A file made before the rule, with its plain index and a name twice.
  support::Script(f.file, "DROP INDEX IMAGE_NAME_UNIQUE; CREATE INDEX IMAGE_NAME ON IMAGE (NAME)");
  InsertPicture(f.file, "a.gif", "image/gif", "2");
  EXPECT_EQ(f.Serve("a.gif"), "1");  // the first open of the file; the lowest id
  EXPECT_EQ(Sql(f.file, indexes), "IMAGE_NAME");

  Sql(f.file, "DELETE FROM IMAGE WHERE ID > 1");
  data::Database::Open(f.file);
  EXPECT_EQ(Sql(f.file, indexes), "IMAGE_NAME_UNIQUE");
}

}  // namespace
}  // namespace tessaly::images
