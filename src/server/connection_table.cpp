#include "server/connection_table.h"

#include <utility>

namespace tessaly::server {

ConnectionTable::ConnectionTable(std::size_t max_connections, std::size_t max_per_address)
    : max_connections_(max_connections), max_per_address_(max_per_address) {}

std::list<ConnectionTable::Entry>& ConnectionTable::ListOf(State state) {
  switch (state) {
    case State::kWaiting:
      return waiting_;
    case State::kBusy:
      return busy_;
    case State::kClosing:
      break;
  }
  return closing_;
}

ConnectionTable::Admission ConnectionTable::Admit(std::weak_ptr<void> owner, std::string group) {
  Admission admission;
  if (!group.empty()) {
    std::size_t& count = per_group_[group];
    if (count >= max_per_address_) return admission;
    ++count;
  }
  if (size() >= max_connections_ && !waiting_.empty()) {
    admission.evict = waiting_.front().owner;
    waiting_.front().state = State::kClosing;
    closing_.splice(closing_.end(), waiting_, waiting_.begin());
  }
  waiting_.push_back(Entry{std::move(owner), std::move(group), State::kWaiting});
  admission.handle = std::prev(waiting_.end());
  return admission;
}

void ConnectionTable::Waiting(Handle handle) {
  if (handle->state == State::kClosing) return;
  waiting_.splice(waiting_.end(), ListOf(handle->state), handle);
  handle->state = State::kWaiting;
}

bool ConnectionTable::Busy(Handle handle) {
  if (handle->state == State::kClosing) return false;
  busy_.splice(busy_.end(), ListOf(handle->state), handle);
  handle->state = State::kBusy;
  return true;
}

void ConnectionTable::Remove(Handle handle) {
  if (!handle->group.empty()) {
    const auto it = per_group_.find(handle->group);
    if (it != per_group_.end() && --it->second == 0) per_group_.erase(it);
  }
  ListOf(handle->state).erase(handle);
}

bool ConnectionTable::Full() const { return size() >= max_connections_ && waiting_.empty(); }

std::vector<std::weak_ptr<void>> ConnectionTable::Owners() const {
  std::vector<std::weak_ptr<void>> owners;
  owners.reserve(size());
  for (const auto* list : {&waiting_, &busy_, &closing_}) {
    for (const Entry& entry : *list) owners.push_back(entry.owner);
  }
  return owners;
}

}  // namespace tessaly::server
