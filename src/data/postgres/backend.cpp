#include "data/postgres/backend.h"

#include <chrono>

#include "base/errors.h"
#include "data/database.h"
#include "data/postgres/connection.h"
#include "data/postgres/generation_feed.h"
#include "data/postgres/node_lease.h"
#include "data/postgres/schema.h"
#include "data/postgres/search_index.h"
#include "data/postgres/visitor_tables.h"
#include "data/recordset.h"

namespace tessaly::data {
namespace {

// Connections to a PostgreSQL server, per database and process: every node of a site holds
// this many at most, so that several nodes stay within the server's max_connections (100 by
// default). A request holds two at most, and a server thread serves one request at a time.
// Each server thread holds one more for the stamps of its requests (generation_feed.h).
constexpr std::size_t kMaxConnections = 16;

// A request takes the generation that the node's lease knows; when the lease does not hold,
// its loop reads the generation without waiting for it.
class LeasedStamps final : public RequestStamps {
 public:
  LeasedStamps(const std::string& url, const Database& database)
      : database_(database), lease_(url) {}

  Gate GateFor(boost::asio::io_context& loop) override {
    auto feed = std::make_shared<GenerationFeed>(loop, database_);
    return [feed, this](std::function<void()> run) {
      if (const std::optional<std::uint64_t> generation = lease_.Generation()) {
        const StampLoan loan(database_, GenerationStamp(*generation));
        return run();
      }
      feed->Enter(std::move(run));
    };
  }
  std::string Trouble() const override {
    return lease_.Generation() ? std::string() : "the node lease does not hold";
  }

 private:
  const Database& database_;
  const NodeLease lease_;
};

class PostgresBackend final : public Backend {
 public:
  explicit PostgresBackend(std::string url) : url_(std::move(url)) {}

  std::unique_ptr<Connection> Connect() override { return ConnectPostgres(url_, waits_); }
  std::size_t MaxConnections() const override { return kMaxConnections; }
  void CheckAndUpdateSchema(Connection& connection) override {
    CheckPostgresSchema(connection, url_);
    CreatePostgresSchema(connection);
  }
  void Create() override { CreatePostgresSchema(*ConnectPostgres(url_)); }
  void Probe(Database& database) override {
    std::vector<Row> rows;
    database.Acquire()->Query(std::string(kProbeQuery), {}, rows);
  }

  std::unique_ptr<ChangeWatch> Watch(Database& database) override {
    return WatchPostgres(database);
  }
  bool StampsAreFree() const override { return false; }
  std::unique_ptr<RequestStamps> ServeRequests(const Database& database) override {
    return std::make_unique<LeasedStamps>(url_, database);
  }

  Query SearchCountQuery(const std::vector<std::string>& words) const override {
    return PostgresSearchCountQuery(words);
  }
  Query SearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                        std::int64_t rows, std::int64_t total) const override {
    return PostgresSearchPageQuery(words, first, rows, total);
  }
  void CatchUpSearchIndex(Connection& connection, VisibleTextFn visible_text,
                          const ProgressFn& progress) const override {
    CatchUpPostgresSearchIndex(connection, visible_text, progress);
  }

  void Backup(const std::string&, const CopyOptions&) override {
    throw DataError("backup copies a site's file; a PostgreSQL database has pg_dump");
  }
  std::shared_ptr<VisitorTables> Visitors(std::shared_ptr<Database> database,
                                          int default_timeout_minutes) override {
    return std::make_shared<PostgresVisitorTables>(std::move(database), default_timeout_minutes);
  }
  std::optional<WriterWaits> WriterWaitFigures() const override {
    return WriterWaits{waits_->count.load(), static_cast<double>(waits_->nanoseconds.load()) / 1e9};
  }

 private:
  const std::string url_;
  const std::shared_ptr<NodeWaits> waits_ = std::make_shared<NodeWaits>();
};

}  // namespace

std::unique_ptr<Backend> MakePostgresBackend(const std::string& url) {
  return std::make_unique<PostgresBackend>(url);
}

}  // namespace tessaly::data
