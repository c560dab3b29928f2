#include "platform/direct_http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "scripted_server.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedServer;
using Connection = ScriptedServer::Connection;

HttpRequest Post(const ScriptedServer& server, std::string path = "/hook?x=1") {
  HttpRequest request;
  request.url = "http://127.0.0.1:" + server.Port() + path;
  request.headers = {{"Content-Type", "application/json"}, {"Idempotency-Key", "k1"}};
  request.body = "{\"event\":\"loss\"}";
  request.timeout = 3s;
  return request;
}

// The request as sent, and the ways an answer's body ends: chunked after an
// interim 100, by its length, or with the connection.
TEST(DirectHttpTest, SendsOneRequestAndReadsEveryKindOfBody) {
  ScriptedServer chunked([](Connection& c) {
    c.ReadUntil("\r\n\r\n");
    c.ReadUntil("}");
    c.Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 503 Busy\r\nRetry-After: 7\r\n"
           "Transfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
  });
  const HttpResponse busy = SendDirectHttpRequest(Post(chunked));
  EXPECT_EQ(busy.failure, HttpFailure::None) << busy.error;
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.body, "hello world");
  ASSERT_TRUE(busy.retryAfter);
  EXPECT_EQ(busy.retryAfter->count(), 7);
  const std::string sent = chunked.Data();
  EXPECT_EQ(sent.substr(0, sent.find("\r\n")), "POST /hook?x=1 HTTP/1.1");
  for (const char* header : {"Host: 127.0.0.1:", "Content-Length: 16\r\n",
                             "Content-Type: application/json\r\n", "Idempotency-Key: k1\r\n"}) {
    EXPECT_NE(sent.find(header), std::string::npos) << header;
  }
  EXPECT_TRUE(sent.ends_with("\r\n\r\n{\"event\":\"loss\"}"));

  ScriptedServer sized([](Connection& c) {
    c.ReadUntil("}");
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokTRAILING");
  });
  const HttpResponse ok = SendDirectHttpRequest(Post(sized, ""));
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "ok");
  EXPECT_EQ(sized.Data().substr(0, 15), "POST / HTTP/1.1");

  ScriptedServer closing([](Connection& c) {
    c.ReadUntil("}");
    c.Send("HTTP/1.0 404 Not Found\r\n\r\nno such hook");
  });
  const HttpResponse gone = SendDirectHttpRequest(Post(closing));
  EXPECT_EQ(gone.status, 404);
  EXPECT_EQ(gone.body, "no such hook");
}

TEST(DirectHttpTest, SilenceTimesOutAndAStopAbortsAtOnce) {
  ScriptedServer silent([](Connection& c) { c.StaySilent(); });
  HttpRequest request = Post(silent);
  request.timeout = 300ms;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendDirectHttpRequest(request).failure, HttpFailure::Timeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

  ScriptedServer also([](Connection& c) { c.StaySilent(); });
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(SendDirectHttpRequest(Post(also), stop.get_token()).failure, HttpFailure::Aborted);
}

TEST(DirectHttpTest, UrlsThatCouldBendTheRequestAreRefused) {
  const auto v6 = ParseHttpUrl("HTTPS://[::1]:8443/in#top");
  ASSERT_TRUE(v6);
  EXPECT_TRUE(v6->secure);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, "8443");
  EXPECT_EQ(v6->authority, "[::1]:8443");
  EXPECT_EQ(v6->target, "/in");
  EXPECT_EQ(ParseHttpUrl("http://example.org")->port, "80");
  for (const char* bad : {"ftp://example.org/", "http://user:pw@example.org/", "http://:80/",
                          "http://example.org:0/", "http://example.org:99999/",
                          "http://example.org/a b", "http://example.org/a\r\nX: y", "http://[::1/"}) {
    EXPECT_FALSE(ParseHttpUrl(bad)) << bad;
  }
  HttpRequest injected;
  injected.url = "http://127.0.0.1:9/";
  injected.headers = {{"X-Token", "a\r\nEvil: 1"}};
  EXPECT_EQ(SendDirectHttpRequest(injected).failure, HttpFailure::BadRequest);
}

}  // namespace
}  // namespace sentrel
