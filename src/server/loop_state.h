// What one event loop keeps for the requests it serves. The loop owns it and hands it to each
// of its connections; only the loop's thread touches it, so nothing in it takes a lock. Its
// page handler holds what the pages of the loop keep (the public pages' renderings); no other
// per-thread state is hidden in the server.
#ifndef TESSALY_SERVER_LOOP_STATE_H_
#define TESSALY_SERVER_LOOP_STATE_H_

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <optional>
#include <string_view>

#include "server/file_texts.h"
#include "server/page_run.h"
#include "server/response_head.h"
#include "server/session_store.h"
#include "server/static_files.h"

namespace tessaly::server {

struct LoopState {
  LoopPages pages;         // the gate and handler of its page runs (page_run.h)
  HttpDateClock date;      // the Date header of the current second
  SessionIds session_ids;  // the ids of the sessions its pages start
  StaticPaths paths;       // what request paths resolved to
  FileTexts texts;         // small files' texts
};

// One thread's event loop, kept running until `keep` is let go, and what it keeps for its
// requests (declared after the loop, so gone before it).
struct EventLoop {
  boost::asio::io_context io{1};
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> keep{
      io.get_executor()};
  LoopState state;
};

// Runs `io` on the calling thread until it has nothing left to do. An exception that escapes a
// handler is logged, naming the thread as `role`, and the loop goes on.
void RunLoop(boost::asio::io_context& io, std::string_view role);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_LOOP_STATE_H_
