#include "export/metrics_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace sentrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class MetricsTextTest : public ::testing::Test {
 protected:
  HostEntry& AddHost(const std::string& address, const std::string& name,
                                     const std::string& desc = "") {
    auto host = std::make_shared<HostEntry>();
    host->HostIP.Set(address);
    host->HostName.Set(name);
    host->HostDesc.Set(desc);
    hosts_.push_back(host);
    return *host;
  }
  // A finished check: every result counted (round trips in microseconds),
  // the state as the engine sets it.
  static void Check(HostEntry& host, const std::vector<uint32_t>& rttsUs, int32_t state) {
    for (uint32_t rtt : rttsUs) CountEcho(host.Counters, 0, rtt, 1'700'000'000'250, 63);
    if (state != 0) CountEcho(host.Counters, static_cast<uint32_t>(state), 0, 1'700'000'001'000);
    CountDecision(host.Counters, state == 0, 1'699'999'000'500);
    host.WasChecked = true;
    host.State = state;
    host.FailCount = state == 0 ? 0 : 3;
    host.AvgTime = state == 0 ? 40 : -1;
  }
  std::string Render(ExpositionFormat format = ExpositionFormat::Prometheus004) {
    return RenderMetrics(hosts_, {true, &counters_, "1.2.3", {}}, format);
  }

  HostSnapshot hosts_;
  ActivityCounters counters_;
};

TEST_F(MetricsTextTest, AnsweringLostAndUncheckedHosts) {
  HostEntry& webHost = AddHost("10.0.0.1", "web", "front");
  HostEntry& dbHost = AddHost("10.0.0.2", "db");
  Check(webHost, {100, 101, 250, 1'250'000, 12'000'000}, 0);
  Check(dbHost, {30'000}, 11010);
  AddHost("10.0.0.3", "new").Enabled = true;
  // Degraded counts while the host answers, not while it is down.
  webHost.Degraded = true;
  dbHost.Degraded = true;
  const std::string text = Render();
  const std::string web = "{address=\"10.0.0.1\"";
  const std::string db = "{address=\"10.0.0.2\"";
  const std::string fresh = "{address=\"10.0.0.3\"";
  EXPECT_THAT(text, HasSubstr("sentrel_host_info" + web + ",name=\"web\",description=\"front\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_info" + fresh + ",name=\"new\",description=\"\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_up" + web + "} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_up" + db + "} 0\n"));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_up" + fresh)));
  EXPECT_THAT(text, HasSubstr("sentrel_host_state_code" + db + "} 11010\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_state_code" + fresh + "} -1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled" + fresh + "} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_degraded" + web + "} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_degraded" + db + "} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_degraded" + fresh + "} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_last_rtt_seconds" + web + "} 12\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_reply_ttl" + web + "} 63\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_average_seconds" + web + "} 0.04\n"));
  // A lost host has no current round trip, whatever its last reply took.
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_last_rtt_seconds" + db)));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_reply_ttl" + db)));
  EXPECT_THAT(text, HasSubstr("sentrel_host_consecutive_failures" + db + "} 3\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_requests_total" + db + "} 2\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_replies_total" + db + "} 1\n"));
  // Differences 1, 149, 1249750, 10750000 us over four pairs.
  EXPECT_THAT(text, HasSubstr("sentrel_host_jitter_seconds" + web + "} 2.999975\n"));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_jitter_seconds" + db)));
  // Fixed buckets in microseconds; a time equal to a bound is in its bucket.
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_bucket" + web + ",le=\"0.0001\"} 1\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"0.00018\"} 2\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"0.00032\"} 3\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_bucket" + web + ",le=\"1\"} 3\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"1.8\"} 4\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_bucket" + web + ",le=\"10\"} 4\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"+Inf\"} 5\n"
                              "sentrel_host_rtt_seconds_sum" + web + "} 13.250451\n"
                              "sentrel_host_rtt_seconds_count" + web + "} 5\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_bucket" + fresh + ",le=\"10\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_last_check_timestamp_seconds" + db + "} 1700000001\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_last_state_change_timestamp_seconds" + db + "} 1699999000.5\n"));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_last_check_timestamp_seconds" + fresh)));
  EXPECT_THAT(text, HasSubstr("\nsentrel_hosts 3\n"));
}

TEST_F(MetricsTextTest, SeriesKeepTheirIdentityWhenTheHostIsEdited) {
  HostEntry& host = AddHost("10.0.0.1", "web", "rack 1");
  Check(host, {100, 3'000'000}, 0);
  const auto seriesOf = [](const std::string& text) {
    std::string series;
    for (std::size_t at = 0; (at = text.find("\nsentrel_host_", at)) != std::string::npos; ++at) {
      const std::string line = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
      if (!line.starts_with("sentrel_host_info")) series += line.substr(0, line.rfind(' ')) + "\n";
    }
    return series;
  };
  const std::string before = seriesOf(Render());
  // Light thresholds, name and description are the user's to change at any
  // time: none of them may split a series or restart a histogram.
  for (auto& light : host.LightTimes) light = 500;
  host.HostName.Set("web-1");
  host.HostDesc.Set("rack 2");
  Check(host, {600}, 0);
  const std::string text = Render();
  EXPECT_EQ(seriesOf(text), before);
  EXPECT_THAT(text, HasSubstr("sentrel_host_info{address=\"10.0.0.1\",name=\"web-1\",description=\"rack 2\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_count{address=\"10.0.0.1\"} 3\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_replies_total{address=\"10.0.0.1\"} 3\n"));

  // A host checked by name is known by that name.
  host.PingByIP = false;
  host.HostName.Set("web.example");
  EXPECT_THAT(Render(), HasSubstr("sentrel_host_up{address=\"web.example\"} 1\n"));
}

