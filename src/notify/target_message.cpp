#include "notify/target_message.h"

#include <cstdio>

#include "common/lenient_int.h"
#include "common/text.h"

namespace sentrel {

namespace {

// Length of the UTF-8 sequence at `text[i]`, 0 when it is not one.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xc2 && lead <= 0xdf ? 2
                                   : lead >= 0xe0 && lead <= 0xef     ? 3
                                   : lead >= 0xf0 && lead <= 0xf4     ? 4
                                                                      : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (length == 3 && ((lead == 0xe0 && byte(i + 1) < 0xa0) || (lead == 0xed && byte(i + 1) > 0x9f))) {
    return 0;
  }
  if (length == 4 && ((lead == 0xf0 && byte(i + 1) < 0x90) || (lead == 0xf4 && byte(i + 1) > 0x8f))) {
    return 0;
  }
  return length;
}

std::string Quoted(std::string_view text) { return "\"" + JsonEscape(text) + "\""; }

std::string TrimmedUrl(const NotifyTarget& target) {
  std::string url = target.Url;
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

// The one text of a chat message: the Body template, or subject and text.
std::string ChatText(const NotifyTarget& target, const TargetEvent& event) {
  const std::string templ = target.Value("Body");
  if (!templ.empty()) return ExpandTargetTemplate(templ, event, false);
  const std::string text = TrimBlanks(event.text);
  return text.empty() || text == event.subject ? event.subject : event.subject + "\n" + text;
}

std::string MessageText(const NotifyTarget& target, const TargetEvent& event) {
  const std::string templ = target.Value("Body");
  return templ.empty() ? TrimBlanks(event.text) : ExpandTargetTemplate(templ, event, false);
}

// Cut to `limit` characters, never inside a UTF-8 sequence.
std::string CutCharacters(const std::string& text, std::size_t limit) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size() && count < limit; ++count) {
    const std::size_t length = Utf8Length(text, i);
    i += length == 0 ? 1 : length;
  }
  return text.substr(0, i);
}

// A header value never carries a line break into the request.
std::string HeaderValue(std::string_view text) {
  std::string value;
  for (char c : TrimBlanks(text)) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) value += c;
  }
  return value;
}

std::string PriorityField(const NotifyTarget& target) {
  const std::string priority = TrimBlanks(target.Value("Priority"));
  if (priority.empty()) return {};
  return ", \"priority\": " + std::to_string(ParseLenientInt(priority));
}

}  // namespace

TargetEvent TestTargetEvent(long long unixSeconds) {
  TargetEvent event;
  event.event = "test";
  event.status = "OK";
  event.time = IsoUtcTime(unixSeconds);
  event.subject = "Sentrel Test Message";
  event.text = "Test message from Sentrel!";
  return event;
}

std::string IsoUtcTime(long long unixSeconds) {
  long long days = unixSeconds / 86400;
  long long rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date of a day count (proleptic Gregorian).
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month,
                day, rest / 3600, rest / 60 % 60, rest % 60);
  return buffer;
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out;
}

std::string DefaultWebhookBody(const TargetEvent& event) {
  return "{\"event\": " + Quoted(event.event) + ", \"address\": " + Quoted(event.address) +
         ", \"name\": " + Quoted(event.name) + ", \"description\": " + Quoted(event.description) +
         ", \"status\": " + Quoted(event.status) + ", \"code\": " + std::to_string(event.code) +
         ", \"time\": " + Quoted(event.time) + ", \"subject\": " + Quoted(event.subject) +
         ", \"text\": " + Quoted(event.text) + "}";
}

