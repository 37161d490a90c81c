#include "data/postgres/node_lease.h"

#include <libpq-fe.h>
#include <poll.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/postgres/connection.h"

namespace tessaly::data {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(100);  // how soon a stop is noticed
constexpr auto kReconnectPause = std::chrono::seconds(1);

// A name no other node has, readable in NODE_LEASE: host, process and a random part.
std::string NodeName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::random_device random;
  return std::string(host) + "/" + std::to_string(getpid()) + "/" + std::to_string(random());
}

std::uint64_t Number(std::string_view text) {
  std::uint64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

// One connection and the statements of the lease. Each returns false when the statement
// failed; the connection is then dropped. Not a connection of the pool: the lease's own writes
// must not wait for the nodes, this one among them, and it needs libpq's announcements.
class LeaseConnection {
 public:
  explicit LeaseConnection(const std::string& url) : conn_(PQconnectdb(url.c_str())) {}
  ~LeaseConnection() { PQfinish(conn_); }
  LeaseConnection(const LeaseConnection&) = delete;
  LeaseConnection& operator=(const LeaseConnection&) = delete;

  bool ok() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }
  const char* error() const { return conn_ ? PQerrorMessage(conn_) : "out of memory"; }
  PGconn* get() const { return conn_; }

  // Runs `sql` with text parameters; `first` gets the first value of the first row, if any;
  // `rows` the number of rows the statement changed.
  bool Run(const char* sql, std::initializer_list<std::string> params, std::string* first = nullptr,
           std::uint64_t* rows = nullptr) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    PGresult* result = PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr,
                                    values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    const bool done = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (done && first && PQntuples(result) > 0) *first = PQgetvalue(result, 0, 0);
    if (done && rows) *rows = Number(PQcmdTuples(result));
    if (!done) spdlog::warn("node lease: {}", PQresultErrorMessage(result));
    PQclear(result);
    return done;
  }

 private:
  PGconn* conn_;
};

constexpr const char* kRenew =
    "UPDATE NODE_LEASE SET SEEN = $2::bigint, UNTIL = now() + $3::interval WHERE ID = $1 "
    "RETURNING (SELECT N FROM GENERATION)";

// An acknowledgement is not waited for to reach the disk: were it lost in a crash of the
// database server, writers would only wait for this node again. A renewal is, since the node
// trusts its lease from it (see the connection's settings in `enter`).
constexpr const char* kAcknowledge = "UPDATE NODE_LEASE SET SEEN = $2::bigint WHERE ID = $1";

std::string Interval(std::chrono::milliseconds time) {
  return std::to_string(time.count()) + " milliseconds";
}

// The node's row in NODE_LEASE, kept over one connection at a time, and what the node learns
// through it, written to the lease's `generation` and `valid_until`.
class Registration {
 public:
  Registration(std::string url, std::atomic<std::uint64_t>& generation,
               std::atomic<std::int64_t>& valid_until)
      : url_(std::move(url)),
        name_(NodeName()),
        generation_(generation),
        valid_until_(valid_until) {}

  // One turn of the lease's thread: without a connection, connects and enters the row (at
  // most once a second); with one, waits a tick at most for announcements, acknowledges them,
  // and renews when it is time.
  void Turn() {
    const auto now = Clock::now();
    if (!conn_) return Connect(now);
    if (!Listen(now)) return;
    if (Clock::now() >= renew_at_ && !Renew()) Drop("cannot renew it");
  }

  // Ends the lease and removes the node's row.
  void Leave() {
    valid_until_ = 0;
    if (conn_) conn_->Run("DELETE FROM NODE_LEASE WHERE ID = $1", {name_});
  }

 private:
  void Connect(Clock::time_point now) {
    if (now < connect_at_) {
      std::this_thread::sleep_for(kTick);
      return;
    }
    connect_at_ = now + kReconnectPause;
    conn_ = std::make_unique<LeaseConnection>(url_);
    if (!conn_->ok() || !Enter()) Drop(nullptr);
  }

