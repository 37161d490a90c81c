#include "admin/passwords.h"

#include <sodium.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <thread>

#include "base/errors.h"
#include "data/database.h"
#include "data/recordset.h"

namespace tessaly::admin {
namespace {

constexpr unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

// Ten nice steps below a busy page thread, a hash gets about a tenth of a processor's time: the
// pages lose a few percent, and a logon on a saturated server still ends within seconds. At the
// lowest priority it would get a hundredth and a logon could take half a minute.
constexpr int kHashNiceSteps = 10;

void StartSodium() {
  if (sodium_init() < 0) throw Error("libsodium could not start");
}

bool IsHash(std::string_view stored) {
  return stored.starts_with(crypto_pwhash_argon2id_STRPREFIX) ||
         stored.starts_with(crypto_pwhash_argon2i_STRPREFIX);
}

}  // namespace

std::string HashPassword(std::string_view password) {
  StartSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), kOpsLimit, kMemLimit,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw Error("the password could not be hashed (out of memory)");
  }
  return hash;
}

void StoreAdministrator(data::Database& database, const std::string& user,
                        std::string_view password) {
  data::Command(database.Acquire())
      .Execute(
          "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES (?, ?) "
          "ON CONFLICT (USERNAME) DO UPDATE SET PASSWORD = excluded.PASSWORD",
          {user, HashPassword(password)});
}

PasswordCheck CheckPassword(std::string_view stored, std::string_view typed) {
  StartSodium();
  if (!IsHash(stored)) {
    const bool same = stored.size() == typed.size() &&
                      sodium_memcmp(stored.data(), typed.data(), typed.size()) == 0;
    return same ? PasswordCheck::kRightStoreAgain : PasswordCheck::kWrong;
  }
  // crypto_pwhash_str_verify wants a terminated string of bounded length.
  if (stored.size() >= crypto_pwhash_STRBYTES) return PasswordCheck::kWrong;
  const std::string hash(stored);
  if (crypto_pwhash_str_verify(hash.c_str(), typed.data(), typed.size()) != 0) {
    return PasswordCheck::kWrong;
  }
  return crypto_pwhash_str_needs_rehash(hash.c_str(), kOpsLimit, kMemLimit) == 0
             ? PasswordCheck::kRight
             : PasswordCheck::kRightStoreAgain;
}

PasswordCheck CheckWithoutAccount(std::string_view typed) {
  static const std::string kNobody = HashPassword("no account has this password");
  CheckPassword(kNobody, typed);
  return PasswordCheck::kWrong;
}

void RunOnLowPriorityThread(const std::function<void()>& work) {
  std::exception_ptr failure;
  std::thread worker([&] {
    // Linux keeps the nice value per thread: only this worker is lowered. Failing to lower it
    // only costs the pages some speed, so the result is not checked.
    const id_t self = static_cast<id_t>(gettid());
    (void)setpriority(PRIO_PROCESS, self,
                      std::min(19, getpriority(PRIO_PROCESS, self) + kHashNiceSteps));
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tessaly::admin
