#include "data/postgres.h"

#include <libpq-fe.h>
#include <poll.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unordered_map>

#include "base/errors.h"
#include "data/database.h"
#include "data/node_lease.h"

namespace tessaly::data {
namespace {

// PostgreSQL type ids of the columns that come back as numbers or bytes.
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700,
              kFloat8 = 701, kNumeric = 1700;

// STIME is text in the same form as in an SQLite file, "YYYY-MM-DD HH:MM:SS.fff" in local
// time, byte-ordered ("C" collation), so that pages read, sort and show it as they do there.
constexpr const char* kSchema = R"sql(
SELECT pg_advisory_xact_lock(1414745177);
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE TABLE IF NOT EXISTS MESSAGE (
  ID BIGSERIAL PRIMARY KEY,
  TITLE TEXT NOT NULL DEFAULT '',
  CONTENT TEXT NOT NULL DEFAULT '',
  STIME TEXT COLLATE "C" NOT NULL
    DEFAULT to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS')
);
CREATE INDEX IF NOT EXISTS MESSAGE_STIME ON MESSAGE (STIME, ID);
CREATE TABLE IF NOT EXISTS USERTB (
  USERNAME TEXT NOT NULL PRIMARY KEY,
  PASSWORD TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS IMAGE (
  ID BIGSERIAL PRIMARY KEY,
  NAME TEXT NOT NULL,
  TYPE TEXT NOT NULL,
  STIME TEXT COLLATE "C" NOT NULL
    DEFAULT to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS'),
  DATA BYTEA NOT NULL DEFAULT '\x'
);
CREATE UNIQUE INDEX IF NOT EXISTS IMAGE_NAME_UNIQUE ON IMAGE (NAME);
CREATE TABLE IF NOT EXISTS ROW_COUNT (
  NAME TEXT NOT NULL PRIMARY KEY,
  N BIGINT NOT NULL
);
INSERT INTO ROW_COUNT (NAME, N) SELECT 'MESSAGE', count(*) FROM MESSAGE ON CONFLICT DO NOTHING;
INSERT INTO ROW_COUNT (NAME, N) SELECT 'IMAGE', count(*) FROM IMAGE ON CONFLICT DO NOTHING;
CREATE TABLE IF NOT EXISTS GENERATION (
  ONE BOOLEAN PRIMARY KEY DEFAULT TRUE CHECK (ONE),
  N BIGINT NOT NULL
);
INSERT INTO GENERATION (ONE, N) VALUES (TRUE, 1) ON CONFLICT DO NOTHING;
CREATE TABLE IF NOT EXISTS NODE_LEASE (
  ID TEXT PRIMARY KEY,
  SEEN BIGINT NOT NULL,
  UNTIL TIMESTAMPTZ NOT NULL
);
CREATE TABLE IF NOT EXISTS MESSAGE_SEARCH (
  ID BIGINT PRIMARY KEY,
  TEXT TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS MESSAGE_SEARCH_TRGM ON MESSAGE_SEARCH USING gin (TEXT gin_trgm_ops);
CREATE TABLE IF NOT EXISTS SEARCH_PENDING (ID BIGINT PRIMARY KEY);

CREATE TABLE IF NOT EXISTS WEB_SESSION (
  ID TEXT PRIMARY KEY,
  TIMEOUT_MINUTES BIGINT NOT NULL,
  EXPIRES TIMESTAMPTZ NOT NULL
);
CREATE INDEX IF NOT EXISTS WEB_SESSION_EXPIRES ON WEB_SESSION (EXPIRES);
-- The account a logged-on session belongs to; NULL for a visitor's session.
ALTER TABLE WEB_SESSION ADD COLUMN IF NOT EXISTS ACCOUNT TEXT;
CREATE INDEX IF NOT EXISTS WEB_SESSION_ACCOUNT ON WEB_SESSION (ACCOUNT) WHERE ACCOUNT IS NOT NULL;
CREATE TABLE IF NOT EXISTS WEB_SESSION_ITEM (
  ID TEXT NOT NULL REFERENCES WEB_SESSION (ID) ON DELETE CASCADE,
  NAME TEXT NOT NULL,
  ITEM TEXT NOT NULL,
  PRIMARY KEY (ID, NAME)
);
CREATE TABLE IF NOT EXISTS LOGON_FAILURE (
  ADDRESS TEXT NOT NULL,
  FAILED_AT TIMESTAMPTZ NOT NULL
);
CREATE INDEX IF NOT EXISTS LOGON_FAILURE_ADDRESS ON LOGON_FAILURE (ADDRESS, FAILED_AT);

-- A session's row made live: its time-out starts again; one that had expired (or never was)
-- starts empty with the default time-out, as a session revived in memory does.
CREATE OR REPLACE FUNCTION TESSALY_SESSION_LIVE(SID TEXT, DEFAULT_MINUTES BIGINT)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  DELETE FROM WEB_SESSION WHERE ID = SID AND EXPIRES <= now();
  INSERT INTO WEB_SESSION (ID, TIMEOUT_MINUTES, EXPIRES)
    VALUES (SID, DEFAULT_MINUTES, now() + DEFAULT_MINUTES * interval '1 minute')
    ON CONFLICT (ID) DO UPDATE
    SET EXPIRES = now() + WEB_SESSION.TIMEOUT_MINUTES * interval '1 minute';
END $$;
CREATE OR REPLACE FUNCTION TESSALY_SESSION_SET(SID TEXT, DEFAULT_MINUTES BIGINT, ITEM_NAME TEXT,
                                               ITEM_VALUE TEXT)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  PERFORM TESSALY_SESSION_LIVE(SID, DEFAULT_MINUTES);
  INSERT INTO WEB_SESSION_ITEM (ID, NAME, ITEM) VALUES (SID, ITEM_NAME, ITEM_VALUE)
    ON CONFLICT (ID, NAME) DO UPDATE SET ITEM = EXCLUDED.ITEM;
END $$;
CREATE OR REPLACE FUNCTION TESSALY_SESSION_TIMEOUT(SID TEXT, DEFAULT_MINUTES BIGINT,
                                                   MINUTES BIGINT)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  PERFORM TESSALY_SESSION_LIVE(SID, DEFAULT_MINUTES);
  UPDATE WEB_SESSION SET TIMEOUT_MINUTES = MINUTES, EXPIRES = now() + MINUTES * interval '1 minute'
    WHERE ID = SID;
END $$;
-- A logon: the items and time-out of a live session OLD_ID move to the new session NEW_ID of
-- ACCOUNT_NAME, and OLD_ID ends.
CREATE OR REPLACE FUNCTION TESSALY_SESSION_RENEW(OLD_ID TEXT, NEW_ID TEXT, ACCOUNT_NAME TEXT,
                                                 DEFAULT_MINUTES BIGINT)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  KEPT_MINUTES BIGINT;
BEGIN
  SELECT TIMEOUT_MINUTES INTO KEPT_MINUTES FROM WEB_SESSION
    WHERE ID = OLD_ID AND EXPIRES > now() FOR UPDATE;
  INSERT INTO WEB_SESSION (ID, TIMEOUT_MINUTES, EXPIRES, ACCOUNT)
    VALUES (NEW_ID, coalesce(KEPT_MINUTES, DEFAULT_MINUTES),
            now() + coalesce(KEPT_MINUTES, DEFAULT_MINUTES) * interval '1 minute', ACCOUNT_NAME);
  IF KEPT_MINUTES IS NOT NULL THEN
    UPDATE WEB_SESSION_ITEM SET ID = NEW_ID WHERE ID = OLD_ID;
  END IF;
  DELETE FROM WEB_SESSION WHERE ID = OLD_ID;
END $$;

CREATE OR REPLACE FUNCTION TESSALY_COUNT_UP() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE ROW_COUNT SET N = N + (SELECT count(*) FROM ADDED) WHERE NAME = TG_ARGV[0];
  RETURN NULL;
END $$;
CREATE OR REPLACE FUNCTION TESSALY_COUNT_DOWN() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE ROW_COUNT SET N = N - (SELECT count(*) FROM REMOVED) WHERE NAME = TG_ARGV[0];
  RETURN NULL;
END $$;
CREATE OR REPLACE FUNCTION TESSALY_COUNT_ZERO() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE ROW_COUNT SET N = 0 WHERE NAME = TG_ARGV[0];
  RETURN NULL;
END $$;
CREATE OR REPLACE FUNCTION TESSALY_NEXT_GENERATION() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  NEXT BIGINT;
BEGIN
  UPDATE GENERATION SET N = N + 1 RETURNING N INTO NEXT;
  PERFORM pg_notify('tessaly_generation', NEXT::text);
  RETURN NULL;
END $$;
-- Waits until every node whose lease holds has seen the newest generation, at most GIVE_UP;
-- returns how many still have not. A program that writes with its own client calls it after
-- its commit to return only once no node can serve the state before it.
CREATE OR REPLACE FUNCTION TESSALY_AWAIT_NODES(GIVE_UP INTERVAL) RETURNS BIGINT
LANGUAGE plpgsql VOLATILE AS $$
DECLARE
  BEHIND BIGINT;
  PAUSE DOUBLE PRECISION := 0.001;
  UNTIL_AT TIMESTAMPTZ := clock_timestamp() + GIVE_UP;
BEGIN
  LOOP
    SELECT count(*) INTO BEHIND FROM NODE_LEASE, GENERATION
      WHERE NODE_LEASE.SEEN < GENERATION.N AND NODE_LEASE.UNTIL > clock_timestamp();
    IF BEHIND = 0 OR clock_timestamp() > UNTIL_AT THEN
      RETURN BEHIND;
    END IF;
    PERFORM pg_sleep(PAUSE);
    PAUSE := least(PAUSE * 2, 0.004);
  END LOOP;
END $$;
CREATE OR REPLACE FUNCTION TESSALY_SEARCH_ADDED() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO SEARCH_PENDING (ID) SELECT ID FROM ADDED ON CONFLICT DO NOTHING;
  RETURN NULL;
END $$;
CREATE OR REPLACE FUNCTION TESSALY_SEARCH_REMOVED() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO SEARCH_PENDING (ID) SELECT ID FROM REMOVED ON CONFLICT DO NOTHING;
  RETURN NULL;
END $$;

CREATE OR REPLACE TRIGGER MESSAGE_COUNT_UP AFTER INSERT ON MESSAGE
  REFERENCING NEW TABLE AS ADDED FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_COUNT_UP('MESSAGE');
CREATE OR REPLACE TRIGGER MESSAGE_COUNT_DOWN AFTER DELETE ON MESSAGE
  REFERENCING OLD TABLE AS REMOVED FOR EACH STATEMENT
  EXECUTE FUNCTION TESSALY_COUNT_DOWN('MESSAGE');
CREATE OR REPLACE TRIGGER MESSAGE_COUNT_ZERO AFTER TRUNCATE ON MESSAGE
  FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_COUNT_ZERO('MESSAGE');
CREATE OR REPLACE TRIGGER IMAGE_COUNT_UP AFTER INSERT ON IMAGE
  REFERENCING NEW TABLE AS ADDED FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_COUNT_UP('IMAGE');
CREATE OR REPLACE TRIGGER IMAGE_COUNT_DOWN AFTER DELETE ON IMAGE
  REFERENCING OLD TABLE AS REMOVED FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_COUNT_DOWN('IMAGE');
CREATE OR REPLACE TRIGGER IMAGE_COUNT_ZERO AFTER TRUNCATE ON IMAGE
  FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_COUNT_ZERO('IMAGE');
CREATE OR REPLACE TRIGGER MESSAGE_CHANGED AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON MESSAGE
  FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_NEXT_GENERATION();
CREATE OR REPLACE TRIGGER IMAGE_CHANGED AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON IMAGE
  FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_NEXT_GENERATION();
CREATE OR REPLACE TRIGGER USERTB_CHANGED AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON USERTB
  FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_NEXT_GENERATION();
CREATE OR REPLACE TRIGGER MESSAGE_SEARCH_ADDED AFTER INSERT ON MESSAGE
  REFERENCING NEW TABLE AS ADDED FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_SEARCH_ADDED();
CREATE OR REPLACE TRIGGER MESSAGE_SEARCH_CHANGED AFTER UPDATE ON MESSAGE
  REFERENCING OLD TABLE AS REMOVED NEW TABLE AS ADDED FOR EACH STATEMENT
  EXECUTE FUNCTION TESSALY_SEARCH_ADDED();
CREATE OR REPLACE TRIGGER MESSAGE_SEARCH_CHANGED_FROM AFTER UPDATE ON MESSAGE
  REFERENCING OLD TABLE AS REMOVED NEW TABLE AS ADDED FOR EACH STATEMENT
  EXECUTE FUNCTION TESSALY_SEARCH_REMOVED();
CREATE OR REPLACE TRIGGER MESSAGE_SEARCH_DELETED AFTER DELETE ON MESSAGE
  REFERENCING OLD TABLE AS REMOVED FOR EACH STATEMENT EXECUTE FUNCTION TESSALY_SEARCH_REMOVED();
)sql";

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
  explicit PostgresConnection(const std::string& url) : url_(url) { Connect(); }
  ~PostgresConnection() override { PQfinish(conn_); }

  Engine engine() const override { return Engine::kPostgres; }

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
      Query("SELECT TESSALY_AWAIT_NODES(? * interval '1 millisecond')",
            {Value(std::int64_t{NodeLease::kWriterWaitLimit.count()})}, rows, nullptr);
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
      Lease lease = database_.Acquire();
      return static_cast<PostgresConnection&>(*lease).ReadGeneration();
    } catch (const std::exception&) {
      return {};  // the server is away: nothing can be served from what was kept
    }
  }