  // Listens, and enters the row, before it learns the generation: a writer that committed after
  // the row was entered waits for this node, whose renewal or announcement tells it; one that
  // committed before is in the generation the first renewal reads.
  bool Enter() {
    return conn_->Run("SET synchronous_commit = off", {}) &&
           conn_->Run("LISTEN TESSALY_GENERATION", {}) &&
           conn_->Run("DELETE FROM NODE_LEASE WHERE UNTIL < now() - interval '1 minute'", {}) &&
           conn_->Run(
               "INSERT INTO NODE_LEASE (ID, SEEN, UNTIL) VALUES ($1, 0, now() + "
               "$2::interval) ON CONFLICT (ID) DO UPDATE SET SEEN = 0, UNTIL = EXCLUDED.UNTIL",
               {name_, Interval(NodeLease::kLeaseTime)}) &&
           Renew();
  }

  // Renews the lease with the generation known now, and learns the newest from the database
  // in the same statement: an announcement lost or not yet arrived is made good at the next
  // renewal. The lease holds from the moment the renewal was sent, once the node knows every
  // generation that renewal saw committed. False when the statement failed or the node's row
  // is gone (removed while the node was away): the node must then register again.
  bool Renew() {
    for (;;) {
      const auto sent = Clock::now();
      std::string newest;
      std::uint64_t changed = 0;
      if (!conn_->Run("SET synchronous_commit = on", {}) ||
          !conn_->Run(kRenew,
                      {name_, std::to_string(generation_.load()), Interval(NodeLease::kLeaseTime)},
                      &newest, &changed) ||
          !conn_->Run("SET synchronous_commit = off", {}) || changed != 1) {
        return false;
      }
      renew_at_ = sent + NodeLease::kRenewEvery;
      if (Number(newest) <= generation_.load()) {
        valid_until_ =
            (sent + NodeLease::kLeaseTime - NodeLease::kMargin).time_since_epoch().count();
        return true;
      }
      generation_ = Number(newest);  // and acknowledged at once, by the next turn
    }
  }

  // Waits for announcements until the renewal is due, a tick at most; false when the
  // connection failed (and was dropped).
  bool Listen(Clock::time_point now) {
    pollfd socket{PQsocket(conn_->get()), POLLIN, 0};
    const auto wait =
        std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(renew_at_ - now),
                   std::chrono::milliseconds(0), std::chrono::milliseconds(kTick));
    if (poll(&socket, 1, static_cast<int>(wait.count())) < 0 && errno != EINTR) {
      Drop("cannot wait for the connection");
      return false;
    }
    if (!PQconsumeInput(conn_->get())) {
      Drop(nullptr);
      return false;
    }
    std::uint64_t newest = generation_.load();
    while (PGnotify* note = PQnotifies(conn_->get())) {
      newest = std::max(newest, Number(note->extra));
      PQfreemem(note);
    }
    // A new generation is known here before the writer learns that this node has seen it.
    if (newest > generation_.load()) {
      generation_ = newest;
      std::uint64_t changed = 0;
      if (!conn_->Run(kAcknowledge, {name_, std::to_string(newest)}, nullptr, &changed) ||
          changed != 1) {
        Drop("cannot acknowledge a generation");
        return false;
      }
    }
    return true;
  }

  void Drop(const char* why) {
    valid_until_ = 0;
    if (conn_) spdlog::warn("node lease ended: {}", why ? why : conn_->error());
    conn_.reset();
  }

  const std::string url_;
  const std::string name_;
  std::atomic<std::uint64_t>& generation_;
  std::atomic<std::int64_t>& valid_until_;
  std::unique_ptr<LeaseConnection> conn_;
  Clock::time_point connect_at_{}, renew_at_{};
};

}  // namespace

NodeLease::NodeLease(std::string url)
    : url_(std::move(url)), thread_([this](const std::stop_token& stop) { Run(stop); }) {}

NodeLease::~NodeLease() {
  thread_.request_stop();
  thread_.join();
}

std::optional<std::uint64_t> NodeLease::Generation() const {
  // The generation is read after the lease is found to hold: an announcement seen before the
  // lease was last confirmed is in it.
  if (Clock::now().time_since_epoch().count() >= valid_until_.load()) return std::nullopt;
  return generation_.load();
}

void NodeLease::Run(const std::stop_token& stop) {
  Registration registration(url_, generation_, valid_until_);
  while (!stop.stop_requested()) registration.Turn();
  registration.Leave();
}

}  // namespace tessaly::data
