// Static pages with server-side includes, the client address behind a trusted proxy, and what
// the access log keeps of a request.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

TEST(IncludesTest, PagesAndFilesAreIncludedAsFetchedDirectly) {
  Site site;
  testing::FillEntries(site.database(), 30);
  std::filesystem::create_directories(site.root() / "inc");
  std::ofstream(site.root() / "inc" / "part.shtml")
      << "[<!--#include virtual=\"fragment.html\" -->|<!--#include virtual=\"/index.shtml\" -->]";
  std::ofstream(site.root() / "inc" / "fragment.html") << "<b>fragment</b>";
  std::ofstream(site.root() / "plain.html") << "<!--#include virtual=\"/inc/fragment.html\" -->";
  std::ofstream(site.root() / "index.shtml")
      << "<h1>home</h1><!--#include virtual=\"/log/board?action=hotnews\" -->"
         "<!--#include virtual=\"inc/part.shtml\" -->"
         "<!--#include virtual=\"/nosuch.html\" -->"
         "<!--#include virtual=\"/log/logs.mdb\" -->"
         "<!--#include virtual=\"http://example.org/\" -->";
  Server server({"--root", site.root().string()});
  const std::string block = server.Get("/log/board?action=hotnews").body;
  const std::string expected = "<h1>home</h1>" + block +
                               "[<b>fragment</b>|<!-- include failed: includes itself -->]"
                               "<!-- include failed: not found -->"
                               "<!-- include failed: not found -->"
                               "<!-- include failed: refused target -->";
  HttpResponse home = server.Get("/");
  EXPECT_EQ(home.status, 200);
  EXPECT_EQ(home.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(home.body, expected);
  EXPECT_EQ(server.Get("/index.shtml").body, expected);
  // A plain page is sent as it is.
  EXPECT_EQ(server.Get("/plain.html").body, "<!--#include virtual=\"/inc/fragment.html\" -->");

  // An included list starts the visitor's session, which the page passes on.
  std::ofstream(site.root() / "list.shtml")
      << "<!--#include virtual=\"/log/board?action=list&move=next\" -->";
  HttpResponse list = server.Get("/list.shtml");
  EXPECT_TRUE(list.Header("set-cookie").starts_with("TSESSIONID=")) << list.Header("set-cookie");
  const std::string cookie =
      list.Header("set-cookie").substr(0, list.Header("set-cookie").find(';'));
  EXPECT_NE(server.Get("/list.shtml", "Cookie: " + cookie + "\r\n").body.find(">2/2<"),
            std::string::npos);
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
  EXPECT_NE(text.find(" 203.0.113.7 GET /log/board?action=admin&do=dopassword&password=***"
                      "&chkpassword=*** "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" 127.0.0.1 GET /nosuch 404"), std::string::npos) << text;
}

}  // namespace
}  // namespace tessaly::e2e
