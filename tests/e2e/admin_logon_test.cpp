// Logging on and changing the password over HTTP: names and passwords are matched exactly and
// stored as hashes, and a client address that keeps guessing is shut out alone. The hashes and
// the guard's clock are in tests/admin.
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "support/entries.h"
#include "support/golden.h"

namespace tessaly::e2e {
namespace {

std::string StoredPassword(const Site& site, const std::string& name) {
  return testing::Sql(site.database(), "SELECT PASSWORD FROM USERTB WHERE USERNAME = ?", {name});
}

TEST(AdminLogonTest, NamesAndPasswordsAreMatchedExactlyAndStoredHashed) {
  Site site;
  ASSERT_EQ(RunTessaly(
                {"init", "--root", site.root().string(), "--user", "o'brien", "--password", "it's"})
                .status,
            0);
  testing::Sql(site.database(), "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES ('hand', 'made')");
  EXPECT_TRUE(StoredPassword(site, "admin").starts_with("$argon2id$"));
  Server server({"--root", site.root().string()});
  Visitor visitor(server);

  for (const auto& [name, password] : {std::pair{"", "secret"}, {"admin", "   "}}) {
    EXPECT_TRUE(Has(LogOn(visitor, name, password), "请输入 账号 和 密码 ！"));
  }
  // Four wrong ones at most in a row: a fifth would shut this client out.
  for (const auto& [name, password] : {std::pair{"admin", "Secret"},
                                       {"admin ", "secret"},
                                       {"admin", "' or '1'='1"},
                                       {"' or '1'='1' --", "x"}}) {
    EXPECT_TRUE(IsWrongAccount(LogOn(visitor, name, password))) << name << "|" << password;
  }
  EXPECT_TRUE(IsLoginForm(visitor.Post(AdminPage("dodel"), "").body));  // logged on by none
  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "o'brien", "it's")));
  EXPECT_TRUE(IsControlPanel(visitor.Post(AdminPage("dodel"), "").body));

  // A row made by hand in clear is matched once, then holds a hash.
  EXPECT_TRUE(IsWrongAccount(LogOn(visitor, "hand", "Made")));
  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "hand", "made")));
  EXPECT_TRUE(StoredPassword(site, "hand").starts_with("$argon2id$"));
  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "hand", "made")));
}

// Five failures shut out one client address only; a success before the fifth clears them.
TEST(AdminLogonTest, PasswordChangeAndFiveFailuresShutOutOneClientAddressOnly) {
  Site site;
  Server server({"--root", site.root().string()});
  Visitor stranger(server);
  EXPECT_TRUE(IsLoginForm(stranger.Get(AdminPage("dopassword&password=x&chkpassword=x")).body));

  Visitor admin(server, "127.0.0.3");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(IsWrongAccount(LogOn(admin, "admin", "guess")));
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const auto change = [&](const std::string& password, const std::string& check) {
    return admin
        .Post(AdminPage("dopassword"), Form({{"password", password}, {"chkpassword", check}}))
        .body;
  };
  EXPECT_TRUE(Has(change("new pw", "New pw"), "请核实 <b>密码</b> 和 <b>校验密码</b> 是否相同"));
  testing::ExpectGolden(change("new pw ", "new pw"), "admin_password_changed.html");
  EXPECT_TRUE(StoredPassword(site, "admin").starts_with("$argon2id$"));
  Visitor other(server, "127.0.0.4");
  EXPECT_TRUE(IsWrongAccount(LogOn(other, "admin", "secret")));
  EXPECT_TRUE(IsControlPanel(LogOn(other, "admin", "new pw ")));
  // A plain link does it too.
  EXPECT_TRUE(Has(admin.Get(AdminPage("dopassword&password=third&chkpassword=third")).body,
                  "密码已更新成功了！"));
  EXPECT_TRUE(IsControlPanel(LogOn(other, "admin", "third")));

  Visitor two(server, "127.0.0.2");
  const std::string wrong = LogOn(two, "admin", "guess");
  EXPECT_TRUE(IsWrongAccount(wrong));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(LogOn(two, "admin", "guess"), wrong);
  EXPECT_EQ(LogOn(two, "admin", "third"), wrong);  // shut out, unchecked
  EXPECT_TRUE(IsControlPanel(LogOn(other, "admin", "third")));
}

}  // namespace
}  // namespace tessaly::e2e
