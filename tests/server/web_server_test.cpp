#include "server/web_server.h"

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/temp_dir.h"

namespace tessaly::server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using tessaly::testing::TempDir;

struct Reply {
  unsigned status = 0;
  http::fields headers;
  std::string body;

  std::string Header(std::string_view name) const {
    return std::string(headers[beast::string_view(name.data(), name.size())]);
  }
};

// A blocking HTTP/1.1 client on one connection; requests are written as raw text so that
// tests can send what no well-behaved client would.
class Client {
 public:
  explicit Client(std::uint16_t port) : socket_(io_) {
    socket_.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  }

  void Write(std::string_view raw) { net::write(socket_, net::buffer(raw.data(), raw.size())); }

  Reply Read(bool head = false) {
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    parser.skip(head);
    http::read(socket_, buffer_, parser);
    Reply reply;
    reply.status = parser.get().result_int();
    reply.headers = parser.get().base();
    reply.body = std::move(parser.get().body());
    return reply;
  }

  Reply Send(std::string_view raw, bool head = false) {
    Write(raw);
    return Read(head);
  }

  // True when the server has closed the connection (no more bytes arrive).
  bool Closed() {
    beast::error_code ec;
    char byte;
    net::read(socket_, net::buffer(&byte, 1), ec);
    return ec == net::error::eof || ec == net::error::connection_reset;
  }

 private:
  net::io_context io_;
  tcp::socket socket_;
  beast::flat_buffer buffer_;
};

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

// The value of the session cookie that a reply sets, or "".
std::string SessionCookie(const Reply& reply) {
  std::string header = reply.Header("Set-Cookie");
  std::size_t start = header.find("TSESSIONID=");
  if (start == std::string::npos) return "";
  start += 11;
  return header.substr(start, header.find(';', start) - start);
}

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() {
    site_ = dir_.path() / "site";
    dir_.Write("site/index.html", "<h1>home</h1>");
    dir_.Write("site/style.css", "body{}");
    dir_.Write("site/.htpasswd", "secret");
    dir_.Write("site/log/logs.mdb", "database");
    dir_.Write("site/log/logs.mdb-wal", "database");
    dir_.Write("site/docs/readme.txt", "text");
    dir_.Write("outside.txt", "outside");
    std::filesystem::create_symlink(dir_.path() / "outside.txt", site_ / "link.txt");

    config_.root = site_.string();
    config_.listen = "127.0.0.1:0";
    config_.threads = 2;
    config_.max_header_bytes = 2048;
    config_.max_body_bytes = 1024;
  }

  ~WebServerTest() override {
    if (server_) {
      server_->Stop();
      thread_.join();
    }
  }

  void Start(PageHandler handler) {
    server_ = std::make_unique<WebServer>(config_, std::move(handler));
    server_->Listen();
    std::string url = server_->Url();
    port_ = static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    thread_ = std::thread([this] { server_->Run(); });
  }

  // A page that writes the items named in the request's "show" header, one per line.
  void StartEcho() {
    Start([](host::ScriptingContext& context, const PageConfig&) {
      std::string names = context.request.ServerVariable("HTTP_SHOW");
      for (std::size_t start = 0; start < names.size();) {
        std::size_t comma = names.find(',', start);
        if (comma == std::string::npos) comma = names.size();
        std::string name = names.substr(start, comma - start);
        context.response.Write(name + "=" + context.request.Item(name) + "\n");
        start = comma + 1;
      }
    });
  }

  TempDir dir_;
  std::filesystem::path site_;
  ServerConfig config_;
  std::unique_ptr<WebServer> server_;
  std::thread thread_;
  std::uint16_t port_ = 0;
};

