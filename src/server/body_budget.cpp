#include "server/body_budget.h"

#include <utility>

namespace tessaly::server {

bool BodyBudget::Take(std::size_t bytes) {
  std::size_t used = used_.load();
  do {
    if (bytes > limit_ - used) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

void BodyBudget::Give(std::size_t bytes) { used_.fetch_sub(bytes); }

BodyReservation::BodyReservation(BodyReservation&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

BodyReservation& BodyReservation::operator=(BodyReservation&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

BodyReservation::~BodyReservation() { Release(); }

bool BodyReservation::GrowTo(BodyBudget& budget, std::size_t bytes) {
  if (bytes <= bytes_) return true;
  if (!budget.Take(bytes - bytes_)) return false;
  budget_ = &budget;
  bytes_ = bytes;
  return true;
}

void BodyReservation::Release() {
  if (budget_ && bytes_ > 0) budget_->Give(bytes_);
  budget_ = nullptr;
  bytes_ = 0;
}

}  // namespace tessaly::server
