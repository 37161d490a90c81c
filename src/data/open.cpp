// The one place that chooses an engine: from a database's location, when it is opened,
// created or copied. The engines' libraries sit below this file and above the rest of the
// data layer, so it is linked apart from them (tessaly_data).
#include <vector>

#include "data/backend.h"
#include "data/database.h"
#include "data/location.h"
#include "data/postgres/backend.h"
#include "data/sqlite/backend.h"

namespace tessaly::data {
namespace {

// The databases a thread has reached, most recent last; a few, since a server has a few pages.
constexpr std::size_t kReachedPerThread = 8;

}  // namespace

std::unique_ptr<Backend> Backend::For(const std::string& location) {
  if (IsDatabaseUrl(location)) return MakePostgresBackend(location);
  return MakeSqliteBackend(location);
}

std::shared_ptr<Database> Database::Open(const std::string& location) {
  return Start(location, Backend::For(location));
}

void Database::Create(const std::string& location) { Backend::For(location)->Create(); }

void Database::Backup(const std::string& location, const std::string& to,
                      const CopyOptions& options) {
  Backend::For(location)->Backup(to, options);
}

Pool::Pool(std::string url) : id_(Database::NextId()), url_(std::move(url)) {}

Database& Pool::Reach(const std::string& path) {
  struct Reached {
    std::uint64_t pool;
    std::string path;
    Database* database;
  };
  thread_local std::vector<Reached> reached;
  for (const Reached& r : reached) {
    if (r.pool == id_ && r.path == path) return *r.database;
  }
  Database& database = *Get(path);
  if (reached.size() == kReachedPerThread) reached.erase(reached.begin());
  reached.push_back({id_, path, &database});
  return database;
}

std::shared_ptr<Database> Pool::Get(const std::string& path) {
  const std::string& location = url_.empty() ? path : url_;
  std::lock_guard lock(mutex_);
  auto it = databases_.find(location);
  if (it != databases_.end()) return it->second;
  auto database = Database::Open(location);
  databases_.emplace(location, database);
  return database;
}

}  // namespace tessaly::data

namespace tessaly::data {

PoolFigures Pool::Figures() {
  std::vector<std::shared_ptr<Database>> databases;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [location, database] : databases_) databases.push_back(database);
  }
  PoolFigures figures;
  for (const auto& database : databases) figures += database->Figures();
  return figures;
}

}  // namespace tessaly::data
