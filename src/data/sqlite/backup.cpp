#include "data/sqlite/backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <vector>

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

// The files SQLite keeps beside a database while it writes it.
constexpr const char* kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};

// Takes the lock that marks a temporary file as a live run's: an exclusive lock on its first
// byte, which SQLite's own locks never touch (on every file system, as a whole-file flock on
// NFS would not), owned by the open file, so that it goes when the run closes the file or
// ends in any way. False when another open file holds it.
bool LockAsLive(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

void UnlinkWithCompanions(const std::string& path) {
  ::unlink(path.c_str());
  for (const char* suffix : kCompanionSuffixes) ::unlink((path + suffix).c_str());
}

// The temporary copy beside the target, ".NAME.partial-XXXXXX". It is held locked (LockAsLive)
// for as long as this run may write it, so that a later run can tell it from the copy of
// a run that still lives: a run that died (even by SIGKILL) has let its lock go. It is removed,
// with SQLite's files beside it, unless it was renamed into place.
class TemporaryFile {
 public:
  // Makes and locks a new temporary file for `target`. Throws DataError.
  explicit TemporaryFile(const std::filesystem::path& target) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      std::string pattern = (target.parent_path() / Prefix(target)).string() + "XXXXXX";
      fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
      if (fd_ < 0) throw DataError("cannot write " + target.string() + ": " + std::strerror(errno));
      // Another run's sweep may have locked and removed it between its making and our lock;
      // it is ours once it is locked and still the file of that name.
      struct stat held {
      }, named{};
      if (LockAsLive(fd_) && ::fstat(fd_, &held) == 0 && ::stat(pattern.c_str(), &named) == 0 &&
          held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
        path_ = std::move(pattern);
        return;
      }
      ::close(fd_);
      fd_ = -1;
    }
    throw DataError("cannot write " + target.string() + ": its temporary file kept vanishing");
  }
  ~TemporaryFile() {
    if (!path_.empty()) UnlinkWithCompanions(path_);
    if (fd_ >= 0) ::close(fd_);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

  // The start of every temporary file's name for `target`.
  static std::string Prefix(const std::filesystem::path& target) {
    return "." + target.filename().string() + ".partial-";
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// Removes what earlier runs to `target` left behind when they died: each temporary file that
// no live run holds locked (TemporaryFile), with SQLite's files beside it; and those files
// alone, once their temporary file is gone. A file of a run that still lives stays.
void RemoveLeftovers(const std::filesystem::path& target) {
  namespace fs = std::filesystem;
  const std::string prefix = TemporaryFile::Prefix(target);
  constexpr std::size_t kUniqueChars = 6;  // what mkostemp puts in place of "XXXXXX"
  std::error_code ec;
  std::vector<std::string> leftovers;
  for (const auto& entry : fs::directory_iterator(target.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == prefix.size() + kUniqueChars && name.starts_with(prefix)) {
      leftovers.push_back(entry.path().string());
    }
  }
  for (const std::string& path : leftovers) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat held {
    }, named{};
    // Removed only while locked, and only the file that was locked.
    if (LockAsLive(fd) && ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      UnlinkWithCompanions(path);
    }
    ::close(fd);
  }
  // Companions whose temporary file is gone belong to no run: a live run keeps its file.
  for (const auto& entry : fs::directory_iterator(target.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix) || name.size() <= prefix.size() + kUniqueChars) continue;
    const std::string_view suffix = std::string_view(name).substr(prefix.size() + kUniqueChars);
    const bool companion = std::any_of(std::begin(kCompanionSuffixes), std::end(kCompanionSuffixes),
                                       [suffix](const char* s) { return suffix == s; });
    const fs::path owner =
        entry.path().parent_path() / name.substr(0, prefix.size() + kUniqueChars);
    if (companion && !fs::exists(fs::symlink_status(owner, ec))) ::unlink(entry.path().c_str());
  }
}

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
  RemoveLeftovers(target_path);
  TemporaryFile temporary(target_path);

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
