#include "server/slow_pages.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <boost/asio/post.hpp>
#include <utility>

namespace tessaly::server {
namespace {

using Clock = std::chrono::steady_clock;

// Lowers the calling thread's priority alone: on Linux each thread has its own nice value.
void LowerThisThreadsPriority() {
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) ::setpriority(PRIO_PROCESS, tid, nice + kSlowPageNice);
}

}  // namespace

SlowPages::SlowPages(unsigned threads, const LoopPagesMaker& pages) {
  for (unsigned i = 0; i < threads; ++i) {
    slots_.push_back(std::make_unique<Slot>());
    slots_.back()->loop.state.pages = pages(slots_.back()->loop.io);
  }
  for (auto& slot : slots_) {
    slot->thread = std::thread([&io = slot->loop.io] {
      LowerThisThreadsPriority();
      RunLoop(io, "search");
    });
  }
}

SlowPages::~SlowPages() { Stop(); }

bool SlowPages::Post(Run run) {
  if (slots_.empty()) return false;
  Slot& slot = *slots_[next_.fetch_add(1, std::memory_order_relaxed) % slots_.size()];
  if (slot.waiting.fetch_add(1) >= kMaxWaitingSlowPages) {
    slot.waiting.fetch_sub(1);
    refused_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  boost::asio::post(slot.loop.io, [this, &slot, run = std::move(run), asked = Clock::now()] {
    slot.waiting.fetch_sub(1);
    if (Clock::now() - asked > kSlowPageWait) {
      refused_.fetch_add(1, std::memory_order_relaxed);
      return run(nullptr);
    }
    running_.fetch_add(1, std::memory_order_relaxed);
    run(&slot.loop.state);
    running_.fetch_sub(1, std::memory_order_relaxed);
  });
  return true;
}

void SlowPages::Stop() {
  for (auto& slot : slots_) {
    boost::asio::post(slot->loop.io, [&slot = *slot] { slot.loop.keep.reset(); });
  }
  for (auto& slot : slots_) {
    if (slot->thread.joinable()) slot->thread.join();
  }
}

}  // namespace tessaly::server
