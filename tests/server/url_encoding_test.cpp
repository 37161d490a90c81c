// What a request carries: its url-encoded texts, and who sent it.
#include "server/url_encoding.h"

#include <gtest/gtest.h>

#include "server/client_address.h"

namespace tessaly::server {
namespace {

TEST(UrlEncodingTest, DecodesEscapesAndPlusOnlyInForms) {
  EXPECT_EQ(PercentDecode("a%20b+c%2Bd%e6%97%a5", true), "a b c+d日");
  EXPECT_EQ(PercentDecode("a+b%2F", false), "a+b/");
  for (const char* bad : {"%", "%4", "%zz", "a%2", "%%41", "ok%g0"}) {
    EXPECT_FALSE(HasValidEscapes(bad)) << bad;
    EXPECT_FALSE(PercentDecode(bad, true)) << bad;
  }
}

TEST(UrlEncodingTest, FindsFormItemsAndCookiesByDecodedNameAndJoinsRepeats) {
  constexpr std::string_view kQuery = "action=list&id=1&a%63tion=show&empty=&bare&id=2+3&&a=1=2";
  EXPECT_EQ(FindFormItem(kQuery, "action"), "list, show");
  EXPECT_EQ(FindFormItem(kQuery, "id"), "1, 2 3");
  EXPECT_EQ(FindFormItem(kQuery, "empty"), "");
  EXPECT_EQ(FindFormItem(kQuery, "bare"), "");
  EXPECT_EQ(FindFormItem(kQuery, "a"), "1=2");
  EXPECT_FALSE(FindFormItem(kQuery, "Action"));  // names are case-sensitive
  EXPECT_FALSE(FindFormItem(kQuery, "act"));

  constexpr std::string_view kCookies =
      "TSESSIONID=abc; action=list;other = \"q v\" ;action=a%20b; x";
  EXPECT_EQ(FindCookie(kCookies, "TSESSIONID"), "abc");
  EXPECT_EQ(FindCookie(kCookies, "action"), "list, a b");
  EXPECT_EQ(FindCookie(kCookies, "other"), "q v");
  EXPECT_FALSE(FindCookie(kCookies, "x"));

  // A form is one in any case, with parameters or not.
  EXPECT_TRUE(IsFormContentType("Application/X-WWW-Form-Urlencoded; charset=UTF-8"));
  EXPECT_FALSE(IsFormContentType("application/x-www-form-urlencodedx"));
}

TEST(UrlEncodingTest, ValuesOfPasswordItemsNeverReachTheLog) {
  EXPECT_EQ(MaskPasswords("/p?action=admin&pass%77ord=a%20b&chkpassword=&passwords=kept&password"),
            "/p?action=admin&pass%77ord=***&chkpassword=***&passwords=kept&password");
  EXPECT_EQ(MaskPasswords("/p"), "/p");
}

TEST(ClientAddressTest, ForwardedForIsBelievedOnlyFromTrustedProxies) {
  const std::vector<std::string> proxies = {"127.0.0.1", "10.0.0.2"};
  EXPECT_EQ(ClientAddress("127.0.0.1", "1.1.1.1, 198.51.100.4, 10.0.0.2", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("192.0.2.9", "198.51.100.4", proxies), "192.0.2.9");  // not a proxy
  EXPECT_EQ(ClientAddress("127.0.0.1", "junk, 198.51.100.4", proxies), "198.51.100.4");
  EXPECT_EQ(ClientAddress("127.0.0.1", "198.51.100.4, junk", proxies), "127.0.0.1");
  EXPECT_EQ(ClientAddress("::ffff:127.0.0.1", " 2001:DB8::1 ", proxies), "2001:db8::1");
  EXPECT_EQ(ClientAddress("127.0.0.1", "", proxies), "127.0.0.1");
}

}  // namespace
}  // namespace tessaly::server