TEST_F(WebServerTest, PageItemsComeFromQueryFormCookiesThenServerVariables) {
  StartEcho();
  Client client(port_);
  Reply reply =
      client.Send(Post("/log/board?a=query&id=1&id=2&t=%E6%97%A5+x", "a=form&b=form&id=3",
                       "Cookie: a=cookie; b=cookie; c=cookie; SCRIPT_NAME=cookie\r\n"
                       "Show: a,b,c,id,t,SCRIPT_NAME,REQUEST_METHOD,QUERY_STRING,none\r\n"));
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(reply.body.size()));
  EXPECT_EQ(reply.body,
            "a=query\nb=form\nc=cookie\nid=1, 2\nt=日 x\nSCRIPT_NAME=cookie\n"
            "REQUEST_METHOD=POST\nQUERY_STRING=a=query&id=1&id=2&t=%E6%97%A5+x\nnone=\n");
  EXPECT_EQ(SessionCookie(reply), "");  // nothing written to the session, so no cookie

  reply = client.Send(Get("/log/board?x=1", "Show: SCRIPT_NAME,SERVER_PORT,REMOTE_ADDR\r\n"));
  EXPECT_EQ(reply.body, "SCRIPT_NAME=/log/board\nSERVER_PORT=" + std::to_string(port_) +
                            "\nREMOTE_ADDR=127.0.0.1\n");
}

TEST_F(WebServerTest, PagesAreMatchedExactlyAndCarryTheirSettings) {
  PageConfig a;
  a.path = "/a";
  a.web_path = "first";
  PageConfig b;
  b.path = "/b/page";
  b.web_path = "second";
  config_.pages = {a, b};
  Start([](host::ScriptingContext& context, const PageConfig& page) {
    context.response.Write(page.web_path.ToString() + " " + context.server.MapPath("."));
  });
  Client client(port_);
  std::string root = std::filesystem::canonical(site_).string();
  EXPECT_EQ(client.Send(Get("/a")).body, "first " + root);
  EXPECT_EQ(client.Send(Get("/b/page?x")).body, "second " + root + "/b");
  EXPECT_EQ(client.Send(Get("/b/%70age")).body, "second " + root + "/b");
  EXPECT_EQ(client.Send(Get("/A")).status, 404u);
  EXPECT_EQ(client.Send(Get("/log/board")).status, 404u);
}

TEST_F(WebServerTest, SessionLivesAcrossRequestsUntilAbandoned) {
  Start([](host::ScriptingContext& context, const PageConfig&) {
    std::string what = context.request.Item("do");
    if (what == "set") context.session.SetValue("user", context.request.Item("v"));
    if (what == "abandon") context.session.Abandon();
    context.response.Write(context.session.Value("user"));
  });
  Client client(port_);
  Reply reply = client.Send(Get("/log/board?do=get"));
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(reply.Header("Set-Cookie"), "");

  reply = client.Send(Get("/log/board?do=set&v=ann"));
  std::string id = SessionCookie(reply);
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(reply.Header("Set-Cookie"), "TSESSIONID=" + id + "; Path=/; HttpOnly; SameSite=Strict");
  std::string cookie = "Cookie: TSESSIONID=" + id + "\r\n";

  reply = client.Send(Get("/log/board?do=get", cookie));
  EXPECT_EQ(reply.body, "ann");
  EXPECT_EQ(reply.Header("Set-Cookie"), "");  // the cookie is sent once

  // A chosen id is not taken up.
  reply =
      client.Send(Get("/log/board?do=get", "Cookie: TSESSIONID=" + std::string(32, 'a') + "\r\n"));
  EXPECT_EQ(reply.body, "");

  reply = client.Send(Get("/log/board?do=abandon", cookie));
  EXPECT_EQ(reply.body, "ann");  // still readable in the abandoning request
  reply = client.Send(Get("/log/board?do=get", cookie));
  EXPECT_EQ(reply.body, "");
  reply = client.Send(Get("/log/board?do=set&v=bob", cookie));
  EXPECT_NE(SessionCookie(reply), id);
}

