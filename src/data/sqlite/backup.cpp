#include "data/sqlite/backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "base/errors.h"
#include "data/sqlite/connection.h"
#include "data/sqlite/schema.h"

namespace tessaly::data {
namespace {

// Pages copied per step: small enough for a progress line a few times a second on a large
// file, large enough that the steps cost nothing on a small one.
constexpr int kPagesPerStep = 1024;

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;

Db OpenFile(const std::string& path, int flags, const std::string& what) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) {
    throw DataError("cannot open " + what + " " + path + ": " +
                    (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(db.get(), 5000);
  return db;
}

std::string FirstText(sqlite3* db, const char* sql, const std::string& what) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    throw DataError(what + ": " + sqlite3_errmsg(db));
  }
  std::string text;
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* value = sqlite3_column_text(stmt, 0);
    text = value ? reinterpret_cast<const char*>(value) : "";
  }
  sqlite3_finalize(stmt);
  return text;
}

// Removes the temporary copy unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (path_.empty()) return;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

void SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const std::string why = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    throw DataError("cannot sync " + path + ": " + why);
  }
  ::close(fd);
}

void CopyPages(sqlite3* source, sqlite3* target, const CopyOptions& options) {
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
  if (!backup) throw DataError(std::string("cannot start the copy: ") + sqlite3_errmsg(target));
  int rc;
  do {
    rc = sqlite3_backup_step(backup, kPagesPerStep);
    if (options.progress && (rc == SQLITE_OK || rc == SQLITE_DONE)) {
      const std::int64_t total = sqlite3_backup_pagecount(backup);
      options.progress(total - sqlite3_backup_remaining(backup), total);
    }
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(50);
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) throw DataError(std::string("copy failed: ") + sqlite3_errstr(rc));
}

}  // namespace

void BackupSqliteFile(const std::string& from, const std::string& to, const CopyOptions& options) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!options.overwrite && fs::exists(fs::symlink_status(to, ec))) {
    throw DataError(to + " already exists (give --force to replace it)");
  }
  CheckSqliteFile(from);  // refuses a missing or foreign file
  Db source = OpenFile(from, SQLITE_OPEN_READONLY, "the database");
  // One read transaction for the whole copy: every step reads the same snapshot, so writers
  // that commit meanwhile neither restart the copy nor appear in it.
  ExecSql(source.get(), "BEGIN", "cannot start reading " + from);
  ExecSql(source.get(), "SELECT count(*) FROM sqlite_schema", "cannot read " + from);

  const fs::path target_path = fs::absolute(to, ec);
  std::string pattern =
      (target_path.parent_path() / ("." + target_path.filename().string() + ".partial-XXXXXX"))
          .string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw DataError("cannot write " + to + ": " + std::strerror(errno));
  ::close(fd);
  TemporaryFile temporary(pattern);

  {
    Db target = OpenFile(temporary.path(), SQLITE_OPEN_READWRITE, "the copy");
    CopyPages(source.get(), target.get(), options);
    // The copy inherits the write-ahead log mode; fold it into one self-contained file.
    ExecSql(target.get(), "PRAGMA journal_mode=DELETE", "cannot finish the copy");
    const std::string integrity = FirstText(target.get(), "PRAGMA integrity_check", "check");
    if (integrity != "ok") throw DataError("the copy failed its integrity check: " + integrity);
    CheckSqliteSchema(target.get(), temporary.path());
  }
  ExecSql(source.get(), "COMMIT", "cannot end reading " + from);
  SyncFile(temporary.path());

  const int flags = options.overwrite ? 0 : RENAME_NOREPLACE;
  if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, target_path.c_str(), flags) != 0) {
    if (errno == EEXIST) throw DataError(to + " already exists (give --force to replace it)");
    throw DataError("cannot write " + to + ": " + std::strerror(errno));
  }
  temporary.Keep();
  SyncFile(target_path.parent_path().string());
}

}  // namespace tessaly::data
