#include "data/postgres/connection.h"

#include <libpq-fe.h>
#include <poll.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unordered_map>

#include "base/errors.h"
#include "data/database.h"
#include "data/postgres/node_lease.h"

namespace tessaly::data {
namespace {

// PostgreSQL type ids of the columns that come back as numbers or bytes.
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700,
              kFloat8 = 701, kNumeric = 1700;

// "?" marks become "$1", "$2", ... ; marks inside quoted text and identifiers stay.
std::string Numbered(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + 8);
  int next = 1;
  char quote = 0;
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
    } else if (c == '?') {
      out += '$' + std::to_string(next++);
    } else {
      out += c;
    }
  }
  return out;
}

// A statement sent on a connection that broke before its answer came: the server may have run
// it, so it is never sent again.
constexpr const char* kLostDuringStatement =
    "the connection to the database broke during the statement, which may or may not have "
    "taken effect";

// A connection that the server closed while it lay idle (a restart of the server, an idle
// time-out, an administrator's pg_terminate_backend) is made anew before the next statement
// that starts outside a transaction, and so is one whose statement was refused before the
// server could run it: no request fails for a connection that died in the pool. A statement
// that may have reached the server is not sent again (kLostDuringStatement).
class PostgresConnection final : public Connection {
 public:
  PostgresConnection(const std::string& url, std::shared_ptr<NodeWaits> waits)
      : url_(url), waits_(std::move(waits)) {
    Connect();
  }
  ~PostgresConnection() override { PQfinish(conn_); }

  void Query(const std::string& sql, const std::vector<Value>& params, std::vector<Row>& rows,
             std::vector<std::string>* names) override {
    Result result = Run(sql, params, PGRES_TUPLES_OK);
    const int columns = PQnfields(result.get());
    if (names && names->empty()) {
      for (int c = 0; c < columns; ++c) names->emplace_back(PQfname(result.get(), c));
    }
    const int count = PQntuples(result.get());
    rows.reserve(rows.size() + count);
    for (int r = 0; r < count; ++r) {
      Row& row = rows.emplace_back();
      row.reserve(columns);
      for (int c = 0; c < columns; ++c) row.push_back(Field(result.get(), r, c));
    }
  }

  std::int64_t Execute(const std::string& sql, const std::vector<Value>& params) override {
    Result result = Run(sql, params, PGRES_COMMAND_OK);
    const char* changed = PQcmdTuples(result.get());
    std::int64_t n = 0;
    std::from_chars(changed, changed + std::char_traits<char>::length(changed), n);
    return n;
  }

  void Begin() override { Plain("BEGIN"); }
  void Commit() override {
    Plain("COMMIT");
    if (std::exchange(wrote_, false)) AwaitNodes();
  }
  void Rollback() noexcept override {
    wrote_ = false;
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
  }

  Stamp BeginReadState(const ChangeWatch&) override {
    Plain("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    try {
      return ReadGeneration();  // the first read fixes the snapshot
    } catch (...) {
      Rollback();
      throw;
    }
  }

  std::string InIdList(std::string_view column) const override {
    return std::string(column) +
           " IN (SELECT value::bigint FROM json_array_elements_text(?::json))";
  }

  bool Reusable() const override {
    return !broken_ && PQstatus(conn_) == CONNECTION_OK &&
           PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }
  bool Broken() const override { return broken_ || PQstatus(conn_) != CONNECTION_OK; }

  // Runs several statements given as one text, without parameters. Outside a transaction they
  // are taken to have written.
  void Script(const char* sql) {
    Plain(sql);
    if (PQtransactionStatus(conn_) == PQTRANS_IDLE) AwaitNodes();
  }

  Stamp ReadGeneration() {
    std::vector<Row> rows;
    Query(kReadGeneration, {}, rows, nullptr);
    if (rows.empty()) throw DataError("the database has no generation row");
    return GenerationStamp(static_cast<std::uint64_t>(rows[0][0].ToInt()));
  }

 private:
  using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

  // A new session with the server, set up as every statement here expects. Throws DataError.
  void Connect() {
    conn_ = PQconnectdb(url_.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      std::string message = conn_ ? PQerrorMessage(conn_) : "out of memory";
      PQfinish(std::exchange(conn_, nullptr));  // libpq takes a null connection as a broken one
      broken_ = true;                           // and it is not lent again
      throw DataError("cannot connect to the database: " + Trimmed(message));
    }
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    PQsetClientEncoding(conn_, "UTF8");
    UseLocalTimeZone();
  }

  // The session is replaced: its prepared statements went with the old one.
  void Reconnect() {
    spdlog::info("the database closed a connection that lay idle; connecting again");
    PQfinish(std::exchange(conn_, nullptr));
    statements_.clear();
    broken_ = false;
    Connect();
  }

  // True when no transaction is open, as far as the session knows (not when it already broke).
  bool OutsideTransaction() const { return PQtransactionStatus(conn_) == PQTRANS_IDLE; }

