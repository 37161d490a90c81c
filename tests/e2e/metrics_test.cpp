// What an operator watches: the metrics, as requests are made and refused, and the access log as
// JSON lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "e2e/harness.h"

namespace tessaly::e2e {
namespace {

// The series of a metrics text by name and labels, as written ("name{a=\"b\"}").
std::map<std::string, double> Series(const std::string& text) {
  std::map<std::string, double> series;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.front() == '#') continue;
    const std::size_t space = line.rfind(' ');
    series[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return series;
}

TEST(MetricsTest, CountRequestsAndRefusalsAndAnswerOnlyTheAllowedAddresses) {
  Site site;
  support::FillEntries(site.database(), 3);
  std::ofstream(site.root() / "style.css") << "b{}";
  const std::string log = (site.root() / "access.log").string();
  const std::string config = (site.root() / "tessaly.toml").string();
  std::ofstream(config) << "access_log = \"" << log << "\"\naccess_log_format = \"json\"\n"
                        << "trusted_proxies = [\"127.0.0.1\"]\n"
                        << "[limits]\nmax_connections_per_address = 2\n";
  // One thread, whose renderings every request finds.
  Server server(site, {"--config", config, "--threads", "1"});
  const auto scrape = [&server] {
    const HttpResponse answer = server.Get("/metrics");
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.Header("Content-Type").starts_with("text/plain; version=0.0.4"));
    return Series(answer.body);
  };
  auto before = scrape();

  EXPECT_EQ(server.Get("/nothing-here").status, 404);
  EXPECT_EQ(server.Get("/style.css").status, 200);
  EXPECT_EQ(server.Get("/log/board?action=list").status, 200);
  EXPECT_EQ(server.Get("/log/board?action=list").status, 200);  // from the kept rendering
  EXPECT_TRUE(IsWrongAccount(Visitor(server).LogOn("admin", "wrong")));
  Visitor(server).Post(AdminPage("logon"), Form({{"username", "admin"}}));  // no password
  {
    const auto first = ConnectFrom(server.port(), "127.0.0.3");
    const auto second = ConnectFrom(server.port(), "127.0.0.3");
    EXPECT_EQ(Fetch(server.port(), GetRequest("/style.css"), "127.0.0.3").status, 503);
  }

  auto after = scrape();
  const auto grew = [&](const std::string& series) { return after[series] - before[series]; };
  EXPECT_EQ(grew(R"(tessaly_requests_total{route="none",status="4xx"})"), 1);
  EXPECT_EQ(grew(R"(tessaly_requests_total{route="static",status="2xx"})"), 1);
  EXPECT_EQ(grew(R"(tessaly_requests_total{route="list",status="2xx"})"), 2);
  EXPECT_EQ(grew(R"(tessaly_requests_total{route="admin",status="2xx"})"), 2);
  EXPECT_EQ(grew(R"(tessaly_requests_total{route="metrics",status="2xx"})"), 1);
  EXPECT_EQ(grew(R"(tessaly_request_duration_seconds_count{route="list"})"), 2);
  EXPECT_EQ(grew(R"(tessaly_logon_refusals_total{cause="wrong_account"})"), 1);
  EXPECT_EQ(grew(R"(tessaly_logon_refusals_total{cause="missing"})"), 1);
  EXPECT_EQ(grew(R"(tessaly_connection_refusals_total{cause="address_share"})"), 1);
  EXPECT_GE(grew("tessaly_cache_hits_total"), 1);
  EXPECT_GE(grew("tessaly_cache_misses_total"), 1);
  EXPECT_GT(after["tessaly_cache_bytes"], 0);
  EXPECT_GE(after["tessaly_db_pool_connections"], 1);
  EXPECT_EQ(after["tessaly_searches_running"], 0);
  EXPECT_EQ(after.count("tessaly_sessions"), 1u);
  EXPECT_EQ(after.count("tessaly_node_lease_holds"), OnPostgres() ? 1u : 0u);

  // Any other client hears of no metrics, also one that a trusted proxy on loopback forwards.
  const HttpResponse other = Fetch(server.port(), GetRequest("/metrics"), "127.0.0.2");
  EXPECT_EQ(other.status, 404);
  EXPECT_FALSE(Has(other.body, "tessaly_")) << other.body;
  EXPECT_EQ(server.Get("/metrics", "X-Forwarded-For: 198.51.100.66\r\n").status, 404);
  EXPECT_EQ(server.Get("/metrics?x=1").status, 200);  // the path counts, not the query

  // Every access-log line is one JSON object; what a line holds is AccessLogTest's.
  EXPECT_EQ(server.Stop(), 0);
  const std::string check =
      "/usr/bin/python3 -c 'import json,sys\n"
      "lines = open(sys.argv[1]).read().splitlines()\n"
      "records = [json.loads(line) for line in lines]\n"
      "assert len(records) >= 9, len(records)\n"
      "assert records[0][\"route\"] == \"metrics\", records[0]\n"
      "assert any(r[\"cache_hit\"] for r in records)\n"
      "' " +
      log;
  EXPECT_EQ(std::system(check.c_str()), 0) << support::ReadFile(log);
}

}  // namespace
}  // namespace tessaly::e2e
