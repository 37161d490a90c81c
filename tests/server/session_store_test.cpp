#include "server/session_store.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace tessaly::server {
namespace {

using std::chrono::minutes;

// Time passes when a test says so.
class SessionStoreTest : public ::testing::Test {
 protected:
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1000)};
  const SessionStore::Clock clock_ = [this] { return now_; };
};

TEST_F(SessionStoreTest, KeepsItemsUntilTheTimeOutSinceLastUse) {
  SessionStore store(10, 20, clock_);
  const std::string id = store.Create();
  store.SetValue(id, "username", "admin");
  now_ += minutes(19);
  EXPECT_TRUE(store.Touch(id));  // use restarts the clock
  now_ += minutes(19);
  EXPECT_EQ(store.Value(id, "username"), "admin");
  now_ += minutes(20);
  EXPECT_FALSE(store.Touch(id));
  EXPECT_EQ(store.Value(id, "username"), "");
  EXPECT_EQ(store.size(), 0u);
}

TEST_F(SessionStoreTest, WhenFullDropsExpiredThenLeastRecentlyUsed) {
  SessionStore store(3, 20, clock_);
  std::string a = store.Create();
  std::string b = store.Create();
  std::string c = store.Create();
  store.SetTimeout(a, 1);
  EXPECT_TRUE(store.Touch(b));  // least recently used first: c, a, b
  now_ += minutes(2);           // a has expired
  store.SetTimeout(c, 60);      // now a, b, c, each time-out in a queue of its own
  std::string d = store.Create();
  EXPECT_EQ(store.size(), 3u);
  EXPECT_FALSE(store.Touch(a));

  std::string e = store.Create();  // nothing expired: b, the least recently used, goes
  EXPECT_EQ(store.size(), 3u);
  EXPECT_FALSE(store.Touch(b));
  for (const std::string& kept : {c, d, e}) EXPECT_TRUE(store.Touch(kept));
}

// The cost of a call must not grow with the store: one call drops only a few of the sessions
// that have expired, and a session hidden behind a longer-lived one is still never served.
TEST_F(SessionStoreTest, SweepsExpiredSessionsAFewAtATime) {
  SessionStore store(1000, 20, clock_);
  std::string longer = store.Create();
  store.SetTimeout(longer, 120);
  std::vector<std::string> ids;
  for (int i = 0; i < 999; ++i) ids.push_back(store.Create());
  EXPECT_EQ(std::set(ids.begin(), ids.end()).size(), 999u);  // ids are never handed out twice
  now_ += minutes(30);
  store.Create();
  EXPECT_GT(store.size(), 990u);
  EXPECT_EQ(store.Value(ids.front(), "x"), "");
  EXPECT_FALSE(store.Touch(ids.back()));
  EXPECT_TRUE(store.Touch(longer));
  for (int i = 0; i < 300; ++i) store.Create();
  EXPECT_LT(store.size(), 1000u);  // sweeping outpaces creation once the way is clear
}

}  // namespace
}  // namespace tessaly::server
