// Static pages with server-side includes, the client address behind a trusted proxy, and what
// the access log keeps of a request (never a password).
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

// How includes resolve, nest and fail is pinned in tests/server; here a page, a file and the
// database go through the real server, and an included list starts the visitor's session.
TEST(IncludesTest, PagesAndFilesAreIncludedAsFetchedDirectly) {
  Site site;
  testing::FillEntries(site.database(), 30);
  std::filesystem::create_directories(site.root() / "inc");
  std::ofstream(site.root() / "inc" / "fragment.html") << "<b>fragment</b>";
  std::ofstream(site.root() / "index.shtml")
      << "<h1>home</h1><!--#include virtual=\"/log/board?action=hotnews\" -->"
         "<!--#include virtual=\"inc/fragment.html\" -->"
         "<!--#include virtual=\"/log/logs.mdb\" -->";
  std::ofstream(site.root() / "list.shtml")
      << "<!--#include virtual=\"/log/board?action=list&move=next\" -->";
  Server server({"--root", site.root().string()});
  HttpResponse home = server.Get("/");
  EXPECT_EQ(home.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(home.body, "<h1>home</h1>" + server.Get("/log/board?action=hotnews").body +
                           "<b>fragment</b><!-- include failed: not found -->");

  HttpResponse list = server.Get("/list.shtml");
  EXPECT_TRUE(list.Header("set-cookie").starts_with("TSESSIONID=")) << list.Header("set-cookie");
  const std::string cookie =
      list.Header("set-cookie").substr(0, list.Header("set-cookie").find(';'));
  EXPECT_TRUE(Has(server.Get("/list.shtml", "Cookie: " + cookie + "\r\n").body, ">2/2<"));
}

TEST(IncludesTest, ClientAddressFromATrustedProxyAndNoPasswordInTheLog) {
  Site site;
  const std::string log = (site.root() / "access.log").string();
  const std::string config = (site.root() / "proxy.toml").string();
  std::ofstream(config) << "access_log = \"" << log << "\"\ntrusted_proxies = [\"127.0.0.1\"]\n";
  Server server({"--root", site.root().string(), "--config", config});
  server.Get("/log/board?action=admin&do=dopassword&password=s3cret&chkpassword=s3cret",
             "X-Forwarded-For: 203.0.113.7, 127.0.0.1\r\n");
  server.Get("/nosuch", "X-Forwarded-For: not-an-address\r\n");
  server.Stop();
  const std::string text = testing::ReadFile(log);
  EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
  EXPECT_TRUE(Has(text,
                  " 203.0.113.7 GET /log/board?action=admin&do=dopassword&password=***"
                  "&chkpassword=*** "))
      << text;
  EXPECT_TRUE(Has(text, " 127.0.0.1 GET /nosuch 404")) << text;
}

}  // namespace
}  // namespace tessaly::e2e
