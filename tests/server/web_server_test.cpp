// The server over a real loopback socket: what only the connection handling decides.
#include "server/web_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "base/errors.h"
#include "support/http_client.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

using tessaly::testing::HttpConnection;
using tessaly::testing::HttpResponse;
using tessaly::testing::TempDir;

std::string Get(std::string_view target, std::string_view extra_headers = "") {
  return "GET " + std::string(target) + " HTTP/1.1\r\nHost: localhost\r\n" +
         std::string(extra_headers) + "\r\n";
}

std::string Post(std::string_view target, std::string_view body,
                 std::string_view extra_headers = "") {
  return "POST " + std::string(target) +
         " HTTP/1.1\r\nHost: localhost\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + std::string(extra_headers) + "\r\n" +
         std::string(body);
}

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() {
    site_ = dir_.path() / "site";
    dir_.Write("site/style.css", "body{}");
    config_.root = site_.string();
    config_.listen = "127.0.0.1:0";
    config_.threads = 2;
    config_.max_header_bytes = 2048;
    config_.max_body_bytes = 1024;
  }

  ~WebServerTest() override { StopServer(); }

  void Start(PageHandler handler) {
    server_ = std::make_unique<WebServer>(config_, std::move(handler));
    server_->Listen();
    std::string url = server_->Url();
    port_ = std::stoi(url.substr(url.rfind(':') + 1));
    thread_ = std::thread([this] { server_->Run(); });
  }

  // A page that writes the request item "a".
  void StartEcho() {
    Start([](host::ScriptingContext& context, const PageConfig&) {
      context.response.Write("a=" + context.request.Item("a") + "\n");
    });
  }

  void StopServer() {
    if (!server_) return;
    server_->Stop();
    thread_.join();
    server_.reset();
  }

  HttpResponse Ask(const std::string& request, bool head = false) {
    HttpConnection client(port_);
    client.Send(request);
    return client.Read(head);
  }

  TempDir dir_;
  std::filesystem::path site_;
  ServerConfig config_;
  std::unique_ptr<WebServer> server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(WebServerTest, PagesAreMatchedExactlyAndCarryTheirSettings) {
  PageConfig a;
  a.path = "/a";
  a.web_path = "first";
  PageConfig b;
  b.path = "/b/page";
  b.web_path = "second";
  config_.pages = {a, b};
  Start([](host::ScriptingContext& context, const PageConfig& page) {
    context.response.Write(page.web_path.ToString() + " " + context.request.ServerVariable("URL") +
                           " " + context.request.ServerVariable("REMOTE_ADDR") + " " +
                           context.request.ServerVariable("SERVER_PORT"));
  });
  std::string connection = " 127.0.0.1 " + std::to_string(port_);
  EXPECT_EQ(Ask(Get("/a")).body, "first /a" + connection);
  EXPECT_EQ(Ask(Get("/b/page?x")).body, "second /b/page" + connection);
  EXPECT_EQ(Ask(Get("/b/%70age")).body, "second /b/page" + connection);
  EXPECT_EQ(Ask(Get("/A")).status, 404);
  EXPECT_EQ(Ask(Get("/log/board")).status, 404);
}

TEST_F(WebServerTest, ServesStaticFilesInPiecesWithTheirDatesAndLogsEachRequest) {
  config_.access_log = (dir_.path() / "access.log").string();
  StartEcho();
  HttpConnection client(port_);
  client.Send(Get("/style.css?v=1"));
  HttpResponse reply = client.Read();
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "body{}");
  EXPECT_EQ(reply.Header("Content-Type"), "text/css; charset=utf-8");
  const std::string modified = reply.Header("Last-Modified");
  EXPECT_FALSE(modified.empty());

  client.Send(Get("/style.css", "If-Modified-Since: " + modified + "\r\n"));
  EXPECT_EQ(client.Read().status, 304);

  std::string large(300 * 1024, 'x');
  for (std::size_t i = 0; i < large.size(); i += 1000) large[i] = static_cast<char>('a' + i % 26);
  dir_.Write("site/large.bin", large);
  client.Send(Get("/large.bin"));
  reply = client.Read();
  EXPECT_EQ(reply.Header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(reply.body, large);
  client.Send(Get("/missing"));
  EXPECT_EQ(client.Read().status, 404);

  StopServer();
  std::ifstream log(config_.access_log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find(" 127.0.0.1 GET /style.css?v=1 200 6 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[3].find(" 127.0.0.1 GET /missing 404 "), std::string::npos) << lines[3];
}

TEST_F(WebServerTest, KeepsTheConnectionAndAnswersHeadAndPipelinedRequests) {
  StartEcho();
  HttpConnection client(port_);
  client.Send(Get("/log/board?a=1"));
  EXPECT_EQ(client.Read().body, "a=1\n");
  client.Send("HEAD /log/board?a=22 HTTP/1.1\r\nHost: x\r\n\r\n");
  HttpResponse head = client.Read(true);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), "5");

  client.Send(Get("/log/board?a=x") + Get("/log/board?a=y", "Connection: close\r\n"));
  EXPECT_EQ(client.Read().body, "a=x\n");
  HttpResponse last = client.Read();
  EXPECT_EQ(last.body, "a=y\n");
  EXPECT_EQ(last.Header("Connection"), "close");
  EXPECT_TRUE(client.ClosedByPeer());
}

