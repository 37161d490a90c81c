#include "server/session_store.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace tessaly::server {
namespace {

using std::chrono::minutes;

class SessionStoreTest : public ::testing::Test {
 protected:
  SessionStore MakeStore(std::size_t max_sessions) {
    return SessionStore(max_sessions, 20, [this] { return now_; });
  }

  std::chrono::steady_clock::time_point now_{std::chrono::hours(1000)};
};

TEST_F(SessionStoreTest, KeepsItemsUntilTheTimeOutSinceLastUse) {
  SessionStore store = MakeStore(10);
  std::string id = store.Create();
  EXPECT_EQ(id.size(), 32u);
  store.SetValue(id, "username", "admin");
  EXPECT_EQ(store.Value(id, "username"), "admin");
  EXPECT_EQ(store.Value(id, "tPage"), "");

  now_ += minutes(19);
  EXPECT_TRUE(store.Touch(id));  // use restarts the clock
  now_ += minutes(19);
  EXPECT_EQ(store.Value(id, "username"), "admin");
  now_ += minutes(20);
  EXPECT_FALSE(store.Touch(id));
  EXPECT_EQ(store.Value(id, "username"), "");
  EXPECT_EQ(store.size(), 0u);
}

TEST_F(SessionStoreTest, NeverAdoptsAnUnknownIdAndRemoves) {
  SessionStore store = MakeStore(10);
  EXPECT_FALSE(store.Touch("0123456789abcdef0123456789abcdef"));
  EXPECT_EQ(store.size(), 0u);
  std::string id = store.Create();
  store.SetValue(id, "a", "1");
  store.Remove(id);
  EXPECT_FALSE(store.Touch(id));
  EXPECT_EQ(store.Value(id, "a"), "");
}

TEST_F(SessionStoreTest, WhenFullDropsExpiredThenLeastRecentlyUsed) {
  SessionStore store = MakeStore(3);
  std::string a = store.Create();
  std::string b = store.Create();
  std::string c = store.Create();
  store.SetTimeout(a, 1);
  EXPECT_TRUE(store.Touch(b));  // least recently used first: c, a, b
  now_ += minutes(2);           // a has expired
  EXPECT_TRUE(store.Touch(c));  // now a, b, c
  std::string d = store.Create();
  EXPECT_EQ(store.size(), 3u);
  EXPECT_FALSE(store.Touch(a));

  std::string e = store.Create();  // nothing expired: b, the least recently used, goes
  EXPECT_EQ(store.size(), 3u);
  EXPECT_FALSE(store.Touch(b));
  EXPECT_TRUE(store.Touch(c));
  EXPECT_TRUE(store.Touch(d));
  EXPECT_TRUE(store.Touch(e));
}

// The cost of a call must not grow with the store: one call drops only a few of the sessions
// that have expired, and a session hidden behind a longer-lived one is still never served.
TEST_F(SessionStoreTest, SweepsExpiredSessionsAFewAtATime) {
  SessionStore store = MakeStore(1000);
  std::string longer = store.Create();
  store.SetTimeout(longer, 120);
  std::vector<std::string> ids;
  for (int i = 0; i < 999; ++i) ids.push_back(store.Create());
  now_ += minutes(30);
  store.Create();
  EXPECT_GT(store.size(), 990u);
  EXPECT_EQ(store.Value(ids.front(), "x"), "");
  EXPECT_FALSE(store.Touch(ids.back()));
  EXPECT_TRUE(store.Touch(longer));
  for (int i = 0; i < 300; ++i) store.Create();
  EXPECT_LT(store.size(), 1000u);  // sweeping outpaces creation once the way is clear
}

TEST(SessionIdTest, IsRandomHex) {
  std::set<std::string> ids;
  for (int i = 0; i < 100; ++i) {
    std::string id = NewSessionId();
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 100u);
}

}  // namespace
}  // namespace tessaly::server
