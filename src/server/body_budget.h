// The memory that the bodies of requests being read may hold together, shared by all
// connections, so that many clients sending large bodies at once cannot exhaust the machine.
// A connection reserves what a body may grow to before reading it and gives it back when the
// request is done. Thread-safe.
#ifndef TESSALY_SERVER_BODY_BUDGET_H_
#define TESSALY_SERVER_BODY_BUDGET_H_

#include <atomic>
#include <cstddef>

namespace tessaly::server {

class BodyBudget {
 public:
  explicit BodyBudget(std::size_t limit) : limit_(limit) {}

  std::size_t in_use() const { return used_.load(); }

 private:
  friend class BodyReservation;
  bool Take(std::size_t bytes);  // false, taking nothing, when it would pass the limit
  void Give(std::size_t bytes);

  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

// The share of a BodyBudget that one request holds; given back when it is destroyed or
// replaced.
class BodyReservation {
 public:
  BodyReservation() = default;
  BodyReservation(BodyReservation&& other) noexcept;
  BodyReservation& operator=(BodyReservation&& other) noexcept;
  ~BodyReservation();

  // Holds `bytes` in all from `budget` (the same budget every time); keeps what it holds when
  // that is already as much. False, holding what it held, when the budget cannot give more.
  bool GrowTo(BodyBudget& budget, std::size_t bytes);

 private:
  void Release();

  BodyBudget* budget_ = nullptr;
  std::size_t bytes_ = 0;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_BODY_BUDGET_H_
