// The server over a real loopback socket: what only the connection handling decides.
#include "server/web_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/errors.h"
#include "server/body_budget.h"
#include "server/file_texts.h"
#include "support/http_client.h"
#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

using tessaly::testing::HttpConnection;
using tessaly::testing::HttpResponse;
using namespace std::chrono_literals;

// "METHOD TARGET" with a Host, the head lines `headers`, then `body` as it is.
std::string Request(const std::string& method_target, const std::string& headers = "",
                    const std::string& body = "") {
  return method_target + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n" + body;
}

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() {
    dir_.Write("site/style.css", "body{}");
    config_.root = (dir_.path() / "site").string();
    config_.listen = "127.0.0.1:0";
    config_.threads = 2;
    config_.max_header_bytes = 2048;
    config_.max_body_bytes = 1024;
  }
  ~WebServerTest() override { StopServer(); }

  // Serves `handler`; by default a page that writes the request item "a".
  void Start(PageHandler handler = [](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write("a=" + context.request.Item("a") + "\n");
  }) {
    server_ = std::make_unique<WebServer>(config_, std::move(handler));
    server_->Listen();
    const std::string url = server_->Url();
    port_ = std::stoi(url.substr(url.rfind(':') + 1));
    thread_ = std::thread([this] { server_->Run(); });
  }

  void StopServer() {
    if (!server_) return;
    server_->Stop();
    thread_.join();
    server_.reset();
  }

  testing::TempDir dir_;
  ServerConfig config_;
  std::unique_ptr<WebServer> server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(WebServerTest, PagesAreMatchedExactlyAndCarryTheirSettings) {
  config_.pages = {{.path = "/a", .web_path = "first"}, {.path = "/b/page", .web_path = "second"}};
  Start([](host::ScriptingContext& context, const PageConfig& page) {
    context.response.Write(page.web_path.ToString());
    for (const char* name : {"URL", "REMOTE_ADDR", "SERVER_PORT"}) {
      context.response.Write(" " + context.request.ServerVariable(name));
    }
  });
  HttpConnection client(port_);
  const auto ask = [&](const std::string& target) {
    client.Send(Request("GET " + target));
    return client.Read();
  };
  const std::string connection = " 127.0.0.1 " + std::to_string(port_);
  EXPECT_EQ(ask("/a").body, "first /a" + connection);
  EXPECT_EQ(ask("/b/%70age?x").body, "second /b/page" + connection);
  EXPECT_EQ(ask("/A").status, 404);
  EXPECT_EQ(ask("/log/board").status, 404);
  // A root that is no folder is refused before anything is served.
  ServerConfig file_as_root = config_;
  file_as_root.root += "/style.css";
  EXPECT_THROW(WebServer(file_as_root, {}).Listen(), ConfigError);
}

TEST_F(WebServerTest, ServesFilesWithTheirTypeAndDateLargeOnesInPieces) {
  std::string large(kMaxKeptFileBytes + 100 * 1024, 'x');  // sent from the disk
  for (std::size_t i = 0; i < large.size(); i += 1000) large[i] = static_cast<char>('a' + i % 26);
  dir_.Write("site/large.bin", large);
  Start();
  HttpConnection client(port_);
  client.Send(Request("GET /style.css?v=1"));
  const HttpResponse css = client.Read();
  EXPECT_EQ(css.body, "body{}");
  EXPECT_EQ(css.Header("Content-Type"), "text/css; charset=utf-8");
  client.Send(Request("GET /large.bin"));
  HttpResponse reply = client.Read();
  EXPECT_EQ(reply.Header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(reply.body, large);

  // Pipelined on the kept connection: a 304 for the date the client has, a HEAD of the large
  // file that sends its head alone, and a last request that closes.
  client.Send(
      Request("GET /style.css", "If-Modified-Since: " + css.Header("Last-Modified") + "\r\n") +
      Request("HEAD /large.bin") + Request("GET /missing", "Connection: close\r\n"));
  EXPECT_EQ(client.Read().status, 304);
  reply = client.Read(true);
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(large.size()));
  reply = client.Read();
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.Header("Connection"), "close");
  EXPECT_TRUE(client.ClosedByPeer());
}

TEST_F(WebServerTest, RefusesBadRequestsWithAClearStatus) {
  Start();
  const std::string chunked = "Transfer-Encoding: chunked\r\n";
  const std::string kilobyte_chunk = "3e8\r\n" + std::string(1000, 'c') + "\r\n";
  const struct {
    std::string request;
    int status;
    bool closes;
  } cases[] = {
      {Request("GET /log/board?a=%zz"), 400, false},
      {Request("GET /style%2.css"), 400, false},
      {Request("POST /log/board",
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\n", "a=%g1"),
       400, false},
      {Request("DELETE /log/board"), 405, true},
      {Request("GET /log/board", "Content-Length: 1025\r\n"), 413, true},
      {Request("POST /log/board", chunked, kilobyte_chunk + kilobyte_chunk + "0\r\n\r\n"), 413,
       true},
      {Request("GET /x", "X-Big: " + std::string(3000, 'b') + "\r\n"), 431, true},
      {Request("GET /x", "Bad Header\r\n"), 400, true},
      // Framing that a proxy may read otherwise: the "body" must not become a second request.
      {Request("POST /log/board", "Transfer-Encoding: gzip\r\n", Request("GET /")), 400, true},
      {Request("POST /log/board", chunked + "Transfer-Encoding: gzip\r\n",
               "0\r\n\r\n" + Request("GET /")),
       400, true},
      {"GET /style.css HTTP/1.1\r\n\r\n", 400, true},
      {Request("GET /style.css", "Host: b\r\n"), 400, true},
      {Request("GET http"), 400, true},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400, true},
      // A body is read only for a page: anything else is answered from the head, and the
      // connection closes since the body was never read.
      {Request("POST /style.css", "Content-Length: 500\r\n"), 405, true},
      {Request("GET /missing", "Content-Length: 500\r\n"), 404, true},
      {Request("POST /x", chunked), 405, true},
  };
  for (const auto& c : cases) {
    HttpConnection client(port_);
    client.Send(c.request);
    const HttpResponse reply = client.Read();
    EXPECT_EQ(reply.status, c.status) << c.request.substr(0, 60);
    if (c.status == 405) {
      EXPECT_EQ(reply.Header("Allow"),
                c.request.starts_with("DELETE") ? "GET, HEAD, POST" : "GET, HEAD");
    }
    if (c.closes) {
      EXPECT_EQ(reply.Header("Connection"), "close");
      EXPECT_TRUE(client.ClosedByPeer()) << c.request.substr(0, 60);
    } else {
      client.Send(Request("GET /style.css"));
      EXPECT_EQ(client.Read().status, 200);
    }
  }
}

