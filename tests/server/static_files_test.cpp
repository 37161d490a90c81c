// Static pages: which file a request path may serve, and the includes that a page expands.
#include "server/static_files.h"

#include <gtest/gtest.h>

#include <map>

#include "server/file_texts.h"
#include "server/includes.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

namespace fs = std::filesystem;

// The database, copies of it under any name that starts with its file name, and the journals of
// any database.
constexpr const char* kDatabaseFiles[] = {
    "/log/logs.mdb",   "/log/logs.mdb.bak", "/log/logs.mdb~", "/log/LOGS.MDB.old",
    "/log/Logs.Mdb.1", "/log/logs.MDB-wal", "/log/x.mdb-shm"};

class StaticFilesTest : public ::testing::Test {
 protected:
  StaticFilesTest() {
    for (const char* file : {"/index.html", "/a/b.css", "/a/.secret", "/empty/x.txt"}) {
      dir_.Write(std::string("site") + file, "x");
    }
    for (const char* file : kDatabaseFiles) dir_.Write(std::string("site") + file, "db");
    dir_.Write("outside.txt", "no");
    fs::create_symlink(dir_.path() / "outside.txt", site_ / "escape.txt");
    fs::create_symlink(site_ / "log/logs.mdb", site_ / "innocent.txt");
    fs::create_symlink(site_ / "a/b.css", site_ / "alias.css");
    root_ = fs::canonical(site_);
  }

  std::optional<fs::path> Resolve(std::string_view path) {
    auto file = ResolveStaticPath(root_, path);
    return file ? std::optional<fs::path>(file->path) : std::nullopt;
  }

  testing::TempDir dir_;
  fs::path site_ = dir_.path() / "site";
  fs::path root_;
};

TEST_F(StaticFilesTest, ServesOnlyFilesInsideTheRootThatMayBeServed) {
  EXPECT_EQ(Resolve("/a//b.css"), root_ / "a/b.css");
  EXPECT_EQ(Resolve("/"), root_ / "index.html");
  EXPECT_EQ(Resolve("/alias.css"), root_ / "a/b.css");  // a link that stays inside

  for (const char* path :
       {"/../outside.txt", "/a/../index.html", "/./index.html", "/a/.secret", "/escape.txt",
        "/innocent.txt", "/empty", "/empty/", "/missing", "/a\\b.css", "", "a/b.css"}) {
    EXPECT_FALSE(Resolve(path)) << path;
  }
  for (const char* path : kDatabaseFiles) EXPECT_FALSE(Resolve(path)) << path;
  EXPECT_FALSE(Resolve(std::string_view("/index.html\0x", 13)));
  // A path that looks absolute after its first slash stays under the root.
  EXPECT_FALSE(Resolve("/" + root_.string() + "/index.html"));
}

// Files and resolutions are kept between requests; neither may outlive what is on the disk.
TEST_F(StaticFilesTest, WhatIsKeptFollowsTheDisk) {
  const fs::path file = site_ / "a/page.txt";
  const auto an_hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
  auto text_now = [&] {
    const auto resolved = ResolveStaticPath(root_, "/a/page.txt");
    const auto text = resolved ? FileText(*resolved) : nullptr;
    return text ? *text : std::string("none");
  };
  dir_.Write("site/a/page.txt", "old!");
  fs::last_write_time(file, an_hour_ago);
  EXPECT_EQ(text_now(), "old!");
  EXPECT_EQ(text_now(), "old!");
  // Rewritten in place with the same size and modification time: its change time tells.
  dir_.Write("site/a/page.txt", "new!");
  fs::last_write_time(file, an_hour_ago);
  EXPECT_EQ(text_now(), "new!");
  // Replaced by a link that leads outside while its resolution is kept: refused at once.
  fs::remove(file);
  fs::create_symlink(dir_.path() / "outside.txt", file);
  EXPECT_EQ(text_now(), "none");
}

TEST(IncludesTest, TargetsStayOnTheSite) {
  auto path = [](std::string_view target) {
    auto resolved = ResolveInclude("/a/b.shtml", target);
    return resolved ? resolved->path + "?" + resolved->query : std::string("refused");
  };
  EXPECT_EQ(path("../log/%62oard?x=%41"), "/log/board?x=%41");
  EXPECT_EQ(path("./c/./d/"), "/a/c/d/?");
  for (const char* bad : {"http://evil/x", "//evil/x", "javascript:alert(1)", "/../etc/passwd",
                          "../../x", "/a%zz", "/a\\b", "/a%00b", ""}) {
    EXPECT_EQ(path(bad), "refused") << bad;
  }
}

TEST(IncludesTest, ExpandsNoDeeperThanTheLimitAndNeverLoops) {
  // /1 writes "1" and includes /2, which writes "2" and includes /3, and so on.
  std::map<std::string, std::string> site = {{"/block", "[block]"}};
  for (int i = 1; i < 9; ++i) {
    site["/" + std::to_string(i)] =
        std::to_string(i) + "<!--#include virtual=\"/" + std::to_string(i + 1) + "\" -->";
  }
  std::function<Fetched(const IncludeTarget&, int)> fetch = [&](const IncludeTarget& target,
                                                                int depth) {
    const auto it = site.find(target.path);
    if (it == site.end()) return Fetched{false, "not found"};
    return Fetched{true, ExpandIncludes(it->second, target.path, depth + 1, {}, fetch)};
  };
  EXPECT_EQ(ExpandIncludes(site["/1"], "/1", 1, {}, fetch),
            "12345<!-- include failed: nested too deep -->");
  // The page /x, included by /outer: neither may be included again, and what is not an include
  // of ours passes as it is.
  EXPECT_EQ(ExpandIncludes("<!--#include virtual=\"/block\" -->a<!--#include virtual=\"/x\" -->"
                           "b<!--#include virtual=\"/outer\" -->c<!--#include file=\"/block\" -->"
                           "d<!--#include virtual=\"/nosuch\" --><!-- plain -->",
                           "/x", 2, {"/outer"}, fetch),
            "[block]a<!-- include failed: includes itself -->"
            "b<!-- include failed: includes itself -->c<!--#include file=\"/block\" -->"
            "d<!-- include failed: not found --><!-- plain -->");
}

}  // namespace
}  // namespace tessaly::server