TEST_F(MetricsTextTest, LabelsAreEscapedAndRepeatedHostsToldApart) {
  AddHost("10.0.0.1", "a \"q\" \\ b\nc", "Gr\xC3\xBC\xC3\x9F" "e \xFC");
  AddHost("10.0.0.9", "twin");
  AddHost("10.0.0.9", "other");
  AddHost("a\"b\\c\nd", "odd").PingByIP = true;
  const std::string text = Render();
  EXPECT_THAT(text, HasSubstr("name=\"a \\\"q\\\" \\\\ b\\nc\",description=\"Gr\xC3\xBC\xC3\x9F" "e \xEF\xBF\xBD\"}"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled{address=\"10.0.0.9\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled{address=\"10.0.0.9\",copy=\"2\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_info{address=\"10.0.0.9\",copy=\"2\",name=\"other\",description=\"\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled{address=\"a\\\"b\\\\c\\nd\"} 0\n"));
}

TEST_F(MetricsTextTest, ProcessCountsInBothFormats) {
  counters_.CountAlarmAction(AlarmDirection::Loss, AlarmAction::Mail, ActionResult::Failed);
  counters_.CountMailTransfer(false);
  counters_.CountMailTransfer(true);
  counters_.CountMailTransfer(true);
  AddHost("10.0.0.1", "web");
  const std::string text = Render();
  EXPECT_THAT(text, HasSubstr("sentrel_checks_running 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_alarms_total{direction=\"loss\",action=\"mail\",result=\"failed\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_alarms_total{direction=\"renewal\",action=\"mail\",result=\"failed\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_mail_transfers_total{result=\"ok\"} 2\n"));
  EXPECT_THAT(text, HasSubstr("# TYPE sentrel_build_info gauge\nsentrel_build_info{version=\"1.2.3\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("# TYPE sentrel_host_requests_total counter\n"));
  EXPECT_THAT(text, Not(HasSubstr("# EOF")));
  EXPECT_THAT(text, Not(HasSubstr("process_")));  // the system gave no figures

  const std::string open = Render(ExpositionFormat::OpenMetrics100);
  EXPECT_THAT(open, HasSubstr("# TYPE sentrel_build info\nsentrel_build_info{version=\"1.2.3\"} 1\n"));
  EXPECT_THAT(open, HasSubstr("# TYPE sentrel_host_requests counter\n"));
  EXPECT_THAT(open, HasSubstr("# TYPE sentrel_mail_transfers counter\n"));
  EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");

  ProcessUsage usage;
  usage.cpuSeconds = 1.25;
  usage.residentBytes = 4096;
  usage.threads = 7;
  const std::string withUsage = RenderMetrics(hosts_, {false, nullptr, "1", usage}, ExpositionFormat::OpenMetrics100);
  EXPECT_THAT(withUsage, HasSubstr("# TYPE process_cpu_seconds counter\nprocess_cpu_seconds_total 1.25\n"));
  EXPECT_THAT(withUsage, HasSubstr("process_resident_memory_bytes 4096\n"));
  EXPECT_THAT(withUsage, HasSubstr("process_threads 7\n"));
  EXPECT_THAT(withUsage, Not(HasSubstr("process_open_fds")));
}

struct AcceptCase {
  const char* accept;
  ExpositionFormat format;
};
class AcceptTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(AcceptTest, PicksTheFormatTheScraperPrefers) {
  EXPECT_EQ(FormatForAccept(GetParam().accept), GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, AcceptTest,
    ::testing::Values(
        AcceptCase{"application/openmetrics-text;version=1.0.0,application/openmetrics-text;"
                   "version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
                   ExpositionFormat::OpenMetrics100},
        AcceptCase{"", ExpositionFormat::Prometheus004},
        AcceptCase{"*/*", ExpositionFormat::Prometheus004},
        AcceptCase{"text/plain;version=0.0.4", ExpositionFormat::Prometheus004},
        AcceptCase{"Application/OpenMetrics-Text", ExpositionFormat::OpenMetrics100},
        AcceptCase{"application/openmetrics-text;q=0", ExpositionFormat::Prometheus004},
        AcceptCase{"text/plain, application/openmetrics-text; q=0.5", ExpositionFormat::Prometheus004}));

}  // namespace
}  // namespace sentrel
