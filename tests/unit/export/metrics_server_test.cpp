#include "export/metrics_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace sentrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A connection to the endpoint from `from` (any address of 127/8), or -1.
int Connect(uint16_t port, const char* from = "127.0.0.1") {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  inet_pton(AF_INET, from, &source.sin_addr);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything until the server closes (bounded by the receive time-out).
std::string ReadAll(int fd) {
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  return answer;
}

// One request on a connection of its own; the whole answer.
std::string Exchange(uint16_t port, const std::string& request, const char* from = "127.0.0.1") {
  const int fd = Connect(port, from);
  std::string answer;
  if (fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    answer = ReadAll(fd);
  }
  if (fd >= 0) close(fd);
  return answer;
}

std::string Gunzip(const std::string& packed) {
  z_stream stream{};
  inflateInit2(&stream, 15 + 16);
  std::string out(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const bool whole = inflate(&stream, Z_FINISH) == Z_STREAM_END;
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return whole ? out : "(not a whole gzip stream)";
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
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
        [this](const std::string& text) {
          std::lock_guard lock(noticeMutex);  // a retry notices from a thread of its own
          notices.push_back(text);
        },
        limits);
  }
  static ListenAddress AnyPort(const char* address = "127.0.0.1") {
    ListenAddress listen;
    listen.address = address;
    listen.port = 0;
    return listen;
  }

  std::atomic<int> renders{0};
  std::mutex noticeMutex;
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
  EXPECT_THAT(Exchange(port, Request("GET", "/")), StartsWith("HTTP/1.1 404"));
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

TEST_F(MetricsServerTest, KeepsConnectionsOpenAnswersPipelinedRequestsAndCompresses) {
  MetricsServer server = MakeServer();
  ListenAddress both = AnyPort("::");
  both.ipv6 = true;
  ASSERT_TRUE(server.Start(both));
  // The IPv6 wildcard serves IPv4 clients as well.
  const int fd = Connect(server.Port());
  ASSERT_GE(fd, 0);
  const std::string keepAlive = "GET /metrics HTTP/1.1\r\nHost: test\r\n\r\n";
  const std::string pipelined = keepAlive + "GET /-/healthy HTTP/1.1\r\nHost: test\r\n\r\n" +
                                "GET /metrics HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(send(fd, pipelined.data(), pipelined.size(), MSG_NOSIGNAL), static_cast<ssize_t>(pipelined.size()));
  const std::string answers = ReadAll(fd);
  close(fd);
  EXPECT_EQ(Count(answers, "HTTP/1.1 200"), 3u) << answers;
  EXPECT_EQ(Count(answers, "\r\n\r\ntext\n"), 2u);
  EXPECT_EQ(Count(answers, "Sentrel is healthy."), 1u);

  // HTTP/1.1 names the host it asks; 1.0 need not (the answer is 1.1 as ever).
  EXPECT_THAT(Exchange(server.Port(), "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n"),
              StartsWith("HTTP/1.1 400"));
  EXPECT_THAT(Exchange(server.Port(), "GET /metrics HTTP/1.0\r\n\r\n"), StartsWith("HTTP/1.1 200"));

  const std::string packed = Exchange(server.Port(), Request("GET", "/metrics", "Accept-Encoding: br, gzip\r\n"));
  ASSERT_THAT(packed, HasSubstr("Content-Encoding: gzip\r\n"));
  EXPECT_EQ(Gunzip(packed.substr(packed.find("\r\n\r\n") + 4)), "text\n");
  const std::string refused = Exchange(server.Port(), Request("GET", "/metrics", "Accept-Encoding: gzip;q=0, *\r\n"));
  EXPECT_THAT(refused, Not(HasSubstr("Content-Encoding")));
  EXPECT_THAT(refused, HasSubstr("\r\n\r\ntext\n"));
}

TEST_F(MetricsServerTest, ASlowClientIsCutAtTheDeadlineAndOneClientCannotTakeEveryPlace) {
  MetricsServer server = MakeServer({.connections = 4, .connectionsPerClient = 2,
                                     .requestDeadline = std::chrono::milliseconds(600)});
  ASSERT_TRUE(server.Start(AnyPort()));
  const uint16_t port = server.Port();
  const int slow = Connect(port, "127.0.0.2");
  const int idle = Connect(port, "127.0.0.2");
  ASSERT_GE(slow, 0);
  ASSERT_GE(idle, 0);
  // A third connection of that client is closed at once; another client is served.
  EXPECT_EQ(Exchange(port, Request("GET", "/-/healthy"), "127.0.0.2"), "");
  EXPECT_THAT(Exchange(port, Request("GET", "/-/healthy"), "127.0.0.3"), StartsWith("HTTP/1.1 200"));

  // One header byte every 100 ms never lets the connection fall idle, yet it
  // is cut once its request has taken longer than the deadline.
  const std::string request = Request("GET", "/metrics");
  const auto start = std::chrono::steady_clock::now();
  std::size_t sent = 0;
  while (sent < request.size() && send(slow, &request[sent], 1, MSG_NOSIGNAL) == 1) {
    ++sent;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(sent, request.size());
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_LT(took, std::chrono::seconds(3));
  char byte;
  EXPECT_EQ(recv(idle, &byte, 1, 0), 0);  // the silent one is gone too
  close(slow);
  close(idle);
}

TEST_F(MetricsServerTest, APortInUseIsTriedAgainUntilItIsFree) {
  MetricsServer holder = MakeServer();
  ASSERT_TRUE(holder.Start(AnyPort()));
  MetricsServer server = MakeServer({.retryListen = std::chrono::milliseconds(100)});
  ListenAddress taken = AnyPort();
  taken.port = holder.Port();
  notices.clear();
  EXPECT_FALSE(server.Start(taken));
  std::this_thread::sleep_for(std::chrono::milliseconds(350));  // a few tries, no notice each
  EXPECT_FALSE(server.Running());
  holder.Stop();
  for (int i = 0; i < 50 && !server.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(server.Running());
  std::lock_guard lock(noticeMutex);
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_THAT(notices[0], HasSubstr("Address already in use. Monitoring goes on without it; the address is tried again"));
  EXPECT_THAT(notices[1], HasSubstr("stopped"));
  EXPECT_THAT(notices[2], HasSubstr("Metrics served on http://127.0.0.1:" + std::to_string(taken.port)));
}

}  // namespace
}  // namespace sentrel
