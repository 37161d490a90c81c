// The threads that run the page requests which read much (searches of the index), apart from
// the event loops that answer every other page and file: however many such requests arrive, the
// loops go on answering the rest at their own rate.
//
// Each thread runs a loop of its own with its own LoopState (made by the server's
// LoopPagesMaker, so it keeps renderings of its own), at a lower scheduling priority than the
// event loops: when the machine is busy, the loops' requests go first. A request is handed to
// the threads in turn. At most kMaxWaitingSlowPages requests per thread wait at once; more are
// refused at once. One that waited longer than kSlowPageWait is not run but refused, so that
// the queue drains at once when the threads cannot keep up. A refusal is the caller's to send
// (503 with Retry-After).
#ifndef TESSALY_SERVER_SLOW_PAGES_H_
#define TESSALY_SERVER_SLOW_PAGES_H_

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "server/loop_state.h"
#include "server/page_run.h"

namespace tessaly::server {

inline constexpr std::size_t kMaxWaitingSlowPages = 64;  // per thread
inline constexpr std::chrono::milliseconds kSlowPageWait{1000};
// Added to the threads' nice value: a busy event loop has about ten times their share of a core.
inline constexpr int kSlowPageNice = 10;

class SlowPages {
 public:
  // `threads` threads (none: Post refuses everything), started at once.
  SlowPages(unsigned threads, const LoopPagesMaker& pages);
  ~SlowPages();  // Stop()
  SlowPages(const SlowPages&) = delete;
  SlowPages& operator=(const SlowPages&) = delete;

  // What a handed-over request is run with: the state of the thread that runs it, or null when
  // it waited too long and is to be refused.
  using Run = std::function<void(LoopState* state)>;

  // Hands `run` to the next thread; false, without calling it, when that thread already has
  // its most waiting. `run` is called exactly once otherwise, on that thread.
  bool Post(Run run);

  // Lets the threads end once what was handed to them has run, and waits for them. Whoever
  // waits for a handed-over request must keep its own loop running until it comes back.
  void Stop();

  std::size_t threads() const { return slots_.size(); }
  // What an operator watches, readable from any thread: the requests running on the threads
  // now, and those refused so far (over the bound, or after waiting too long).
  std::size_t running() const { return running_.load(std::memory_order_relaxed); }
  std::uint64_t refused() const { return refused_.load(std::memory_order_relaxed); }

 private:
  struct Slot {
    EventLoop loop;
    std::atomic<std::size_t> waiting{0};
    std::thread thread;
  };

  std::vector<std::unique_ptr<Slot>> slots_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> running_{0};
  std::atomic<std::uint64_t> refused_{0};
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_SLOW_PAGES_H_
