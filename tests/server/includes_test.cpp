#include "server/includes.h"

#include <gtest/gtest.h>

#include <map>

namespace tessaly::server {
namespace {

TEST(IncludesTest, TargetsStayOnTheSite) {
  auto path = [](std::string_view page, std::string_view target) {
    auto resolved = ResolveInclude(page, target);
    return resolved ? resolved->path + "?" + resolved->query : std::string("refused");
  };
  EXPECT_EQ(path("/index.shtml", "/log/board?action=hotnews"), "/log/board?action=hotnews");
  EXPECT_EQ(path("/news/index.shtml", "part.html"), "/news/part.html?");
  EXPECT_EQ(path("/news/index.shtml", "../log/%62oard?x=%41"), "/log/board?x=%41");
  EXPECT_EQ(path("/a/b.shtml", "./c/./d/"), "/a/c/d/?");
  for (const char* bad : {"http://evil/x", "//evil/x", "javascript:alert(1)", "/../etc/passwd",
                          "../../x", "/a%zz", "/a\\b", "/a%00b", ""}) {
    EXPECT_EQ(path("/a/b.shtml", bad), "refused") << bad;
  }
}

TEST(IncludesTest, ExpandsNestsAndNeverLoops) {
  std::map<std::string, std::string> site = {
      {"/block", "[block]"},
      {"/outer.shtml", "(<!--#include virtual=\"/inner.shtml\" -->)"},
      {"/inner.shtml",
       "<!--#include virtual=\"/block\" --><!--#include virtual=\"/outer.shtml\" -->"},
      {"/deep.shtml", "<!--#include virtual=\"/deep2.shtml\" -->"}};
  for (int i = 2; i < 9; ++i) {
    site["/deep" + std::to_string(i) + ".shtml"] =
        "<!--#include virtual=\"/deep" + std::to_string(i + 1) + ".shtml\" -->";
  }
  std::function<Fetched(const IncludeTarget&, int, const std::vector<std::string>&)> fetch_in;
  fetch_in = [&](const IncludeTarget& target, int depth, const std::vector<std::string>& chain) {
    auto it = site.find(target.path);
    if (it == site.end()) return Fetched{false, "not found"};
    std::vector<std::string> next = chain;
    next.push_back(target.path);
    return Fetched{
        true, ExpandIncludes(it->second, target.path, depth + 1, next,
                             [&](const IncludeTarget& t, int d) { return fetch_in(t, d, next); })};
  };
  auto expand = [&](const std::string& page) {
    return ExpandIncludes(site.at(page), page, 1, {},
                          [&](const IncludeTarget& t, int d) { return fetch_in(t, d, {page}); });
  };
  EXPECT_EQ(expand("/outer.shtml"), "([block]<!-- include failed: includes itself -->)");
  EXPECT_NE(expand("/deep.shtml").find("<!-- include failed: nested too deep -->"),
            std::string::npos);
  site["/x.shtml"] =
      "a<!--#include virtual=\"/nosuch\" -->b<!--#include file=\"/block\" -->c"
      "<!--#include virtual=\"http://evil/\" -->d<!-- plain -->";
  EXPECT_EQ(expand("/x.shtml"),
            "a<!-- include failed: not found -->b<!--#include file=\"/block\" -->c"
            "<!-- include failed: refused target -->d<!-- plain -->");
}

}  // namespace
}  // namespace tessaly::server
