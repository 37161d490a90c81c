// The Atom feed, read by a real feed parser.
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

// What the feed parser makes of `document`.
std::string ReadAsFeedReader(const std::string& document) {
  testing::TempDir dir;
  const auto file = dir.Write("feed.xml", document);
  const std::string command =
      "/usr/bin/python3 " TESSALY_SOURCE_DIR "/tests/e2e/feed_reader.py < " + file.string();
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << out;
  return out;
}

TEST(FeedTest, ParsesFieldByFieldAndAnswers304) {
  Site site;
  ::setenv("TZ", "CST-8", 1);  // the server writes times with the offset of its zone
  Server empty({"--root", site.root().string()});
  ::unsetenv("TZ");
  const auto fetch = [&](const std::string& headers) {
    return empty.Raw(
        "GET /log/board?action=feed HTTP/1.1\r\nHost: example.org:8080\r\n"
        "Connection: close\r\n" +
        headers + "\r\n");
  };
  HttpResponse r = fetch("");
  EXPECT_EQ(r.Header("content-type"), "application/atom+xml; charset=utf-8");
  EXPECT_EQ(ReadAsFeedReader(r.body),
            "feed\tatom10\tTessaly 网站日志\thttp://example.org:8080/log/board?action=list\n");

  testing::InsertEntry(site.database(), "A&nbsp;&amp;&nbsp;B", "第一行<br><b>粗</b>\x01",
                       "2026-07-01 08:30:00.250");
  testing::InsertEntry(site.database(), "second", "c", "2026-07-02 09:00:00");
  r = fetch("");
  const std::string expected_first =
      "entry\tsecond\thttp://example.org:8080/log/board?action=show&id=2\t"
      "http://example.org:8080/log/board?action=show&id=2\t2026-07-02T01:00:00Z\tc\n";
  const std::string read = ReadAsFeedReader(r.body);
  EXPECT_TRUE(Has(read, expected_first)) << read;
  // The stored HTML arrives as HTML; the control character, which XML cannot hold, is gone.
  EXPECT_NE(read.find("entry\tA&nbsp;&amp;&nbsp;B\t"), std::string::npos) << read;
  EXPECT_TRUE(Has(read, "\t2026-07-01T00:30:00Z\t第一行<br /><b>粗</b>\n")) << read;
  EXPECT_LT(read.find("id=2"), read.find("id=1"));  // newest first

  // A reader that has this feed gets a 304, by tag or by date; a changed feed has a new tag.
  const std::string tag = r.Header("etag");
  ASSERT_FALSE(tag.empty());
  EXPECT_EQ(fetch("If-None-Match: " + tag + "\r\n").status, 304);
  EXPECT_EQ(fetch("If-Modified-Since: " + r.Header("last-modified") + "\r\n").status, 304);
  testing::InsertEntry(site.database(), "third", "c", "2026-07-03 09:00:00");
  EXPECT_EQ(fetch("If-None-Match: " + tag + "\r\n").status, 200);
}

}  // namespace
}  // namespace tessaly::e2e
