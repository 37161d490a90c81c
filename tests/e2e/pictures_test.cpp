// Pictures through the whole site: an administrator uploads a picture as a browser sends the
// form, it comes back with the headers a browser relies on, an entry shows it with [img name],
// and pictures are deleted by their check boxes. Each page's own cases are in tests/images.
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "images/pictures.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

TEST(PicturesTest, UploadServeShowInAnEntryAndDelete) {
  Site site;
  Server server({"--root", site.root().string()});
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));

  // A file whose bytes hold a blank line and a line like the delimiter, sent with a client
  // path as old browsers do.
  testing::FormUpload upload;
  upload.file_name = "C:\\pictures\\logo.gif";
  upload.bytes = "GIF89a\r\n\r\n--" + upload.boundary + std::string("\r\n\0\xff", 4);
  HttpResponse r = admin.Post(AdminPage("image&for=doupload"), upload.Body(), upload.ContentType());
  ASSERT_TRUE(Has(r.body, "图片上传成功")) << r.body;
  EXPECT_TRUE(Has(r.body, "<img src='/log/board?action=image&name=logo.gif'>"));

  const std::string target = "/log/board?action=image&name=logo.gif";
  r = server.Get(target);
  EXPECT_EQ(r.body, upload.bytes);
  EXPECT_EQ(r.Header("content-type"), "image/gif");
  EXPECT_EQ(r.Header("content-length"), std::to_string(upload.bytes.size()));
  EXPECT_EQ(r.Header("x-content-type-options"), "nosniff");
  const std::string tag = r.Header("etag");
  ASSERT_FALSE(tag.empty());
  // A 304 carries no body, so the next answer on the connection starts right after its head.
  Connection c(server.port());
  c.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\nIf-None-Match: " + tag + "\r\n\r\nHEAD " +
         target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(c.Read(true).status, 304);
  r = c.Read(true);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("content-length"), std::to_string(upload.bytes.size()));
  EXPECT_TRUE(c.ClosedByPeer());  // nothing but the head was sent

  r = admin.Post(AdminPage("doadd"), Form({{"title", "有图"}, {"content", "看[img logo.gif]"}}));
  ASSERT_TRUE(Has(r.body, "成功增加日志")) << r.body;
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=1").body,
                  "看<img src=/log/board?action=image&name=logo.gif>"));

  const std::int64_t first = testing::InsertPicture(site.database(), "p1.jpg", "image/jpeg", "x");
  const std::int64_t second = testing::InsertPicture(site.database(), "p2.jpg", "image/jpeg", "x");
  r = admin.Post(AdminPage("image&for=delimage"),
                 Form({{"id", std::to_string(first)}, {"id", std::to_string(second)}}));
  EXPECT_TRUE(Has(r.body, "成功删除图片")) << r.body;
  EXPECT_EQ(testing::Sql(site.database(),
                         "SELECT NAME FROM IMAGE WHERE (SELECT count(*) FROM IMAGE) = 1"),
            "logo.gif");
}

}  // namespace
}  // namespace tessaly::e2e
