#include "server/static_files.h"

#include <gtest/gtest.h>

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

  std::optional<fs::path> Resolve(std::string_view path) { return ResolveStaticPath(root_, path); }

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
