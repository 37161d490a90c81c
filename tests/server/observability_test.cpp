// The access log's lines, the route kinds and the metrics' text.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <utility>

#include "server/access_log.h"
#include "server/metrics.h"
#include "server/route_kind.h"

namespace tessaly::server {
namespace {

using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

AccessRecord Record(std::string_view target) {
  return {.time = std::chrono::system_clock::time_point(1'767'323'045'678ms),
          .client = "192.0.2.7",
          .method = "GET",
          .target = target,
          .status = 200,
          .bytes = 1234,
          .duration = 1500us,
          .route = "hotnews",
          .cache_hit = true};
}

TEST(AccessLogTest, TextAndJsonLinesMaskPasswordsAndJsonEscapesEverything) {
  const AccessRecord record = Record("/log/board?action=admin&password=s3cret&chkpassword=x");
  EXPECT_EQ(TextAccessLine(record),
            "192.0.2.7 GET /log/board?action=admin&password=***&chkpassword=*** 200 1234 1.500ms");
  EXPECT_EQ(JsonAccessLine(record),
            R"({"time":"2026-01-02T03:04:05.678Z","client":"192.0.2.7","method":"GET",)"
            R"("target":"/log/board?action=admin&password=***&chkpassword=***","status":200,)"
            R"("bytes":1234,"duration_us":1500,"route":"hotnews","cache_hit":true})");

  // A hostile target stays inside its string: quotes, backslashes, control characters, bytes
  // that are no UTF-8 (a lone continuation byte, a cut sequence, an overlong form).
  const std::string hostile =
      std::string("/a\"b\\c\n\r\t\x01\x7f") + "\x80" + "\xe4\xb8" + "\xc0\xaf" + "日志";
  const std::string line = JsonAccessLine(Record(hostile));
  EXPECT_TRUE(Has(line, R"("target":"/a\"b\\c\u000a\u000d\u0009\u0001\u007f)"
                        "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"
                        "日志\","))
      << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);

  AccessRecord unread = Record("-");
  unread.method = "-";
  unread.cache_hit = false;
  EXPECT_TRUE(Has(JsonAccessLine(unread), R"("method":"-","target":"-",)"));
  EXPECT_TRUE(Has(JsonAccessLine(unread), R"("cache_hit":false})"));
}

TEST(RouteKindsTest, ActionsFromTheKnownSetOnlyAndTheServersOwnKinds) {
  const RouteKinds kinds({"hotnews", "list", "admin"});
  // The query's action first, then the form's; no action is the default page.
  const std::tuple<std::string_view, std::string_view, std::string_view> pages[] = {
      {"", "", "hotnews"},
      {"action=", "", "hotnews"},
      {"move=next&action=list", "", "list"},
      {"action=%6Cist", "", "list"},
      {"", "action=admin&do=logon", "admin"},
      {"action=list", "action=admin", "list"},
      {"action=List", "", "other"},
      {"action=%3Cscript%3E", "", "other"},
  };
  for (const auto& [query, form, name] : pages) {
    EXPECT_EQ(kinds.Name(kinds.OfPage(query, form)), name) << query << " " << form;
  }
  EXPECT_EQ(kinds.size(), 8u);
  for (const auto& [kind, name] : {std::pair{kinds.None(), "none"},
                                   {kinds.Static(), "static"},
                                   {kinds.Include(), "include"},
                                   {kinds.Metrics(), "metrics"}}) {
    EXPECT_EQ(kinds.Name(kind), name);
  }
  for (const auto& [status, name] :
       {std::pair{200, "2xx"}, {304, "3xx"}, {404, "4xx"}, {503, "5xx"}, {999, "5xx"}}) {
    EXPECT_EQ(StatusClassName(StatusClass(status)), name);
  }
}

TEST(MetricsTest, CountsByKindAndClassAndReadsTheOthersAtEachScrape) {
  ServerMetrics metrics(RouteKinds({"hotnews", "list"}));
  const RouteKinds& kinds = metrics.kinds();
  metrics.CountRequest(kinds.OfPage("action=list", ""), 200, 3ms);
  metrics.CountRequest(kinds.OfPage("action=list", ""), 200, 20ms);
  metrics.CountRequest(kinds.None(), 404, 50us);
  metrics.CountBodyBudgetRefusal();
  metrics.CountConnectionRefusal(ConnectionRefusal::kAddressShare);
  double held = 7;
  metrics.AddGauge("tessaly_test_held", "What is held.", [&held] { return held; });
  metrics.AddCounters("tessaly_test_refusals_total", "Refusals.", "cause",
                      {{"busy", [] { return 2.0; }}, {"wrong", [] { return 5.0; }}});

  const std::string text = metrics.Render();
  EXPECT_TRUE(Has(text, "# TYPE tessaly_requests_total counter")) << text;
  EXPECT_TRUE(Has(text, R"(tessaly_requests_total{route="list",status="2xx"} 2)")) << text;
  EXPECT_TRUE(Has(text, R"(tessaly_requests_total{route="none",status="4xx"} 1)")) << text;
  EXPECT_TRUE(Has(text, R"(tessaly_requests_total{route="static",status="2xx"} 0)")) << text;
  EXPECT_TRUE(Has(text, R"(tessaly_request_duration_seconds_bucket{route="list",le="0.005"} 1)"))
      << text;
  EXPECT_TRUE(Has(text, R"(tessaly_request_duration_seconds_count{route="list"} 2)")) << text;
  EXPECT_TRUE(Has(text, "tessaly_body_budget_refusals_total 1")) << text;
  EXPECT_TRUE(Has(text, R"(tessaly_connection_refusals_total{cause="address_share"} 1)")) << text;
  EXPECT_TRUE(Has(text, "# TYPE tessaly_test_held gauge\ntessaly_test_held 7")) << text;
  EXPECT_TRUE(Has(text, R"(tessaly_test_refusals_total{cause="wrong"} 5)")) << text;
  held = 9;
  EXPECT_TRUE(Has(metrics.Render(), "tessaly_test_held 9"));
  // Only the kinds made at start-up are labels: an unknown action is "other".
  EXPECT_FALSE(Has(text, "List"));
}

}  // namespace
}  // namespace tessaly::server
