// Pictures through the whole site: an administrator logs on, uploads a picture as a browser
// sends the form, an entry shows it with [img name], the list pages share the visitor's page
// number, and the picture is deleted.
#include <gtest/gtest.h>

#include "e2e/admin_support.h"
#include "images/pictures.h"

namespace tessaly::e2e {
namespace {

TEST(PicturesTest, UploadShowInAnEntryAndDelete) {
  Site site;
  ASSERT_EQ(RunTessaly(
                {"init", "--root", site.root().string(), "--user", "admin", "--password", "secret"})
                .status,
            0);
  Server server({"--root", site.root().string()});
  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));

  // A file whose bytes hold a blank line and a line like the delimiter, sent with a client
  // path as old browsers do.
  testing::FormUpload upload;
  upload.file_name = "C:\\pictures\\logo.gif";
  upload.bytes = "GIF89a\r\n\r\n--" + upload.boundary + std::string("\r\n\0\xff", 4);
  HttpResponse r = admin.Post(AdminPage("image&for=doupload"), upload.Body(), upload.ContentType());
  ASSERT_NE(r.body.find("图片上传成功"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("<img src='/log/board?action=image&name=logo.gif'>"), std::string::npos);
  HttpResponse picture = server.Get("/log/board?action=image&name=logo.gif");
  EXPECT_EQ(picture.Header("content-type"), "image/gif");
  EXPECT_EQ(picture.body, upload.bytes);
  r = admin.Post(AdminPage("image&for=doupload"), upload.Body(), upload.ContentType());
  EXPECT_NE(r.body.find("文件名重复或该图像已存在"), std::string::npos) << r.body;

  // An entry that shows it.
  r = admin.Post(AdminPage("doadd"), Form({{"title", "有图"}, {"content", "看[img logo.gif]"}}));
  ASSERT_NE(r.body.find("成功增加日志"), std::string::npos) << r.body;
  EXPECT_NE(server.Get("/log/board?action=show&id=1")
                .body.find("看<img src=/log/board?action=image&name=logo.gif>"),
            std::string::npos);

  // Sixteen pictures make two list pages; the page number is the one all lists share.
  for (int i = 1; i <= 15; ++i) {
    testing::InsertPicture(site.database(), "p" + std::to_string(i) + ".jpg", "image/jpeg", "x");
  }
  EXPECT_NE(admin.Get(AdminPage("image&move=next")).body.find(">1/2<"), std::string::npos);
  EXPECT_NE(admin.Get(AdminPage("image&move=next")).body.find(">2/2<"), std::string::npos);
  EXPECT_NE(admin.Get("/log/board?action=list&move=previous").body.find("有图"), std::string::npos);

  // Deleting two of them by their check boxes.
  const std::string first = QueryOne(site.database(), "SELECT ID FROM IMAGE WHERE NAME='p1.jpg'");
  const std::string second = QueryOne(site.database(), "SELECT ID FROM IMAGE WHERE NAME='p2.jpg'");
  r = admin.Post(AdminPage("image&for=delimage"), Form({{"id", first}, {"id", second}}));
  EXPECT_NE(r.body.find("成功删除图片"), std::string::npos) << r.body;
  EXPECT_EQ(QueryOne(site.database(), "SELECT count(*) FROM IMAGE"), "14");
}

}  // namespace
}  // namespace tessaly::e2e