TEST_F(WebServerTest, ServesStaticFilesAndRefusesTheRest) {
  StartEcho();
  Client client(port_);
  Reply reply = client.Send(Get("/style.css"));
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.body, "body{}");
  EXPECT_EQ(reply.Header("Content-Type"), "text/css; charset=utf-8");
  EXPECT_FALSE(reply.Header("Last-Modified").empty());
  EXPECT_EQ(client.Send(Get("/")).body, "<h1>home</h1>");
  EXPECT_EQ(client.Send(Get("/docs/readme.txt?v=2")).body, "text");

  reply = client.Send("HEAD /style.css HTTP/1.1\r\nHost: x\r\n\r\n", true);
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.Header("Content-Length"), "6");
  EXPECT_EQ(reply.body, "");

  for (const char* target : {"/../outside.txt", "/docs/../../outside.txt", "/%2e%2e/outside.txt",
                             "/docs/%2E%2E%2F..%2Foutside.txt", "/.htpasswd", "/%2ehtpasswd",
                             "/link.txt", "/log/logs.mdb", "/log/LOGS.MDB", "/log/logs.mdb-wal",
                             "/docs", "/docs/", "/nothing.html", "/style.css%00.txt"}) {
    EXPECT_EQ(client.Send(Get(target)).status, 404u) << target;
  }

  reply = client.Send(Post("/style.css", "a=1"));
  EXPECT_EQ(reply.status, 405u);
  EXPECT_EQ(reply.Header("Allow"), "GET, HEAD");
  EXPECT_EQ(client.Send(Get("/style.css")).status, 200u);  // the connection went on

  std::string large(300 * 1024, 'x');
  for (std::size_t i = 0; i < large.size(); i += 1000) large[i] = static_cast<char>('a' + i % 26);
  dir_.Write("site/large.bin", large);
  reply = client.Send(Get("/large.bin"));
  EXPECT_EQ(reply.Header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(reply.body, large);
}

TEST_F(WebServerTest, KeepsTheConnectionAndAnswersHead) {
  StartEcho();
  Client client(port_);
  Reply first = client.Send(Get("/log/board?a=1", "Show: a\r\n"));
  Reply head = client.Send("HEAD /log/board?a=22 HTTP/1.1\r\nHost: x\r\nShow: a\r\n\r\n", true);
  EXPECT_EQ(first.body, "a=1\n");
  EXPECT_EQ(head.status, 200u);
  EXPECT_EQ(head.Header("Content-Length"), "5");
  EXPECT_EQ(head.body, "");

  // Two pipelined requests, the second asking to close.
  client.Write(Get("/log/board?a=x", "Show: a\r\n") +
               Get("/log/board?a=y", "Show: a\r\nConnection: close\r\n"));
  EXPECT_EQ(client.Read().body, "a=x\n");
  Reply last = client.Read();
  EXPECT_EQ(last.body, "a=y\n");
  EXPECT_EQ(last.Header("Connection"), "close");
  EXPECT_TRUE(client.Closed());
}

TEST_F(WebServerTest, RefusesBadRequestsWithAClearStatus) {
  StartEcho();
  struct Case {
    std::string request;
    unsigned status;
    bool closes;
  };
  std::vector<Case> cases = {
      {Get("/log/board?a=%zz"), 400, false},
      {Get("/log/board?a=%4"), 400, false},
      {Get("/style%2.css"), 400, false},
      {Post("/log/board", "a=%g1"), 400, false},
      {"DELETE /log/board HTTP/1.1\r\nHost: x\r\n\r\n", 405, true},
      {"BREW /pot HTTP/1.1\r\nHost: x\r\n\r\n", 405, true},
      {"GET /log/board HTTP/1.1\r\nHost: x\r\nContent-Length: 1025\r\n\r\n", 413, true},
      {"GET /x HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(3000, 'b') + "\r\n\r\n", 431, true},
      {"GET /x HTTP/1.1\r\nBad Header\r\n\r\n", 400, true},
      {"GET http HTTP/1.1\r\n\r\n", 400, true},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400, true},
  };
  for (const Case& c : cases) {
    Client client(port_);
    Reply reply = client.Send(c.request);
    EXPECT_EQ(reply.status, c.status) << c.request.substr(0, 60);
    if (c.status == 405) {
      EXPECT_EQ(reply.Header("Allow"), "GET, HEAD, POST");
    }
    if (c.closes) {
      EXPECT_EQ(reply.Header("Connection"), "close");
      EXPECT_TRUE(client.Closed()) << c.request.substr(0, 60);
    } else {
      EXPECT_EQ(client.Send(Get("/style.css")).status, 200u);
    }
  }

  // A chunked body beyond the limit is refused while it is read.
  Client chunked(port_);
  std::string chunk(1000, 'c');
  Reply reply = chunked.Send(
      "POST /log/board HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" + chunk +
      "\r\n3e8\r\n" + chunk + "\r\n0\r\n\r\n");
  EXPECT_EQ(reply.status, 413u);
}