 private:
  Database& database_;
};

std::int64_t Scalar(Connection& connection, const std::string& sql) {
  std::vector<Row> rows;
  connection.Query(sql, {}, rows);
  return rows.empty() ? 0 : rows[0][0].ToInt();
}

}  // namespace

Stamp GenerationStamp(std::uint64_t number) {
  Stamp stamp;
  stamp.words[0] = static_cast<std::uint32_t>(number);
  stamp.words[1] = static_cast<std::uint32_t>(number >> 32);
  stamp.known = true;
  return stamp;
}

std::unique_ptr<Connection> ConnectPostgres(const std::string& url) {
  return std::make_unique<PostgresConnection>(url);
}

void CreatePostgresSchema(Connection& connection) {
  connection.Begin();
  try {
    static_cast<PostgresConnection&>(connection).Script(kSchema);
    connection.Commit();
  } catch (...) {
    connection.Rollback();
    throw;
  }
}

std::string DisplayUrl(const std::string& url) {
  std::string shown = url;
  // user:password@ in the authority, which ends at the first '/', '?' or '#' after "//".
  if (const std::size_t scheme = shown.find("://"); scheme != std::string::npos) {
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(shown.find_first_of("/?#", start), shown.size());
    const std::size_t at = shown.rfind('@', end);
    const std::size_t colon = shown.find(':', start);
    if (at != std::string::npos && at >= start && colon < at) {
      shown.replace(colon + 1, at - colon - 1, "***");
    }
  }
  // password=... as a query parameter or a key=value pair.
  for (std::size_t from = 0; (from = shown.find("password=", from)) != std::string::npos;) {
    const bool starts_item =
        from == 0 || shown[from - 1] == '?' || shown[from - 1] == '&' || shown[from - 1] == ' ';
    from += 9;
    if (!starts_item) continue;
    const std::size_t end = std::min(shown.find_first_of("& ", from), shown.size());
    shown.replace(from, end - from, "***");
  }
  return shown;
}

void CheckPostgresSchema(Connection& connection, const std::string& url) {
  if (Scalar(connection,
             "SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename IN "
             "('message', 'usertb', 'image', 'generation')") != 4) {
    throw DataError(DisplayUrl(url) +
                    " is not a Tessaly database; tessaly init --database makes one");
  }
}

void RunScript(Connection& connection, const std::string& sql) {
  if (connection.engine() != Engine::kPostgres) throw DataError("not a PostgreSQL connection");
  static_cast<PostgresConnection&>(connection).Script(sql.c_str());
}

bool PostgresIsEmpty(Connection& connection) {
  return Scalar(connection,
                "SELECT (SELECT count(*) FROM MESSAGE) + (SELECT count(*) FROM USERTB) + "
                "(SELECT count(*) FROM IMAGE)") == 0;
}

std::unique_ptr<ChangeWatch> WatchPostgres(Database& database) {
  return std::make_unique<GenerationWatch>(database);
}

}  // namespace tessaly::data
