#include "data/sqlite/wal_index_watch.h"

#include <sqlite3.h>

#include <atomic>

#include "base/errors.h"
#include "data/sqlite/connection.h"

namespace tessaly::data {
namespace {

// The WAL index starts with two copies of a 48-byte header: a writer fills the second, then
// the first; a reader reads the first, then the second, and trusts them only when they are
// equal. Every commit changes the header (its change counter, last frame and checksums), and
// the writer rewrites it before the commit returns.
constexpr int kHeaderWords = 12;
constexpr std::uint32_t kWalIndexVersion = 3007000;
constexpr int kWalIndexRegionBytes = 32768;  // the region size SQLite maps the index in
constexpr int kTornReadRetries = 16;

class WalIndexWatch final : public ChangeWatch {
 public:
  explicit WalIndexWatch(const std::string& path) : connection_(path) { MapHeader(); }

  Stamp Current() const override {
    if (!header_) return {};
    for (int attempt = 0; attempt < kTornReadRetries; ++attempt) {
      Stamp stamp;
      std::array<std::uint32_t, kHeaderWords> second;
      for (int i = 0; i < kHeaderWords; ++i) {
        stamp.words[i] = __atomic_load_n(&header_[i], __ATOMIC_RELAXED);
      }
      std::atomic_thread_fence(std::memory_order_acquire);
      for (int i = 0; i < kHeaderWords; ++i) {
        second[i] = __atomic_load_n(&header_[kHeaderWords + i], __ATOMIC_RELAXED);
      }
      const bool initialised = (stamp.words[3] & 0xff) != 0;  // isInit, the first byte
      if (stamp.words == second && stamp.words[0] == kWalIndexVersion && initialised) {
        stamp.known = true;
        return stamp;
      }
    }
    return {};  // a writer is rewriting it: no state can be named now
  }

 private:
  // The index is mapped once this connection has read in WAL mode, and stays mapped, at the
  // same address, for as long as the connection is open: the watch keeps it open.
  void MapHeader() {
    sqlite3* db = connection_.handle();
    sqlite3_stmt* stmt = connection_.Prepare("PRAGMA journal_mode");
    const int rc = sqlite3_step(stmt);
    const bool wal =
        rc == SQLITE_ROW &&
        sqlite3_stricmp(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "wal") == 0;
    sqlite3_reset(stmt);
    if (!wal) return;
    sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap) {
      return;
    }
    volatile void* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, kWalIndexRegionBytes, 0, &region) != SQLITE_OK) return;
    header_ = static_cast<const std::uint32_t*>(const_cast<const void*>(region));
  }

  SqliteConnection connection_;
  const std::uint32_t* header_ = nullptr;  // null: not in WAL mode, no stamp is ever known
};

}  // namespace

std::unique_ptr<ChangeWatch> WatchSqliteFile(const std::string& path) {
  return std::make_unique<WalIndexWatch>(path);
}

}  // namespace tessaly::data
