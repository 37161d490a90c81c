// Progress of a long command (indexing for search, a copy), shown as it goes: on a terminal,
// one line rewritten in place and ended when the work is done; otherwise, when `log_every` is
// set, a log line at each multiple of `log_every` units and at the end.
#ifndef TESSALY_APP_PROGRESS_H_
#define TESSALY_APP_PROGRESS_H_

#include <cstdint>
#include <functional>
#include <string>

namespace tessaly::app {

class Progress {
 public:
  // `line` gives the text for the units done and in all, e.g. "copied 3 of 9 pages".
  using LineFn = std::function<std::string(std::int64_t done, std::int64_t total)>;
  explicit Progress(LineFn line, std::int64_t log_every = 0);

  // Shows that `done` of `total` units are done.
  void operator()(std::int64_t done, std::int64_t total);

 private:
  const LineFn line_;
  const std::int64_t log_every_;
  const bool terminal_;
  std::int64_t logged_ = 0;
};

}  // namespace tessaly::app

#endif  // TESSALY_APP_PROGRESS_H_