TEST_F(WebServerTest, AFailingPageAnswers500WithWhatItWrote) {
  Start([](host::ScriptingContext& context, const PageConfig&) {
    context.response.Write("<p>before</p>");
    if (context.request.Item("fail") == "1") throw std::runtime_error("database is locked");
    context.response.End();
    context.response.Write("after end");
  });
  Client client(port_);
  Reply reply = client.Send(Get("/log/board?fail=1"));
  EXPECT_EQ(reply.status, 500u);
  EXPECT_EQ(reply.body.find("<p>before</p>"), 0u);
  EXPECT_GT(reply.body.size(), std::string_view("<p>before</p>").size());
  EXPECT_EQ(reply.body.find("locked"), std::string::npos);

  reply = client.Send(Get("/log/board"));
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.body, "<p>before</p>");
}

TEST_F(WebServerTest, PagesReadTheRawBodyAndSetTheirType) {
  Start([](host::ScriptingContext& context, const PageConfig&) {
    context.response.SetContentType("image/gif");
    std::string first = context.request.BinaryRead(2);
    context.response.BinaryWrite(first + "|" + context.request.BinaryRead(100) + "|" +
                                 std::to_string(context.request.TotalBytes()) + "|" +
                                 context.request.Item("a"));
  });
  Client client(port_);
  client.Write(
      "POST /log/board HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\n"
      "Content-Length: 8\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(client.Read().status, 100u);
  Reply reply = client.Send(std::string("ab\0c\na=1", 8));
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.Header("Content-Type"), "image/gif");
  EXPECT_EQ(reply.body, std::string("ab|\0c\na=1|8|", 12));  // multipart is not a form
}

TEST_F(WebServerTest, StopsWhileClientsIdleAndTimesOutSlowRequests) {
  config_.read_timeout_seconds = 1;
  StartEcho();
  Client idle(port_);
  EXPECT_EQ(idle.Send(Get("/log/board")).status, 200u);

  Client slow(port_);
  slow.Write("GET /log/board HTTP/1.1\r\nHost:");
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(slow.Closed());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

  started = std::chrono::steady_clock::now();
  server_->Stop();
  thread_.join();
  server_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_TRUE(idle.Closed());
}

TEST_F(WebServerTest, WritesOneAccessLinePerRequest) {
  config_.access_log = (dir_.path() / "access.log").string();
  StartEcho();
  {
    Client client(port_);
    client.Send(Get("/style.css?v=1"));
    client.Send(Get("/missing"));
  }
  server_->Stop();
  thread_.join();
  server_.reset();
  std::ifstream log(config_.access_log);
  std::string first, second, more;
  std::getline(log, first);
  std::getline(log, second);
  EXPECT_NE(first.find(" 127.0.0.1 GET /style.css?v=1 200 6 "), std::string::npos) << first;
  EXPECT_NE(second.find(" 127.0.0.1 GET /missing 404 "), std::string::npos) << second;
  EXPECT_FALSE(std::getline(log, more));
}

TEST_F(WebServerTest, ListenExplainsWhyItCannot) {
  StartEcho();
  auto listen_error = [](ServerConfig config) -> std::string {
    WebServer server(std::move(config), {});
    try {
      server.Listen();
    } catch (const std::runtime_error& error) {
      return error.what();
    }
    return "";
  };
  ServerConfig taken = config_;
  taken.listen = "127.0.0.1:" + std::to_string(port_);
  EXPECT_EQ(listen_error(taken), "address " + taken.listen + " is already in use");

  ServerConfig bad = config_;
  for (const char* address : {"127.0.0.1", "127.0.0.1:99999", "127.0.0.1:http", ":80"}) {
    bad.listen = address;
    EXPECT_NE(listen_error(bad).find("bad listen address"), std::string::npos) << address;
  }

  ServerConfig missing = config_;
  missing.root = (dir_.path() / "no-such-site").string();
  EXPECT_NE(listen_error(missing).find("is missing"), std::string::npos);
}

}  // namespace
}  // namespace tessaly::server