std::string ExpandTargetTemplate(std::string_view templ, const TargetEvent& event, bool jsonEscape) {
  std::vector<std::pair<std::string, std::string>> values = event.placeholders;
  values.emplace_back("%Event%", event.event);
  values.emplace_back("%Subject%", event.subject);
  values.emplace_back("%Text%", event.text);
  values.emplace_back("%Description%", event.description);
  values.emplace_back("%Code%", std::to_string(event.code));
  values.emplace_back("%Iso%", event.time);
  std::string out;
  std::size_t i = 0;
  while (i < templ.size()) {
    const std::size_t mark = templ.find('%', i);
    if (mark == std::string_view::npos) break;
    out.append(templ.substr(i, mark - i));
    bool replaced = false;
    for (const auto& [placeholder, value] : values) {
      if (templ.compare(mark, placeholder.size(), placeholder) == 0) {
        out += jsonEscape ? JsonEscape(value) : value;
        i = mark + placeholder.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      out += '%';
      i = mark + 1;
    }
  }
  if (i < templ.size()) out.append(templ.substr(i));
  return out;
}

HttpRequest BuildTargetRequest(const NotifyTarget& target, const TargetEvent& event,
                               const std::string& messageId) {
  HttpRequest request;
  request.url = target.Url;
  request.caFile = target.Value("CAFile");
  request.headers.emplace_back("Content-Type", "application/json");
  const std::string& kind = target.Kind;
  if (kind == "webhook") {
    const std::string templ = target.Value("Body");
    request.body = templ.empty() ? DefaultWebhookBody(event) : ExpandTargetTemplate(templ, event, true);
    if (!messageId.empty()) request.headers.emplace_back("Idempotency-Key", HeaderValue(messageId));
  } else if (kind == "slack") {
    request.body = "{\"text\": " + Quoted(ChatText(target, event)) + "}";
  } else if (kind == "teams") {
    request.body =
        "{\"type\": \"message\", \"attachments\": [{\"contentType\": "
        "\"application/vnd.microsoft.card.adaptive\", \"contentUrl\": null, \"content\": "
        "{\"$schema\": \"http://adaptivecards.io/schemas/adaptive-card.json\", \"type\": "
        "\"AdaptiveCard\", \"version\": \"1.4\", \"body\": [{\"type\": \"TextBlock\", \"size\": "
        "\"Medium\", \"weight\": \"Bolder\", \"wrap\": true, \"text\": " +
        Quoted(event.subject) + "}, {\"type\": \"TextBlock\", \"wrap\": true, \"text\": " +
        Quoted(MessageText(target, event)) + "}]}}]}";
  } else if (kind == "discord") {
    // Discord refuses a content longer than 2,000 characters.
    request.body = "{\"content\": " + Quoted(CutCharacters(ChatText(target, event), 2000)) + "}";
  } else if (kind == "telegram") {
    request.url = TrimmedUrl(target) + "/bot" + HeaderValue(target.Value("Token")) + "/sendMessage";
    const std::string chat = TrimBlanks(target.Value("ChatId"));
    // A numeric chat id goes as a number, a "@channel" name as a string.
    const bool numeric = !chat.empty() && chat.find_first_not_of("-0123456789") == std::string::npos;
    request.body = "{\"chat_id\": " + (numeric ? chat : Quoted(chat)) +
                   ", \"text\": " + Quoted(CutCharacters(ChatText(target, event), 4096)) + "}";
  } else if (kind == "ntfy") {
    request.url = TrimmedUrl(target);
    request.body = "{\"topic\": " + Quoted(TrimBlanks(target.Value("Topic"))) +
                   ", \"title\": " + Quoted(event.subject) +
                   ", \"message\": " + Quoted(MessageText(target, event)) + PriorityField(target) +
                   "}";
    if (const std::string token = HeaderValue(target.Value("Token")); !token.empty()) {
      request.headers.emplace_back("Authorization", "Bearer " + token);
    }
  } else if (kind == "gotify") {
    request.url = TrimmedUrl(target) + "/message";
    request.body = "{\"title\": " + Quoted(event.subject) +
                   ", \"message\": " + Quoted(MessageText(target, event)) + PriorityField(target) +
                   "}";
    request.headers.emplace_back("X-Gotify-Key", HeaderValue(target.Value("Token")));
  }
  return request;
}

DeliveryOutcome ClassifyHttpResponse(const HttpResponse& response) {
  DeliveryOutcome outcome;
  if (response.failure == HttpFailure::Aborted) {
    outcome.result = DeliveryResult::Aborted;
    outcome.reason = "aborted";
    return outcome;
  }
  if (response.failure != HttpFailure::None) {
    outcome.reason = std::string(HttpFailureText(response.failure)) + ": " + response.error;
    const bool permanent = response.failure == HttpFailure::Certificate ||
                           response.failure == HttpFailure::BadRequest;
    outcome.result = permanent ? DeliveryResult::GiveUp : DeliveryResult::Retry;
    return outcome;
  }
  const int status = response.status;
  outcome.reason = "HTTP " + std::to_string(status);
  // The first line of what the service said, which usually names the fault.
  std::string said = TrimBlanks(response.body.substr(0, response.body.find('\n')));
  if (said.size() > 200) said = CutCharacters(said, 200) + "...";
  if (!said.empty()) outcome.reason += " " + said;
  if (status >= 200 && status <= 299) {
    outcome.result = DeliveryResult::Delivered;
  } else if (status == 408 || status == 425 || status == 429 || (status >= 500 && status <= 599)) {
    outcome.result = DeliveryResult::Retry;
    outcome.retryAfter = response.retryAfter;
  } else {
    outcome.result = DeliveryResult::GiveUp;
  }
  return outcome;
}

DeliveryOutcome DeliverToTarget(const std::optional<NotifyTarget>& target, const TargetEvent& event,
                                const std::string& messageId, std::stop_token stop) {
  if (!target) return {DeliveryResult::GiveUp, "the target no longer exists", {}};
  if (const std::string problem = TargetProblem(*target); !problem.empty()) {
    return {DeliveryResult::GiveUp, problem, {}};
  }
  return ClassifyHttpResponse(SendHttpRequest(BuildTargetRequest(*target, event, messageId), stop));
}

}  // namespace sentrel