TEST_F(WebServerTest, RefusesBadRequestsWithAClearStatus) {
  StartEcho();
  struct Case {
    std::string request;
    int status;
    bool closes;
  };
  const std::vector<Case> cases = {
      {Get("/log/board?a=%zz"), 400, false},
      {Get("/style%2.css"), 400, false},
      {Post("/log/board", "a=%g1"), 400, false},
      {"DELETE /log/board HTTP/1.1\r\nHost: x\r\n\r\n", 405, true},
      {"GET /log/board HTTP/1.1\r\nHost: x\r\nContent-Length: 1025\r\n\r\n", 413, true},
      {"POST /log/board HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" +
           std::string(1000, 'c') + "\r\n3e8\r\n" + std::string(1000, 'c') + "\r\n0\r\n\r\n",
       413, true},
      {"GET /x HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(3000, 'b') + "\r\n\r\n", 431, true},
      {"GET /x HTTP/1.1\r\nBad Header\r\n\r\n", 400, true},
      // Framing that a proxy may read otherwise: the "body" must not become a second request.
      {"POST /log/board HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\n\r\n" + Get("/"), 400,
       true},
      {"POST /log/board HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
       "Transfer-Encoding: gzip\r\n\r\n0\r\n\r\n" +
           Get("/"),
       400, true},
      {"GET /style.css HTTP/1.1\r\n\r\n", 400, true},
      {"GET /style.css HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400, true},
      {"GET http HTTP/1.1\r\nHost: x\r\n\r\n", 400, true},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400, true},
      // A body is read only for a page: anything else is answered from the head, and the
      // connection closes since the body was never read.
      {"POST /style.css HTTP/1.1\r\nHost: x\r\nContent-Length: 500\r\n\r\n", 405, true},
      {"GET /missing HTTP/1.1\r\nHost: x\r\nContent-Length: 500\r\n\r\n", 404, true},
      {"POST /x HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", 405, true},
  };
  for (const Case& c : cases) {
    HttpConnection client(port_);
    client.Send(c.request);
    HttpResponse reply = client.Read();
    EXPECT_EQ(reply.status, c.status) << c.request.substr(0, 60);
    if (c.request.find(" /log/board ") != std::string::npos && c.status == 405) {
      EXPECT_EQ(reply.Header("Allow"), "GET, HEAD, POST");
    } else if (c.request.starts_with("POST /style.css")) {
      EXPECT_EQ(reply.Header("Allow"), "GET, HEAD");
    }
    if (c.closes) {
      EXPECT_EQ(reply.Header("Connection"), "close");
      EXPECT_TRUE(client.ClosedByPeer()) << c.request.substr(0, 60);
    } else {
      client.Send(Get("/style.css"));
      EXPECT_EQ(client.Read().status, 200);
    }
  }
}

// Bodies being read share one budget: one that would pass it is refused at once, with a hint
// to come back, and the budget is whole again when the requests are done.
TEST_F(WebServerTest, BodiesInFlightShareOneMemoryBudget) {
  config_.max_body_memory_bytes = 1500;
  Start([](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write(std::to_string(context.request.TotalBytes()));
  });
  const std::string head =
      "POST /log/board HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\nExpect: 100-continue\r\n\r\n";
  HttpConnection first(port_);
  first.Send(head);
  ASSERT_EQ(first.Read().status, 100);  // its 1000 bytes are reserved

  HttpConnection second(port_);
  second.Send(head);
  HttpResponse refused = second.Read();
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.Header("Retry-After"), "1");
  EXPECT_TRUE(second.ClosedByPeer());

  first.Send(std::string(1000, 'a'));
  EXPECT_EQ(first.Read().body, "1000");
  HttpConnection third(port_);
  third.Send(head);
  EXPECT_EQ(third.Read().status, 100);
  third.Send(std::string(1000, 'b'));
  EXPECT_EQ(third.Read().body, "1000");
}