  // Before a statement that starts outside a transaction: reads what the server sent while the
  // connection lay idle, without waiting, and makes the connection anew when the server has
  // closed it. Nothing of the statement was sent yet, so nothing is repeated.
  void ReviveIfClosed() {
    if (!OutsideTransaction()) return;
    pollfd ready{PQsocket(conn_), POLLIN, 0};
    // A closing server sends its reason, then the end of the stream: two reads at most.
    for (int reads = 0; reads < 4 && ::poll(&ready, 1, 0) > 0; ++reads) {
      if (!PQconsumeInput(conn_)) break;
    }
    if (PQstatus(conn_) != CONNECTION_OK) Reconnect();
  }

  // STIME is filled with the local time of the server that adds the row, as an SQLite file
  // is: the session takes this process's time zone (TZ, else the system's), when the database
  // server knows it; otherwise it keeps its own.
  void UseLocalTimeZone() {
    std::string zone;
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
      zone = tz[0] == ':' ? tz + 1 : tz;
    } else {
      std::error_code ec;
      const std::string target = std::filesystem::read_symlink("/etc/localtime", ec).string();
      const std::size_t at = target.find("zoneinfo/");
      if (!ec && at != std::string::npos) zone = target.substr(at + 9);
    }
    if (zone.empty()) return;
    const char* values[] = {zone.c_str()};
    PQclear(PQexecParams(conn_, "SELECT set_config('TimeZone', $1, false)", 1, nullptr, values,
                         nullptr, nullptr, 0));
  }

  static std::string Trimmed(std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
    return message;
  }

  [[noreturn]] void Fail(const char* what, const PGresult* result) {
    const char* message = result ? PQresultErrorMessage(result) : "";
    std::string text = Trimmed(*message ? message : PQerrorMessage(conn_));
    if (PQstatus(conn_) != CONNECTION_OK) {
      broken_ = true;
      throw DataError(std::string(kLostDuringStatement) + ": " + text);
    }
    throw DataError(std::string(what) + ": " + text);
  }

  void Plain(const char* sql) {
    ReviveIfClosed();
    Result result(PQexec(conn_, sql), &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      Fail("cannot run the statement", result.get());
    }
  }

  // The name of the prepared statement for `sql`, prepared on first use.
  const std::string& Prepared(const std::string& sql, const std::vector<Oid>& types) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    const std::string name = "s" + std::to_string(statements_.size() + 1);
    Result result(PQprepare(conn_, name.c_str(), Numbered(sql).c_str(),
                            static_cast<int>(types.size()), types.data()),
                  &PQclear);
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      Fail("cannot prepare statement", result.get());
    }
    return statements_.emplace(sql, name).first->second;
  }

  Result Run(const std::string& sql, const std::vector<Value>& params, ExecStatusType expected) {
    const std::size_t n = params.size();
    std::vector<std::string> texts(n);
    std::vector<const char*> values(n, nullptr);
    std::vector<int> lengths(n, 0), formats(n, 0);
    std::vector<Oid> types(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      const auto& v = params[i].Get();
      if (const auto* integer = std::get_if<std::int64_t>(&v)) {
        texts[i] = std::to_string(*integer);
        types[i] = kInt8;
      } else if (const auto* real = std::get_if<double>(&v)) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.17g", *real);
        texts[i] = digits;
        types[i] = kFloat8;
      } else if (const auto* text = std::get_if<std::string>(&v)) {
        values[i] = text->data();
        lengths[i] = static_cast<int>(text->size());
        continue;
      } else if (const auto* blob = std::get_if<Blob>(&v)) {
        values[i] = blob->bytes.data();
        lengths[i] = static_cast<int>(blob->bytes.size());
        formats[i] = 1;
        types[i] = kBytea;
        continue;
      } else {
        continue;  // NULL
      }
      values[i] = texts[i].c_str();
      lengths[i] = static_cast<int>(texts[i].size());
    }
    ReviveIfClosed();
    const bool outside = OutsideTransaction();
    const std::string* name = nullptr;
    try {
      name = &Prepared(sql, types);
    } catch (const DataError&) {
      // Preparing runs nothing: on a connection that broke meanwhile, outside a transaction,
      // the statement goes out on a new one.
      if (!outside || PQstatus(conn_) == CONNECTION_OK) throw;
      Reconnect();
      name = &Prepared(sql, types);
    }
    Result result(PQexecPrepared(conn_, name->c_str(), static_cast<int>(n), values.data(),
                                 lengths.data(), formats.data(), 0),
                  &PQclear);
    if (PQresultStatus(result.get()) != expected) {
      // A statement that returns rows where none were expected (or none where rows were) is
      // still a success.
      const ExecStatusType status = PQresultStatus(result.get());
      if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        Fail("cannot run the statement", result.get());
      }
    }
    if (Wrote(result.get())) {
      if (PQtransactionStatus(conn_) == PQTRANS_IDLE) {
        AwaitNodes();  // the statement was its own transaction, now committed
      } else {
        wrote_ = true;
      }
    }
    return result;
  }

  static bool Wrote(const PGresult* result) {
    const std::string_view tag = PQcmdStatus(const_cast<PGresult*>(result));
    for (std::string_view write : {"INSERT", "UPDATE", "DELETE", "TRUNCATE", "MERGE", "COPY"}) {
      if (tag.starts_with(write)) return true;
    }
    return false;
  }

  // After a commit that wrote: returns once every node whose lease holds has seen the newest
  // generation, or its lease has run out (node_lease.h), so that the commit returns to its
  // caller only when no node can still serve the state before it. A failure here changes
  // nothing of the commit: it is logged, not thrown.
  void AwaitNodes() {
    try {
      std::vector<Row> rows;
      if (!has_nodes_) {  // a database without our schema (yet) has no nodes to wait for
        Query("SELECT to_regproc('tessaly_await_nodes') IS NOT NULL", {}, rows, nullptr);
        has_nodes_ = !rows.empty() && rows[0][0].ToInt() != 0;
        if (!has_nodes_) return;
        rows.clear();
      }
      const auto started = std::chrono::steady_clock::now();
      Query("SELECT TESSALY_AWAIT_NODES(? * interval '1 millisecond')",
            {Value(std::int64_t{NodeLease::kWriterWaitLimit.count()})}, rows, nullptr);
      if (waits_) {
        const auto took = std::chrono::steady_clock::now() - started;
        waits_->count.fetch_add(1, std::memory_order_relaxed);
        waits_->nanoseconds.fetch_add(
            static_cast<std::uint64_t>(std::chrono::nanoseconds(took).count()),
            std::memory_order_relaxed);
      }
      if (!rows.empty() && rows[0][0].ToInt() > 0) {
        spdlog::warn("a commit returns before {} node(s) have seen it", rows[0][0].ToInt());
      }
    } catch (const std::exception& e) {
      spdlog::warn("cannot tell whether the nodes have seen a commit: {}", e.what());
    }
  }

  static Value Field(const PGresult* result, int r, int c) {
    if (PQgetisnull(result, r, c)) return Value();
    const char* text = PQgetvalue(result, r, c);
    const int length = PQgetlength(result, r, c);
    switch (PQftype(result, c)) {
      case kInt2:
      case kInt4:
      case kInt8: {
        std::int64_t n = 0;
        std::from_chars(text, text + length, n);
        return Value(n);
      }
      case kFloat4:
      case kFloat8:
      case kNumeric:
        return Value(std::strtod(text, nullptr));
      case kBool:
        return Value(std::int64_t{text[0] == 't'});
      case kBytea: {
        std::size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &size);
        if (!bytes) throw DataError("cannot read a binary column");
        Value value(Blob{std::string(reinterpret_cast<const char*>(bytes), size)});
        PQfreemem(bytes);
        return value;
      }
      default:
        return Value(std::string(text, static_cast<std::size_t>(length)));
    }
  }

  const std::string url_;
  const std::shared_ptr<NodeWaits> waits_;  // may be null
  PGconn* conn_ = nullptr;
  bool broken_ = false;
  bool wrote_ = false;      // the open transaction has written
  bool has_nodes_ = false;  // the database has TESSALY_AWAIT_NODES: known once seen
  std::unordered_map<std::string, std::string> statements_;  // SQL text -> statement name
};

