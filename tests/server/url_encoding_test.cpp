#include "server/url_encoding.h"

#include <gtest/gtest.h>

namespace tessaly::server {
namespace {

TEST(UrlEncodingTest, DecodesEscapesAndPlusOnlyInForms) {
  EXPECT_EQ(PercentDecode("a%20b+c%2Bd%e6%97%a5", true), "a b c+d日");
  EXPECT_EQ(PercentDecode("a+b%2F", false), "a+b/");
  EXPECT_EQ(PercentDecode("", true), "");
  for (const char* bad : {"%", "%4", "%zz", "a%2", "%%41", "ok%g0"}) {
    EXPECT_FALSE(HasValidEscapes(bad)) << bad;
    EXPECT_FALSE(PercentDecode(bad, true)) << bad;
  }
  EXPECT_TRUE(HasValidEscapes("%41%4a%4A"));
}

TEST(UrlEncodingTest, FindsFormItemsByDecodedNameAndJoinsRepeats) {
  constexpr std::string_view kQuery =
      "action=list&id=1&a%63tion=show&empty=&bare&id=2+3&&x=%E4%B8%AD";
  EXPECT_EQ(FindFormItem(kQuery, "action"), "list, show");
  EXPECT_EQ(FindFormItem(kQuery, "id"), "1, 2 3");
  EXPECT_EQ(FindFormItem(kQuery, "empty"), "");
  EXPECT_EQ(FindFormItem(kQuery, "bare"), "");
  EXPECT_EQ(FindFormItem(kQuery, "x"), "中");
  EXPECT_FALSE(FindFormItem(kQuery, "Action"));  // names are case-sensitive
  EXPECT_FALSE(FindFormItem(kQuery, "act"));
  EXPECT_FALSE(FindFormItem("", "a"));
  EXPECT_EQ(FindFormItem("a=1=2", "a"), "1=2");
}

TEST(UrlEncodingTest, ReadsCookies) {
  constexpr std::string_view kHeader =
      "TSESSIONID=abc; action=list;other = \"q v\" ;action=a%20b; x";
  EXPECT_EQ(FindCookie(kHeader, "TSESSIONID"), "abc");
  EXPECT_EQ(FindCookie(kHeader, "action"), "list, a b");
  EXPECT_EQ(FindCookie(kHeader, "other"), "q v");
  EXPECT_FALSE(FindCookie(kHeader, "x"));
  EXPECT_FALSE(FindCookie("", "x"));
}

TEST(UrlEncodingTest, RecognisesFormContentType) {
  EXPECT_TRUE(IsFormContentType("application/x-www-form-urlencoded"));
  EXPECT_TRUE(IsFormContentType("Application/X-WWW-Form-Urlencoded; charset=UTF-8"));
  EXPECT_FALSE(IsFormContentType("multipart/form-data; boundary=x"));
  EXPECT_FALSE(IsFormContentType("application/x-www-form-urlencodedx"));
  EXPECT_FALSE(IsFormContentType(""));
}

}  // namespace
}  // namespace tessaly::server
