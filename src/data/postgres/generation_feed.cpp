#include "data/postgres/generation_feed.h"

#include <libpq-fe.h>
#include <spdlog/spdlog.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/database.h"
#include "data/postgres/connection.h"

namespace tessaly::data {

namespace net = boost::asio;

struct GenerationFeed::State : std::enable_shared_from_this<State> {
  using Clock = std::chrono::steady_clock;
  using Batch = std::vector<std::function<void()>>;
  static constexpr auto kReconnectPause = std::chrono::seconds(1);
  static constexpr const char* kStatement = "generation";

  State(net::io_context& its_loop, const Database& its_database)
      : loop(its_loop), database(its_database) {}
  ~State() { Close(); }

  void Enter(std::function<void()> run) {
    waiting.push_back(std::move(run));
    if (send_posted) return;
    send_posted = true;
    // The read goes out once the loop has taken in the requests that are already waiting, so
    // that one read serves them all.
    net::post(loop, [self = shared_from_this()] {
      self->send_posted = false;
      if (!self->waiting.empty() && !self->retired) self->Send();
    });
  }

  // Sends a read for the requests waiting, or lets them in with no stamp when it cannot. Reads
  // are pipelined: one may go out while others are still in flight.
  void Send() {
    if (!Connected()) return Finish(std::exchange(waiting, {}), {});
    if (!PQsendQueryPrepared(conn, kStatement, 0, nullptr, nullptr, nullptr, 0) ||
        !PQpipelineSync(conn)) {
      return Broke("cannot ask for the generation");
    }
    in_flight.push_back(std::exchange(waiting, {}));
    Flush();
  }

  // A read is a few dozen bytes, so this nearly always finishes at once; if not, the rest goes
  // when the socket can take it.
  void Flush() {
    const int left = PQflush(conn);
    if (left < 0) return Broke("cannot send the generation query");
    if (left > 0 && !writing) Wait(net::posix::descriptor_base::wait_write);
    if (!reading) Wait(net::posix::descriptor_base::wait_read);
  }

  void Wait(net::posix::descriptor_base::wait_type what) {
    const bool write = what == net::posix::descriptor_base::wait_write;
    (write ? writing : reading) = true;
    socket->async_wait(what, [self = shared_from_this(), write,
                              on = connection_number](boost::system::error_code ec) {
      if (on != self->connection_number) return;  // a wait on a connection since closed
      (write ? self->writing : self->reading) = false;
      if (ec) return self->Broke(ec.message());
      if (write) return self->Flush();
      self->Receive();
    });
  }

  // Each read answers with its row and then the mark of its end (the pipeline's sync).
  void Receive() {
    if (!PQconsumeInput(conn)) return Broke(PQerrorMessage(conn));
    bool ended = false;
    while (!in_flight.empty() && !PQisBusy(conn)) {
      PGresult* result = PQgetResult(conn);
      if (!result) {  // the end of one statement's results; never two in a row
        if (std::exchange(ended, true)) return Broke("the answers lost their order");
        continue;
      }
      ended = false;
      switch (PQresultStatus(result)) {
        case PGRES_TUPLES_OK:
          answer = Parse(result);
          break;
        case PGRES_PIPELINE_SYNC: {
          const Batch batch = std::move(in_flight.front());
          in_flight.pop_front();
          Finish(batch, std::exchange(answer, {}));
          break;
        }
        default:
          spdlog::warn("generation read: {}", PQresultErrorMessage(result));
      }
      PQclear(result);
    }
    if (!in_flight.empty() && !reading) Wait(net::posix::descriptor_base::wait_read);
  }

  static Stamp Parse(const PGresult* result) {
    if (PQntuples(result) != 1) return {};
    const char* text = PQgetvalue(result, 0, 0);
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text, text + PQgetlength(result, 0, 0), number);
    return error == std::errc() ? GenerationStamp(number) : Stamp{};
  }

  void Finish(const Batch& batch, const Stamp& stamp) {
    for (auto& run : batch) {
      StampLoan loan(database, stamp);
      run();
    }
  }

  // Every request still waiting goes in without a stamp.
  void Broke(const std::string& why) {
    spdlog::warn("generation reads: {}", why);
    Close();
    std::deque<Batch> batches = std::exchange(in_flight, {});
    batches.push_back(std::exchange(waiting, {}));
    for (const Batch& batch : batches) Finish(batch, {});
  }

  bool Connected() {
    if (conn && PQstatus(conn) == CONNECTION_OK) return true;
    Close();
    const auto now = Clock::now();
    if (now < retry_at) return false;
    retry_at = now + kReconnectPause;
    conn = PQconnectdb(database.location().c_str());
    PGresult* prepared = conn && PQstatus(conn) == CONNECTION_OK
                             ? PQprepare(conn, kStatement, kReadGeneration, 0, nullptr)
                             : nullptr;
    const bool ready = PQresultStatus(prepared) == PGRES_COMMAND_OK;
    PQclear(prepared);
    if (!ready || PQsetnonblocking(conn, 1) != 0 || !PQenterPipelineMode(conn)) {
      spdlog::warn("generation reads: cannot connect: {}", conn ? PQerrorMessage(conn) : "");
      Close();
      return false;
    }
    socket.emplace(loop, PQsocket(conn));
    return true;
  }

  // The socket belongs to libpq: it is let go, not closed, before libpq closes it.
  void Close() {
    if (socket) {
      socket->release();
      socket.reset();
    }
    if (conn) PQfinish(conn);
    conn = nullptr;
    ++connection_number;
    reading = writing = false;
    answer = {};
  }

  net::io_context& loop;
  const Database& database;
  PGconn* conn = nullptr;
  std::optional<net::posix::stream_descriptor> socket;
  std::uint64_t connection_number = 0;  // of `conn`: waits on an older one are void
  bool reading = false;                 // a wait for the answers is pending
  bool writing = false;                 // a wait to send the rest of a read is pending
  bool send_posted = false;
  bool retired = false;         // the feed is gone: nothing more is sent
  Batch waiting;                // asked since the last read went out
  std::deque<Batch> in_flight;  // one per read sent and not answered, oldest first
  Stamp answer;                 // of the oldest read, until its end arrives
  Clock::time_point retry_at{};
};

GenerationFeed::GenerationFeed(net::io_context& loop, const Database& database)
    : state_(std::make_shared<State>(loop, database)) {}

// Requests still waiting are dropped with the loop that would have answered them.
GenerationFeed::~GenerationFeed() {
  state_->retired = true;
  state_->Close();
}

void GenerationFeed::Enter(std::function<void()> run) { state_->Enter(std::move(run)); }

}  // namespace tessaly::data
