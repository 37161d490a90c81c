// Serving pictures over HTTP: the headers a browser relies on, revalidation and HEAD. The
// upload needs a logged-on session, which the administration pages give; it is tested at the
// page level (tests/images).
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "images/pictures.h"

namespace tessaly::e2e {
namespace {

TEST(ImageServingTest, BytesTypeAndTagThenNotModifiedAndHead) {
  Site site;
  const std::string bytes("GIF89a\0\r\n\r\n\xff", 12);
  testing::InsertPicture(site.database(), "logo.gif", "image/gif", bytes);
  Server server({"--root", site.root().string()});

  const std::string target = "/log/board?action=image&name=logo.gif";
  HttpResponse r = server.Get(target);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, bytes);
  EXPECT_EQ(r.Header("content-type"), "image/gif");
  EXPECT_EQ(r.Header("content-length"), "12");
  EXPECT_EQ(r.Header("x-content-type-options"), "nosniff");
  const std::string tag = r.Header("etag");
  ASSERT_FALSE(tag.empty());

  // A 304 carries no body, so the next answer on the connection starts right after its head.
  Connection c(server.port());
  c.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\nIf-None-Match: " + tag + "\r\n\r\nHEAD " +
         target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  r = c.Read(true);
  EXPECT_EQ(r.status, 304);
  EXPECT_EQ(r.Header("etag"), tag);
  EXPECT_EQ(r.Header("content-length"), "");
  r = c.Read(true);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("content-length"), "12");
  EXPECT_EQ(r.Header("etag"), tag);
  EXPECT_TRUE(c.ClosedByPeer());  // nothing but the head was sent

  r = server.Get("/log/board?action=image&name=other.gif");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(r.Header("etag"), "");
  EXPECT_NE(server.Get("/log/board?action=image").body.find("错误请求图像"), std::string::npos);
}

}  // namespace
}  // namespace tessaly::e2e
