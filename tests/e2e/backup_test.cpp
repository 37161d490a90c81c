// `tessaly backup` while writers keep committing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e/harness.h"
#include "support/entries.h"

namespace tessaly::e2e {
namespace {

int Count(const std::string& file) {
  return std::stoi(testing::Sql(file, "SELECT count(*) FROM MESSAGE"));
}

TEST(BackupTest, ConsistentCopyWhileWritersRun) {
  Site site;
  testing::Sql(
      site.database(),
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
      "INSERT INTO MESSAGE (TITLE, CONTENT) SELECT 't' || i, printf('%.500c', 'x') FROM n");
  std::atomic<bool> stop{false};
  std::atomic<int> committed{2000};
  std::thread writer([&] {
    while (!stop) {
      testing::InsertEntry(site.database(), "w", "c", "2027-01-01 00:00:00");
      ++committed;
    }
  });
  while (committed < 2005) std::this_thread::yield();
  const int before = committed;
  const std::string copy = (site.root() / "copy.mdb").string();
  CommandResult r = RunTessaly({"backup", "--root", site.root().string(), "--to", copy});
  stop = true;
  writer.join();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GE(Count(copy), before);
  EXPECT_LE(Count(copy), committed.load());

  // The copy is a database of ours that serves.
  const std::filesystem::path other = site.root() / "restored" / "log";
  std::filesystem::create_directories(other);
  std::filesystem::copy_file(copy, other / "logs.mdb");
  Server server({"--root", (site.root() / "restored").string()});
  EXPECT_TRUE(Has(server.Get("/log/board?action=show&id=1").body, "<b>t1</b>"));

  // An existing file is kept unless --force; an unwritable place leaves nothing behind.
  r = RunTessaly({"backup", "--root", site.root().string(), "--to", copy});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "already exists")) << r.err;
  EXPECT_EQ(RunTessaly({"backup", "--root", site.root().string(), "--to", copy, "--force"}).status,
            0);
  r = RunTessaly({"backup", "--root", site.root().string(), "--to",
                  (site.root() / "nosuch" / "copy.mdb").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(site.root())) {
    files += entry.path().filename().string().find("partial") != std::string::npos;
  }
  EXPECT_EQ(files, 0u);
}

}  // namespace
}  // namespace tessaly::e2e
