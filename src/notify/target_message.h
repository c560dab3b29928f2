#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "notify/notify_target.h"
#include "platform/http_client.h"

namespace sentrel {

// What happened to a host (or the program, for the status and test
// messages), worked out once so that every target of the alarm tells the
// same. Texts are UTF-8.
struct TargetEvent {
  std::string event;  // "loss", "renewal", "degraded", "recovered", "status" or "test"
  std::string address;
  std::string name;
  std::string description;
  std::string status;  // the status line, trimmed
  int code = 0;        // the status code (0 for a reply)
  std::string time;    // ISO 8601 UTC, "2026-12-07T22:41:05Z"
  std::string subject;  // expanded as for mail
  std::string text;     // expanded as for mail
  // The mail placeholders with their values ("%HostName%", "web1"), in the
  // order they are replaced; a target's Body template takes them too.
  std::vector<std::pair<std::string, std::string>> placeholders;
  // Not sent: the address under which the program's own records know the
  // host (empty for a host checked by name).
  std::string recordAddress;

  friend bool operator==(const TargetEvent&, const TargetEvent&) = default;
};

// The "test" event that a target's test sends: subject "Sentrel Test
// Message", text "Test message from Sentrel!", as the mail test.
TargetEvent TestTargetEvent(long long unixSeconds);

// "2026-12-07T22:41:05Z" of Unix seconds.
std::string IsoUtcTime(long long unixSeconds);

// `text` as the inside of a JSON string: quote, backslash and control
// characters escaped; bytes that are not UTF-8 become U+FFFD, so the document
// stays valid whatever a data file held.
std::string JsonEscape(std::string_view text);

// The generic document of a `webhook` target without a Body template:
// {"event": .., "address": .., "name": .., "description": .., "status": ..,
//  "code": .., "time": .., "subject": .., "text": ..}.
std::string DefaultWebhookBody(const TargetEvent& event);

// A Body template with every placeholder (the mail's, and %Event%,
// %Subject%, %Text%, %Description%, %Code%, %Iso%) replaced in one sweep,
// each value passed through `escape` first; inserted text is never searched
// again.
std::string ExpandTargetTemplate(std::string_view templ, const TargetEvent& event, bool jsonEscape);

// The request that `target` sends for `event`, as its service documents it:
//  webhook  POST Url, the Body template or the default document, JSON;
//  slack    POST Url {"text": ..} (Slack, Mattermost, Rocket.Chat);
//  teams    POST Url, a message with one Adaptive Card (workflow web hooks);
//  discord  POST Url {"content": ..} (cut to 2,000 characters);
//  telegram POST Url/bot<Token>/sendMessage {"chat_id": .., "text": ..};
//  ntfy     POST Url {"topic": .., "title": .., "message": .., "priority": ..},
//           with "Authorization: Bearer <Token>" when a Token is given;
//  gotify   POST Url/message {"title": .., "message": .., "priority": ..} with
//           the header X-Gotify-Key.
// `messageId` goes out as the webhook's Idempotency-Key, so a receiver can
// see a repeat for what it is. The per-target CAFile goes with it.
HttpRequest BuildTargetRequest(const NotifyTarget& target, const TargetEvent& event,
                               const std::string& messageId = {});

// The result of one attempt to deliver a message.
enum class DeliveryResult { Delivered, Retry, GiveUp, Aborted };
struct DeliveryOutcome {
  DeliveryResult result = DeliveryResult::Retry;
  std::string reason;  // for the log: "HTTP 404 Not Found", "could not connect: ..."
  std::optional<std::chrono::seconds> retryAfter;
};

// What an HTTP answer means for the message: 2xx delivered; 408, 425, 429
// and 5xx, no connection, a time-out or a broken transfer worth another try;
// any other answer, a refused certificate or a request that cannot be made
// given up at once.
DeliveryOutcome ClassifyHttpResponse(const HttpResponse& response);

// One attempt to send `event` to `target` as it is configured now (a target
// removed meanwhile gives the message up). Blocks; ends soon after `stop`.
DeliveryOutcome DeliverToTarget(const std::optional<NotifyTarget>& target, const TargetEvent& event,
                                const std::string& messageId, std::stop_token stop);

}  // namespace sentrel