// Over the cap a new connection waits, unanswered, in the kernel's queue until one closes.
TEST_F(WebServerTest, ConnectionsOverTheCapWaitForOneToClose) {
  config_.max_connections = 2;
  StartEcho();
  auto first = std::make_unique<HttpConnection>(port_);
  HttpConnection second(port_);
  for (HttpConnection* client : {first.get(), &second}) {
    client->Send(Get("/log/board?a=1"));
    EXPECT_EQ(client->Read().status, 200);
  }
  HttpConnection third(port_);
  third.Send(Get("/log/board?a=3"));
  EXPECT_FALSE(third.Readable(300));
  first.reset();
  EXPECT_EQ(third.Read().body, "a=3\n");
}

TEST_F(WebServerTest, TimesOutARequestThatComesTooSlowly) {
  config_.read_timeout_seconds = 1;
  StartEcho();
  HttpConnection slow(port_);
  slow.Send("GET /log/board HTTP/1.1\r\nHost:");
  EXPECT_TRUE(slow.ClosedByPeer(5000));
}

// Stopping closes at once what is idle or still arriving (half a head, half a body), and lets
// the answers being made go out first.
TEST_F(WebServerTest, StopClosesWhatIsStillReadingAndFinishesWhatIsBeingAnswered) {
  std::atomic<bool> answering{false};
  Start([&answering](host::ScriptingContext& context, const PageConfig&) {
    if (context.request.Item("slow") == "1") {
      answering = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    context.response.Write("done");
  });
  HttpConnection idle(port_);
  idle.Send(Get("/log/board"));
  EXPECT_EQ(idle.Read().status, 200);
  HttpConnection half_head(port_);
  half_head.Send("GET /log/board HTTP/1.1\r\nHost:");
  HttpConnection half_body(port_);
  half_body.Send(Post("/log/board", "a=1").substr(0, Post("/log/board", "a=1").size() - 1));
  HttpConnection busy(port_);
  busy.Send(Get("/log/board?slow=1"));
  while (!answering) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  auto started = std::chrono::steady_clock::now();
  StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  HttpResponse answered = busy.Read();
  EXPECT_EQ(answered.body, "done");
  EXPECT_EQ(answered.Header("Connection"), "close");
  for (HttpConnection* client : {&idle, &half_head, &half_body}) {
    EXPECT_TRUE(client->ClosedByPeer());
  }
}

// Connections take the threads in turn, so that one held-up page holds up one thread only.
TEST_F(WebServerTest, AHeldUpPageHoldsUpOneThreadOnly) {
  std::atomic<bool> release{false};
  Start([&release](host::ScriptingContext& context, const PageConfig&) {
    if (context.request.Item("hold") == "1") {
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    context.response.Write("done");
  });
  HttpConnection held(port_), other(port_);
  held.Send(Get("/log/board?hold=1"));
  other.Send(Get("/log/board"));
  EXPECT_EQ(other.Read().body, "done");
  release = true;
  EXPECT_EQ(held.Read().body, "done");
}

TEST_F(WebServerTest, ListenExplainsWhyItCannot) {
  StartEcho();
  auto listen_error = [](ServerConfig config) -> std::string {
    WebServer server(std::move(config), {});
    try {
      server.Listen();
    } catch (const ConfigError& error) {
      return error.what();
    }
    return "";
  };
  ServerConfig taken = config_;
  taken.listen = "127.0.0.1:" + std::to_string(port_);
  EXPECT_EQ(listen_error(taken), "address " + taken.listen + " is already in use");

  ServerConfig missing = config_;
  missing.root = (dir_.path() / "no-such-site").string();
  EXPECT_EQ(listen_error(missing),
            "root folder \"" + missing.root + "\" is missing or not a folder");
}

}  // namespace
}  // namespace tessaly::server
