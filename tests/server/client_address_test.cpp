#include "server/client_address.h"

#include <gtest/gtest.h>

#include "server/url_encoding.h"

namespace tessaly::server {
namespace {

TEST(ClientAddressTest, ForwardedForIsBelievedOnlyFromTrustedProxies) {
  const std::vector<std::string> proxies = {"127.0.0.1", "10.0.0.2"};
  EXPECT_EQ(ClientAddress("127.0.0.1", "198.51.100.4", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("127.0.0.1", "1.1.1.1, 198.51.100.4, 10.0.0.2", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("192.0.2.9", "198.51.100.4", proxies), "192.0.2.9");  // not a proxy
  EXPECT_EQ(ClientAddress("127.0.0.1", "junk, 198.51.100.4", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("127.0.0.1", "198.51.100.4, junk", proxies), "127.0.0.1");
  EXPECT_EQ(ClientAddress("::ffff:127.0.0.1", " 2001:DB8::1 ", proxies), "2001:db8::1");
  EXPECT_EQ(ClientAddress("127.0.0.1", "", proxies), "127.0.0.1");
}

TEST(MaskPasswordsTest, ValuesOfPasswordItemsNeverReachTheLog) {
  EXPECT_EQ(MaskPasswords("/p?action=admin&password=a%20b&chkpassword=&x=1"),
            "/p?action=admin&password=***&chkpassword=***&x=1");
  EXPECT_EQ(MaskPasswords("/p?pass%77ord=secret&passwords=kept"),
            "/p?pass%77ord=***&passwords=kept");
  EXPECT_EQ(MaskPasswords("/p"), "/p");
  EXPECT_EQ(MaskPasswords("/p?password"), "/p?password");
}

}  // namespace
}  // namespace tessaly::server
