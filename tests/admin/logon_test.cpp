// The pieces of the logon that hold no page: password hashes, the count of failed logons per
// client address (on a clock the test moves) and the hash slots.
#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/resource.h>
#include <unistd.h>

#include "admin/passwords.h"
#include "base/errors.h"
#include "pages/logon_guard.h"

namespace tessaly {
namespace {

using admin::CheckPassword;
using admin::PasswordCheck;
using std::chrono::minutes;

TEST(PasswordsTest, HashesAreSaltedAndClearRowsAreToBeStoredAgain) {
  const std::string hash = admin::HashPassword("it's a secret");
  EXPECT_TRUE(hash.starts_with("$argon2id$")) << hash;
  EXPECT_NE(admin::HashPassword("it's a secret"), hash);
  EXPECT_EQ(CheckPassword(hash, "it's a secret"), PasswordCheck::kRight);
  for (const char* wrong : {"It's a secret", "it's a secret ", "", "' or '1'='1"}) {
    EXPECT_EQ(CheckPassword(hash, wrong), PasswordCheck::kWrong) << wrong;
  }
  EXPECT_EQ(CheckPassword("$argon2id$v=19$broken", "x"), PasswordCheck::kWrong);

  // A row written by hand holds the clear password.
  EXPECT_EQ(CheckPassword("plain", "plain"), PasswordCheck::kRightStoreAgain);
  EXPECT_EQ(CheckPassword("plain", "plain "), PasswordCheck::kWrong);
  EXPECT_EQ(CheckPassword("plain", "Plain"), PasswordCheck::kWrong);

  // A hash made with weaker limits than today's is replaced too.
  char weak[crypto_pwhash_STRBYTES];
  ASSERT_EQ(crypto_pwhash_str_alg(weak, "pw", 2, crypto_pwhash_OPSLIMIT_MIN,
                                  crypto_pwhash_MEMLIMIT_MIN, crypto_pwhash_ALG_ARGON2ID13),
            0);
  EXPECT_EQ(CheckPassword(weak, "pw"), PasswordCheck::kRightStoreAgain);
  EXPECT_EQ(admin::CheckWithoutAccount("pw"), PasswordCheck::kWrong);
}

TEST(PasswordsTest, HashesRunOnALowPriorityThread) {
  const int page_nice = getpriority(PRIO_PROCESS, 0);
  EXPECT_GT(admin::RunAtLowPriority([] { return getpriority(PRIO_PROCESS, 0); }), page_nice);
  EXPECT_NE(admin::RunAtLowPriority([] { return gettid(); }), gettid());
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), page_nice);
  EXPECT_THROW(admin::RunAtLowPriority([]() -> int { throw Error("x"); }), Error);
}

class LogonGuardTest : public ::testing::Test {
 protected:
  pages::LogonGuard Guard(pages::LogonLimits limits = {}) {
    return pages::LogonGuard(limits, [this] { return now_; });
  }
  std::chrono::steady_clock::time_point now_;
};

TEST_F(LogonGuardTest, FiveFailuresWithinFifteenMinutesCloseOneAddress) {
  pages::LogonGuard guard = Guard();
  for (int i = 0; i < 4; ++i, now_ += minutes(1)) {
    guard.RecordFailure("10.0.0.1");
    EXPECT_FALSE(guard.Closed("10.0.0.1")) << i;
  }
  guard.RecordFailure("10.0.0.1");  // the fifth, 4 minutes after the first
  EXPECT_TRUE(guard.Closed("10.0.0.1"));
  EXPECT_FALSE(guard.Closed("10.0.0.2"));
  now_ += minutes(10);  // 14 minutes after the first failure
  EXPECT_TRUE(guard.Closed("10.0.0.1"));
  now_ += minutes(1);  // the first failure has left the window
  EXPECT_FALSE(guard.Closed("10.0.0.1"));
  guard.RecordFailure("10.0.0.1");  // with the four still in the window
  EXPECT_TRUE(guard.Closed("10.0.0.1"));
  guard.RecordSuccess("10.0.0.1");
  EXPECT_FALSE(guard.Closed("10.0.0.1"));

  // Failures spread wider than the window never close an address.
  for (int i = 0; i < 20; ++i, now_ += minutes(4)) guard.RecordFailure("10.0.0.3");
  EXPECT_FALSE(guard.Closed("10.0.0.3"));
}

TEST_F(LogonGuardTest, TracksABoundedNumberOfAddresses) {
  pages::LogonGuard guard = Guard({.failures = 2, .addresses = 3});
  guard.RecordFailure("a");
  guard.RecordFailure("b");
  guard.RecordFailure("a");  // "a" is now the latest to fail, "b" the least recent
  guard.RecordFailure("c");
  guard.RecordFailure("d");  // a fourth address: "b" is forgotten
  EXPECT_TRUE(guard.Closed("a"));
  guard.RecordFailure("b");  // counts from one again; now "a" is the least recent to fail
  EXPECT_FALSE(guard.Closed("b"));
  EXPECT_FALSE(guard.Closed("a"));
}

TEST_F(LogonGuardTest, HashSlotsAreOneFewerThanTheThreadsAndNeverWait) {
  EXPECT_EQ(pages::LogonGuard::HashSlotsFor(1), 1u);
  EXPECT_EQ(pages::LogonGuard::HashSlotsFor(2), 1u);
  EXPECT_EQ(pages::LogonGuard::HashSlotsFor(8), 7u);
  EXPECT_GE(pages::LogonGuard::HashSlotsFor(0), 1u);

  pages::LogonGuard guard = Guard({.hash_slots = 2});
  auto first = guard.TryHashSlot();
  auto second = guard.TryHashSlot();
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(guard.TryHashSlot());
  first.reset();
  EXPECT_TRUE(guard.TryHashSlot());
}

}  // namespace
}  // namespace tessaly