// Each call reads the generation with a round trip of its own, so its answer is never older
// than the call. Page requests on a server take their stamps from the node's lease or a
// GenerationFeed instead; this serves a request after its own write, and commands.
class GenerationWatch final : public ChangeWatch {
 public:
  explicit GenerationWatch(Database& database) : database_(database) {}

  Stamp Current() const override {
    try {
      PooledConnection connection = database_.Acquire();
      return static_cast<PostgresConnection&>(*connection).ReadGeneration();
    } catch (const std::exception&) {
      return {};  // the server is away: nothing can be served from what was kept
    }
  }

 private:
  Database& database_;
};

}  // namespace

Stamp GenerationStamp(std::uint64_t number) {
  Stamp stamp;
  stamp.words[0] = static_cast<std::uint32_t>(number);
  stamp.words[1] = static_cast<std::uint32_t>(number >> 32);
  stamp.known = true;
  return stamp;
}

std::unique_ptr<Connection> ConnectPostgres(const std::string& url,
                                            std::shared_ptr<NodeWaits> waits) {
  return std::make_unique<PostgresConnection>(url, std::move(waits));
}

void RunScript(Connection& connection, const std::string& sql) {
  auto* postgres = dynamic_cast<PostgresConnection*>(&connection);
  if (!postgres) throw DataError("not a PostgreSQL connection");
  postgres->Script(sql.c_str());
}

std::unique_ptr<ChangeWatch> WatchPostgres(Database& database) {
  return std::make_unique<GenerationWatch>(database);
}

}  // namespace tessaly::data
