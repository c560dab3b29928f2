#include "export/metrics_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace sentrel {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// One request on a connection of its own; the whole answer, read until the
// server closes (bounded by a receive time-out).
std::string Exchange(uint16_t port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return answer;
}

std::string Request(const std::string& method, const std::string& path, const std::string& headers = "") {
  return method + " " + path + " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n" + headers + "\r\n";
}

class MetricsServerTest : public ::testing::Test {
 protected:
  MetricsServer MakeServer(MetricsLimits limits = {}) {
    return MetricsServer(
        [this](ExpositionFormat format) {
          ++renders;
          return format == ExpositionFormat::OpenMetrics100 ? std::string("om\n# EOF\n") : std::string("text\n");
        },
        [this](const std::string& text) { notices.push_back(text); }, limits);
  }
  static ListenAddress AnyPort(const char* address = "127.0.0.1") {
    ListenAddress listen;
    listen.address = address;
    listen.port = 0;
    return listen;
  }

  std::atomic<int> renders{0};
  std::vector<std::string> notices;
};

TEST_F(MetricsServerTest, ServesTheScrapeAndHealthAndRefusesTheRest) {
  MetricsServer server = MakeServer();
  ASSERT_TRUE(server.Start(AnyPort()));
  const uint16_t port = server.Port();
  ASSERT_NE(port, 0);
  EXPECT_THAT(notices.back(), HasSubstr("to this computer only"));

  const std::string text = Exchange(port, Request("GET", "/metrics"));
  EXPECT_THAT(text, StartsWith("HTTP/1.1 200"));
  EXPECT_THAT(text, HasSubstr("Content-Type: text/plain; version=0.0.4; charset=utf-8"));
  EXPECT_THAT(text, HasSubstr("\r\n\r\ntext\n"));
  const std::string open =
      Exchange(port, Request("GET", "/metrics", "Accept: application/openmetrics-text; version=1.0.0\r\n"));
  EXPECT_THAT(open, HasSubstr("Content-Type: application/openmetrics-text; version=1.0.0"));
  EXPECT_THAT(open, HasSubstr("\r\n\r\nom\n# EOF\n"));

  const std::string head = Exchange(port, Request("HEAD", "/metrics"));
  EXPECT_THAT(head, StartsWith("HTTP/1.1 200"));
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
  EXPECT_THAT(Exchange(port, Request("GET", "/-/healthy")), StartsWith("HTTP/1.1 200"));
  EXPECT_THAT(Exchange(port, Request("GET", "/metrics/x")), StartsWith("HTTP/1.1 404"));
  const std::string post = Exchange(port, Request("POST", "/metrics", "Content-Length: 3\r\n") + "a=b");
  EXPECT_THAT(post, StartsWith("HTTP/1.1 405"));
  EXPECT_THAT(post, HasSubstr("Allow: GET, HEAD"));

  server.Stop();
  EXPECT_FALSE(server.Running());
  EXPECT_THAT(notices.back(), HasSubstr("stopped"));
  EXPECT_EQ(Exchange(port, Request("GET", "/metrics")), "");
}

TEST_F(MetricsServerTest, ScrapesCloseTogetherShareOneRendering) {
  MetricsServer server = MakeServer({.reuseBody = std::chrono::minutes(1)});
  ASSERT_TRUE(server.Start(AnyPort()));
  Exchange(server.Port(), Request("GET", "/metrics"));
  Exchange(server.Port(), Request("GET", "/metrics"));
  EXPECT_EQ(renders, 1);
}

TEST_F(MetricsServerTest, ApplyFollowsTheOptionTextAndAPortInUseGivesOneNotice) {
  MetricsServer server = MakeServer();
  ASSERT_TRUE(server.Start(AnyPort("0.0.0.0")));
  EXPECT_THAT(notices.back(), HasSubstr("to every host that can reach it"));
  const std::string port = std::to_string(server.Port());
  MetricsServer second = MakeServer();
  notices.clear();
  EXPECT_FALSE(second.Apply("127.0.0.1:" + port));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_THAT(notices[0], HasSubstr("cannot listen on 127.0.0.1:" + port + ": Address already in use"));

  EXPECT_FALSE(server.Apply("not an address"));
  EXPECT_FALSE(server.Running());
  EXPECT_THAT(notices.back(), HasSubstr("not a numeric IPv4 address"));
  ASSERT_TRUE(server.Apply(" 127.0.0.1:" + port + " "));
  EXPECT_THAT(Exchange(server.Port(), Request("GET", "/metrics")), StartsWith("HTTP/1.1 200"));
  const std::size_t before = notices.size();
  EXPECT_FALSE(server.Apply(""));
  EXPECT_FALSE(server.Running());
  EXPECT_EQ(notices.size(), before + 1);  // only "stopped"
}

}  // namespace
}  // namespace sentrel
