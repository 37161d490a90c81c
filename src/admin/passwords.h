// Administrator passwords as USERTB keeps them: argon2id strings made by libsodium with its
// interactive limits (64 MiB and some tens of milliseconds per hash), salted, never the clear
// text. A row written by hand may still hold a clear password; it matches by plain comparison
// and is then to be replaced by its hash.
#ifndef TESSALY_ADMIN_PASSWORDS_H_
#define TESSALY_ADMIN_PASSWORDS_H_

#include <functional>
#include <string>
#include <string_view>

namespace tessaly::data {
class Database;
}  // namespace tessaly::data

namespace tessaly::admin {

// The stored form of `password`. Throws Error when libsodium cannot start or the hash cannot
// be made (out of memory).
std::string HashPassword(std::string_view password);

enum class PasswordCheck {
  kWrong,
  kRight,
  kRightStoreAgain,  // right, but stored in clear or with other limits: store a new hash
};

// Creates the administrator `user` with `password`, or gives an existing one that password
// (`tessaly init`). Throws DataError, or Error as HashPassword does.
void StoreAdministrator(data::Database& database, const std::string& user,
                        std::string_view password);

// Checks a typed password against a stored value (a hash, or a clear password made by hand).
PasswordCheck CheckPassword(std::string_view stored, std::string_view typed);

// Costs one hash like CheckPassword and is always kWrong: the answer for a name that has no
// account, so that the time of the answer does not tell which names exist.
PasswordCheck CheckWithoutAccount(std::string_view typed);

// Runs `work` on a thread of its own at a low scheduling priority and waits for it, so that a
// hash yields most of the processor to the threads that serve pages. Rethrows what `work`
// throws.
void RunOnLowPriorityThread(const std::function<void()>& work);

template <typename Work>
auto RunAtLowPriority(Work&& work) -> decltype(work()) {
  decltype(work()) result{};
  RunOnLowPriorityThread([&] { result = work(); });
  return result;
}

}  // namespace tessaly::admin

#endif  // TESSALY_ADMIN_PASSWORDS_H_
