#include "notify/target_message.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(TargetMessageTest, JsonStaysValidWhateverTheHostTextsHold) {
  EXPECT_EQ(JsonEscape("a\"b\\c\r\n\x01\x7f"), "a\\\"b\\\\c\\r\\n\\u0001\\u007f");
  // UTF-8 passes; a legacy byte, a cut sequence and a surrogate do not.
  EXPECT_EQ(JsonEscape("\xd0\x96\xe2\x82\xac"), "\xd0\x96\xe2\x82\xac");
  EXPECT_EQ(JsonEscape("\xe9t\xe2\x82"), "\\ufffdt\\ufffd\\ufffd");
  EXPECT_EQ(JsonEscape("\xed\xa0\x80"), "\\ufffd\\ufffd\\ufffd");

  TargetEvent event;
  event.event = "loss";
  event.placeholders = {{"%HostName%", "web \"1\"\n%Event%"}, {"%Loss%", "12.5%"}};
  // Escaped where they go into JSON, inserted once, a stray % kept.
  EXPECT_EQ(ExpandTargetTemplate("{\"h\": \"%HostName%\", \"e\": \"%Event%\", \"l\": \"%Loss% 5%\"}",
                                 event, true),
            "{\"h\": \"web \\\"1\\\"\\n%Event%\", \"e\": \"loss\", \"l\": \"12.5% 5%\"}");
  EXPECT_EQ(IsoUtcTime(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(IsoUtcTime(1803941999), "2027-03-01T22:59:59Z");
}

TEST(TargetMessageTest, AnswersAreSortedIntoDeliveredRetryAndGiveUp) {
  const auto result = [](HttpFailure failure, int status) {
    HttpResponse response;
    response.failure = failure;
    response.status = status;
    return ClassifyHttpResponse(response).result;
  };
  using R = DeliveryResult;
  EXPECT_EQ(result(HttpFailure::None, 200), R::Delivered);
  EXPECT_EQ(result(HttpFailure::None, 204), R::Delivered);
  EXPECT_EQ(result(HttpFailure::None, 429), R::Retry);
  EXPECT_EQ(result(HttpFailure::None, 503), R::Retry);
  EXPECT_EQ(result(HttpFailure::None, 404), R::GiveUp);
  EXPECT_EQ(result(HttpFailure::None, 301), R::GiveUp);  // redirects are not followed
  EXPECT_EQ(result(HttpFailure::Connect, 0), R::Retry);
  EXPECT_EQ(result(HttpFailure::Timeout, 0), R::Retry);
  EXPECT_EQ(result(HttpFailure::Certificate, 0), R::GiveUp);
  EXPECT_EQ(result(HttpFailure::Aborted, 0), R::Aborted);

  EXPECT_EQ(ParseRetryAfter(" 120 ", 0), std::chrono::seconds(120));
  EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT", 1445412420),
            std::chrono::seconds(60));
  EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT", 1445412540), std::chrono::seconds(0));
  EXPECT_FALSE(ParseRetryAfter("soon", 0));
}

}  // namespace
}  // namespace sentrel
