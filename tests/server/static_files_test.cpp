#include "server/static_files.h"

#include <gtest/gtest.h>

#include "server/file_texts.h"

#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

namespace fs = std::filesystem;
using tessaly::testing::TempDir;

class StaticFilesTest : public ::testing::Test {
 protected:
  StaticFilesTest() {
    site_ = dir_.path() / "site";
    dir_.Write("site/index.html", "home");
    dir_.Write("site/a/b.css", "css");
    dir_.Write("site/a/.secret", "hidden");
    dir_.Write("site/log/logs.mdb", "db");
    dir_.Write("site/log/logs.MDB-wal", "db");
    for (const char* copy : {"logs.mdb.bak", "logs.mdb~", "LOGS.MDB.old", "Logs.Mdb.1"}) {
      dir_.Write(std::string("site/log/") + copy, "db");
    }
    dir_.Write("site/empty/x.txt", "x");
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

  TempDir dir_;
  fs::path site_;
  fs::path root_;
};

TEST_F(StaticFilesTest, ServesFilesInsideTheRoot) {
  EXPECT_EQ(Resolve("/a/b.css"), root_ / "a/b.css");
  EXPECT_EQ(Resolve("/a//b.css"), root_ / "a/b.css");
  EXPECT_EQ(Resolve("/"), root_ / "index.html");
  EXPECT_EQ(Resolve("/alias.css"), root_ / "a/b.css");  // a link that stays inside
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

TEST_F(StaticFilesTest, RefusesWhatMustNotBeServed) {
  for (const char* path :
       {"/../outside.txt", "/a/../index.html", "/./index.html", "/a/.secret", "/log/logs.mdb",
        "/log/logs.MDB-wal", "/log/x.mdb-shm", "/escape.txt", "/innocent.txt", "/empty", "/empty/",
        "/missing", "/a\\b.css", "", "a/b.css"}) {
    EXPECT_FALSE(Resolve(path)) << path;
  }
  EXPECT_FALSE(Resolve(std::string_view("/index.html\0x", 13)));
  // A path that looks absolute after its first slash stays under the root.
  EXPECT_FALSE(Resolve("/" + root_.string() + "/index.html"));
  // Copies of the database under any name that starts with its file name.
  for (const char* copy : {"logs.mdb.bak", "logs.mdb~", "LOGS.MDB.old", "Logs.Mdb.1"}) {
    EXPECT_FALSE(Resolve(std::string("/log/") + copy)) << copy;
  }
}

}  // namespace
}  // namespace tessaly::server