// Each reservation holds what its body may grow to, and gives it back when it goes.
TEST(BodyBudgetTest, ReservationsShareTheLimitAndGiveBackWhenDone) {
  BodyBudget budget(100);
  BodyReservation first;
  EXPECT_TRUE(first.GrowTo(budget, 60));
  EXPECT_TRUE(first.GrowTo(budget, 40));  // holds what it held
  {
    BodyReservation second;
    EXPECT_FALSE(second.GrowTo(budget, 50));
    EXPECT_TRUE(second.GrowTo(budget, 40));
    EXPECT_FALSE(first.GrowTo(budget, 61));
    EXPECT_EQ(budget.in_use(), 100u);
  }
  EXPECT_EQ(budget.in_use(), 60u);
}

// Bodies being read share one budget: one that would pass it is refused at once, with a hint
// to come back, and the budget is whole again when the requests are done.
TEST_F(WebServerTest, BodiesInFlightShareOneMemoryBudget) {
  config_.max_body_memory_bytes = 1500;
  Start([](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write(std::to_string(context.request.TotalBytes()));
  });
  const std::string head =
      Request("POST /log/board", "Content-Length: 1000\r\nExpect: 100-continue\r\n");
  HttpConnection first(port_), second(port_), third(port_);
  first.Send(head);
  ASSERT_EQ(first.Read().status, 100);  // its 1000 bytes are reserved
  second.Send(head);
  const HttpResponse refused = second.Read();
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.Header("Retry-After"), "1");
  EXPECT_TRUE(second.ClosedByPeer());

  first.Send(std::string(1000, 'a'));
  EXPECT_EQ(first.Read().body, "1000");
  third.Send(head);
  EXPECT_EQ(third.Read().status, 100);
  third.Send(std::string(1000, 'b'));
  EXPECT_EQ(third.Read().body, "1000");
}

// Over the cap a new connection waits, unanswered, in the kernel's queue until one closes: here
// one whose head comes too slowly and times out.
TEST_F(WebServerTest, ConnectionsOverTheCapWaitForASlowOneToTimeOut) {
  config_.max_connections = 2;
  config_.read_timeout_seconds = 1;
  Start();
  HttpConnection slow(port_), kept(port_);
  slow.Send("GET /log/board HTTP/1.1\r\nHost:");
  kept.Send(Request("GET /log/board?a=1"));
  EXPECT_EQ(kept.Read().status, 200);
  HttpConnection third(port_);
  third.Send(Request("GET /log/board?a=3"));
  EXPECT_FALSE(third.Readable(300));
  EXPECT_TRUE(slow.ClosedByPeer(5000));
  EXPECT_EQ(third.Read().body, "a=3\n");
}

// Connections take the threads in turn, so that a held-up page holds up its own thread only.
// Stopping closes at once what is idle or still arriving (half a head, half a body), and lets
// the answer being made go out first.
TEST_F(WebServerTest, AHeldUpPageHoldsOneThreadAndStopLetsItFinish) {
  config_.threads = 3;       // the held page alone on the second
  std::atomic<int> held{0};  // 1 while held, 2 once let go
  std::atomic<bool> release{false};
  Start([&](host::ScriptingContext& context, const PageConfig&) {
    if (context.request.Item("hold") == "1") {
      held = 1;
      for (int i = 0; i < 1000 && !release; ++i) std::this_thread::sleep_for(5ms);
      held = 2;
    }
    context.response.Write("done");
  });
  HttpConnection idle(port_), busy(port_), half_head(port_), half_body(port_);
  busy.Send(Request("GET /log/board?hold=1"));
  while (held == 0) std::this_thread::sleep_for(5ms);
  idle.Send(Request("GET /log/board"));
  EXPECT_EQ(idle.Read().body, "done");
  EXPECT_EQ(held, 1);
  half_head.Send("GET /log/board HTTP/1.1\r\nHost:");
  half_body.Send(Request("POST /log/board", "Content-Length: 3\r\n", "a="));

  const auto started = std::chrono::steady_clock::now();
  server_->Stop();
  release = true;
  StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  const HttpResponse answered = busy.Read();
  EXPECT_EQ(answered.body, "done");
  EXPECT_EQ(answered.Header("Connection"), "close");
  for (HttpConnection* client : {&idle, &half_head, &half_body}) {
    EXPECT_TRUE(client->ClosedByPeer());
  }
}

}  // namespace
}  // namespace tessaly::server
