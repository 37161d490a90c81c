// Logging on and changing the password over HTTP: names and passwords are matched exactly and
// stored as hashes, and a client address that keeps guessing is shut out alone.
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

  for (const auto& [name, password] :
       {std::pair{"", "secret"}, {"admin", ""}, {"  ", "secret"}, {"admin", "   "}}) {
    EXPECT_NE(LogOn(visitor, name, password).find("请输入 账号 和 密码 ！"), std::string::npos);
  }
  // Four wrong ones at most in a row: a fifth would shut this client out.
  for (const auto& [name, password] : {std::pair{"admin", "Secret"},
                                       {"admin ", "secret"},
                                       {"admin", "' or '1'='1"},
                                       {"' or '1'='1' --", "x"}}) {
    EXPECT_TRUE(IsWrongAccount(LogOn(visitor, name, password))) << name << "|" << password;
  }
  // Not logged on by any of them.
  EXPECT_TRUE(IsLoginForm(visitor.Post(AdminPage("dodel"), "").body));

  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "o'brien", "it's")));
  EXPECT_TRUE(IsControlPanel(visitor.Post(AdminPage("dodel"), "").body));
  EXPECT_TRUE(IsWrongAccount(LogOn(visitor, "nobody", "secret")));

  // A row made by hand in clear is matched once, then holds a hash.
  EXPECT_TRUE(IsWrongAccount(LogOn(visitor, "hand", "Made")));
  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "hand", "made")));
  EXPECT_TRUE(StoredPassword(site, "hand").starts_with("$argon2id$"));
  EXPECT_TRUE(IsControlPanel(LogOn(visitor, "hand", "made")));
}

TEST(AdminLogonTest, PasswordChange) {
  Site site;
  Server server({"--root", site.root().string()});
  Visitor stranger(server);
  EXPECT_TRUE(IsLoginForm(stranger.Get(AdminPage("dopassword&password=x&chkpassword=x")).body));

  Visitor admin(server);
  ASSERT_TRUE(IsControlPanel(LogOn(admin, "admin", "secret")));
  const auto change = [&](const std::string& password, const std::string& check) {
    return admin
        .Post(AdminPage("dopassword"), Form({{"password", password}, {"chkpassword", check}}))
        .body;
  };
  EXPECT_NE(change("new pw", "New pw").find("请核实 <b>密码</b> 和 <b>校验密码</b> 是否相同"),
            std::string::npos);
  testing::ExpectGolden(change("new pw ", "new pw"), "admin_password_changed.html");
  EXPECT_TRUE(StoredPassword(site, "admin").starts_with("$argon2id$"));

  Visitor other(server);
  EXPECT_TRUE(IsWrongAccount(LogOn(other, "admin", "secret")));
  EXPECT_TRUE(IsWrongAccount(LogOn(other, "admin", "new pw")));
  EXPECT_TRUE(IsControlPanel(LogOn(other, "admin", "new pw ")));

  // A plain link does it too.
  EXPECT_NE(admin.Get(AdminPage("dopassword&password=third&chkpassword=third"))
                .body.find("密码已更新成功了！"),
            std::string::npos);
  EXPECT_TRUE(IsControlPanel(LogOn(other, "admin", "third")));
}

TEST(AdminLogonTest, FiveFailuresShutOutOneClientAddressOnly) {
  Site site;
  Server server({"--root", site.root().string()});
  Visitor three(server, "127.0.0.3"), two(server, "127.0.0.2"), four(server, "127.0.0.4");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(IsWrongAccount(LogOn(three, "admin", "guess")));
  EXPECT_TRUE(IsControlPanel(LogOn(three, "admin", "secret")));

  const std::string wrong = LogOn(two, "admin", "guess");
  EXPECT_TRUE(IsWrongAccount(wrong));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(LogOn(two, "admin", "guess"), wrong);
  EXPECT_EQ(LogOn(two, "admin", "secret"), wrong);  // shut out, unchecked
  EXPECT_TRUE(IsControlPanel(LogOn(four, "admin", "secret")));
}

}  // namespace
}  // namespace tessaly::e2e
