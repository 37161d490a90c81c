#include "server/listen_address.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace tessaly::server {
namespace {

TEST(ListenAddressTest, ReadsHostAndPortAndWritesTheUrl) {
  ListenAddress v4 = ParseListenAddress("127.0.0.1:8080");
  EXPECT_EQ(v4.host, "127.0.0.1");
  EXPECT_EQ(v4.port, 8080);
  EXPECT_EQ(v4.Url(), "http://127.0.0.1:8080");

  ListenAddress v6 = ParseListenAddress("[::1]:0");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, 0);
  EXPECT_EQ(v6.Url(), "http://[::1]:0");

  EXPECT_EQ(ParseListenAddress("localhost:65535").host, "localhost");
}

TEST(ListenAddressTest, RefusesWithTheReason) {
  for (const char* text : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:99999", "127.0.0.1:http",
                           "127.0.0.1:-1", ":80", "[]:80"}) {
    try {
      ParseListenAddress(text);
      ADD_FAILURE() << text;
    } catch (const ConfigError& error) {
      EXPECT_EQ(
          std::string(error.what()).find("bad listen address \"" + std::string(text) + "\": "), 0u);
    }
  }
}

}  // namespace
}  // namespace tessaly::server
