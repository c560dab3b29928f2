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
  // A finished check: every result counted, the state as the engine sets it.
  static void Check(HostEntry& host, const std::vector<uint32_t>& rtts, int32_t state) {
    for (uint32_t rtt : rtts) CountEcho(host.Counters, LightTimesOf(host), 0, rtt, 1'700'000'000'250);
    if (state != 0) CountEcho(host.Counters, LightTimesOf(host), static_cast<uint32_t>(state), 0, 1'700'000'001'000);
    host.WasChecked = true;
    host.State = state;
    host.LastReplyTime = state == 0 ? static_cast<int32_t>(rtts.back()) : -1;
    host.AvgTime = state == 0 ? 40 : -1;
  }
  std::string Render(ExpositionFormat format = ExpositionFormat::Prometheus004) {
    return RenderMetrics(hosts_, {true, &counters_, nullptr, "1.2.3"}, format);
  }

  HostSnapshot hosts_;
  ActivityCounters counters_;
};

TEST_F(MetricsTextTest, AnsweringLostAndUncheckedHosts) {
  Check(AddHost("10.0.0.1", "web", "front"), {100, 1250, 1251, 6000}, 0);
  Check(AddHost("10.0.0.2", "db"), {30}, 11010);
  AddHost("10.0.0.3", "new").Enabled = true;
  const std::string text = Render();
  const std::string web = "{address=\"10.0.0.1\",name=\"web\",description=\"front\"";
  const std::string db = "{address=\"10.0.0.2\",name=\"db\",description=\"\"";
  const std::string fresh = "{address=\"10.0.0.3\",name=\"new\",description=\"\"";
  EXPECT_THAT(text, HasSubstr("sentrel_host_up" + web + "} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_up" + db + "} 0\n"));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_up" + fresh)));
  EXPECT_THAT(text, HasSubstr("sentrel_host_state_code" + db + "} 11010\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_state_code" + fresh + "} -1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled" + fresh + "} 1\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_last_rtt_seconds" + web + "} 6\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_average_seconds" + web + "} 0.04\n"));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_last_rtt_seconds" + db)));
  EXPECT_THAT(text, HasSubstr("sentrel_host_requests_total" + db + "} 2\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_replies_total" + db + "} 1\n"));
  // A time equal to a threshold still has that light.
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_bucket" + web + ",le=\"1.25\"} 2\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"1.666\"} 3\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"2.5\"} 3\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"5\"} 3\n"
                              "sentrel_host_rtt_seconds_bucket" + web + ",le=\"+Inf\"} 4\n"
                              "sentrel_host_rtt_seconds_sum" + web + "} 8.601\n"
                              "sentrel_host_rtt_seconds_count" + web + "} 4\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_rtt_seconds_bucket" + fresh + ",le=\"5\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_last_check_timestamp_seconds" + db + "} 1700000001\n"));
  EXPECT_THAT(text, Not(HasSubstr("sentrel_host_last_check_timestamp_seconds" + fresh)));
  EXPECT_THAT(text, HasSubstr("\nsentrel_hosts 3\n"));
}

TEST_F(MetricsTextTest, EditedThresholdsStartTheHistogramAfreshInOrder) {
  HostEntry& host = AddHost("10.0.0.1", "web");
  Check(host, {100, 3000}, 0);
  for (auto& light : host.LightTimes) light = 500;
  host.LightTimes[0] = 2000;
  Check(host, {600}, 0);
  const std::string text = Render();
  // Equal thresholds give one bucket; the old replies are not counted under
  // bounds they were never sorted by.
  EXPECT_THAT(text, HasSubstr("le=\"0.5\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("le=\"2\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("le=\"+Inf\"} 1\n"));
  EXPECT_EQ(text.find("le=\"0.5\""), text.rfind("le=\"0.5\""));
  EXPECT_THAT(text, HasSubstr("sentrel_host_replies_total{address=\"10.0.0.1\",name=\"web\",description=\"\"} 3\n"));
}

TEST_F(MetricsTextTest, LabelsAreEscapedAndRepeatedHostsToldApart) {
  AddHost("10.0.0.1", "a \"q\" \\ b\nc", "Gr\xC3\xBC\xC3\x9F" "e \xFC");
  AddHost("10.0.0.9", "twin");
  AddHost("10.0.0.9", "twin");
  const std::string text = Render();
  EXPECT_THAT(text, HasSubstr("name=\"a \\\"q\\\" \\\\ b\\nc\",description=\"Gr\xC3\xBC\xC3\x9F" "e \xEF\xBF\xBD\"}"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled{address=\"10.0.0.9\",name=\"twin\",description=\"\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("sentrel_host_enabled{address=\"10.0.0.9\",name=\"twin\",description=\"\",copy=\"2\"} 0\n"));
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

  const std::string open = Render(ExpositionFormat::OpenMetrics100);
  EXPECT_THAT(open, HasSubstr("# TYPE sentrel_build info\nsentrel_build_info{version=\"1.2.3\"} 1\n"));
  EXPECT_THAT(open, HasSubstr("# TYPE sentrel_host_requests counter\n"));
  EXPECT_THAT(open, HasSubstr("# TYPE sentrel_mail_transfers counter\n"));
  EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");
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
