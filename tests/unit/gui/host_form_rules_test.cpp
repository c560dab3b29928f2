#include "gui/dialogs/host_form_rules.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/host_entry.h"
#include "gui/dialogs/schedule_fields.h"
#include "probes/address.h"
#include "unit/core/core_test_util.h"

namespace sentrel {
namespace {

// A form that passes every check on "Ok": the defaults of a new host.
HostFormValues PassingForm() { return FormValuesOf(HostSettings{}); }

TEST(HostFormChecks, ReportHoldsEveryFailureInOrder) {
  const struct {
    const char* what;
    std::function<void(HostFormValues&)> change;
    const char* report;
  } cases[] = {
      {"defaults", [](HostFormValues&) {}, ""},
      {"bad address", [](HostFormValues& v) { v.hostIP = "1.2.3.256"; }, "Incorrect IP address !!!\r\n"},
      {"pinged by name needs no address",
       [](HostFormValues& v) {
         v.hostIP = "";
         v.hostName = "mail.example";
         v.pingByAddress = false;
       },
       ""},
      {"pinged by name needs a name that can be looked up",
       [](HostFormValues& v) {
         v.hostName = "mail server";
         v.pingByAddress = false;
       },
       "Incorrect host name !!!\r\n"},
      {"no address that can never be checked",
       [](HostFormValues& v) { v.hostIP = "fe80::1%nosuchif"; }, "Incorrect IP address !!!\r\n"},
      {"rising thresholds", [](HostFormValues& v) { v.lightTimes = {"1250", "0", "0", "5000"}; }, ""},
      {"falling thresholds", [](HostFormValues& v) { v.lightTimes = {"1250", "1000", "0", "0"}; },
       "Check light settings !!!\r\n"},
      {"equal thresholds", [](HostFormValues& v) { v.lightTimes = {"1", "2", "3", "3"}; },
       "Check light settings !!!\r\n"},
      {"interval 0, times not asked",
       [](HostFormValues& v) { v.pingInterval = "0"; },
       "Incorrect ping interval !!!\r\n"},
      {"interval with blanks", [](HostFormValues& v) { v.pingInterval = " \t30\x01"; }, ""},
      {"month day 32",
       [](HostFormValues& v) {
         v.checkEvery = 1;
         v.dayOfMonth = "32";
         v.times = 1;
       },
       "Incorrect day of months !!!\r\n"},
      {"week without day or time", [](HostFormValues& v) { v.checkEvery = 2; },
       "Set day of week !!!\r\nSet time!!!\r\n"},
      {"every day at 08.30",
       [](HostFormValues& v) {
         v.checkEvery = 3;
         v.times = uint64_t{1} << 17;
       },
       ""},
      {"degradation: loss above 100", [](HostFormValues& v) { v.degradedLoss = "101"; },
       "Check degradation settings: loss 0 to 100 %, 1 to 1000 requests !!!\r\n"},
      {"degradation: no request judged", [](HostFormValues& v) { v.degradedChecks = "0"; },
       "Check degradation settings: loss 0 to 100 %, 1 to 1000 requests !!!\r\n"},
      {"degradation at its bounds",
       [](HostFormValues& v) {
         v.degradedLatency = "0";
         v.degradedLoss = "100";
         v.degradedChecks = "1000";
       },
       ""},
      {"everything wrong at once",
       [](HostFormValues& v) {
         v.hostIP = "1.2.3";
         v.lightTimes = {"9", "8", "7", "6"};
         v.checkEvery = 1;
         v.dayOfMonth = "";
         v.times = uint64_t{1} << 48;  // no half-hour of the list
       },
       "Incorrect IP address !!!\r\nCheck light settings !!!\r\nIncorrect day of months !!!\r\n"
       "Set time!!!\r\n"},
  };
  for (const auto& c : cases) {
    HostFormValues v = PassingForm();
    c.change(v);
    EXPECT_EQ(OkCheckReport(v), c.report) << c.what;
  }
  EXPECT_EQ(ErrorBoxText("Set time!!!\r\n"), "Please, check your settings. Set time!!!\r\n");
}

TEST(HostFormChecks, ClampedFieldsAreKeptWithinTheirRules) {
  EXPECT_EQ(KeptWithin("45", 1, 31), "31");
  EXPECT_EQ(KeptWithin("", 1, 31), "1");
  EXPECT_EQ(KeptWithin("0", 1, 255), "1");
  EXPECT_EQ(KeptWithin("300", 1, 255), "255");
  EXPECT_EQ(KeptWithin("31", 1, 31), std::nullopt);
  EXPECT_EQ(RepeatCountFix(""), "1");
  EXPECT_EQ(RepeatCountFix("0"), "1");
  EXPECT_EQ(RepeatCountFix("00"), "1");
  EXPECT_EQ(RepeatCountFix("10"), std::nullopt);
  EXPECT_TRUE(ThresholdTooHigh("5000", "5000"));
  EXPECT_FALSE(ThresholdTooHigh("4999", "5000"));
  EXPECT_FALSE(ThresholdTooHigh("", "5000"));
  EXPECT_EQ(MailTestRefusal(0, "ops@example.org"), "I'm sorry. The SMTP Port is incorrect!");
  EXPECT_EQ(MailTestRefusal(25, ""), "I'm sorry. The \"To\" address is incorrect!");
  EXPECT_EQ(MailTestRefusal(25, "ops@example.org"), std::nullopt);
}

// The "Day:" field of both dialogs.
TEST(DayFieldTest, OutOfRangeValuesGoToTheNearerBound) {
  const struct {
    const char* text;
    std::optional<int> bound;
  } cases[] = {{"", 1},      {"0", 1},     {"00", 1},    {"-3", 1},     {"1", std::nullopt},
               {"31", std::nullopt},       {"031", std::nullopt},       {"32", 31},
               {"99", 31},   {"310", 31},  {"99999999999999999999", 31}, {"4294967297", 31},
               {"7x", std::nullopt},       {"x7", 1}};
  for (const auto& c : cases) {
    const auto text = c.bound ? std::optional(std::to_string(*c.bound)) : std::nullopt;
    EXPECT_EQ(KeptWithin(c.text, kFirstDay, kLastDay), text) << '"' << c.text << '"';
  }
}

TEST(HostFormCopy, EveryStoredSettingSurvivesTheRoundTrip) {
  HostEntry host;
  testing::SetEveryField(host);
  const HostSettings before = ReadHostSettings(host);
  EXPECT_EQ(SettingsFromForm(FormValuesOf(before)), before);

  HostEntry copy;
  WriteHostSettings(before, copy);
  copy.Enabled = true;  // the row's box, never the dialog's
  EXPECT_EQ(testing::BlockLines(copy), testing::BlockLines(host));
}

TEST(HostFormCopy, PlaceholdersStandForEmptyTemplates) {
  HostSettings s;
  s.OnLoss.Subject = "Down: %HostName%";
  const HostFormValues shown = FormValuesOf(s);
  EXPECT_EQ(shown.renewal.subject, "Sentrel Message!!!");
  EXPECT_EQ(shown.renewal.body, "%StatusStr%");
  EXPECT_EQ(shown.loss.subject, "Down: %HostName%");

  HostFormValues typed = shown;
  typed.loss.subject = "Sentrel Message!!!";  // typed back to the placeholder
  typed.renewal.body = "%StatusStr% ";
  const HostSettings stored = SettingsFromForm(typed);
  EXPECT_EQ(stored.OnRenewal.Subject, "");
  EXPECT_EQ(stored.OnLoss.Subject, "");
  EXPECT_EQ(stored.OnRenewal.MesBody, "%StatusStr% ");
  EXPECT_EQ(stored.OnLoss.MesBody, "");
}

TEST(HostFormCopy, NumbersParseLenientlyAndOnlyGeneralFieldsAreTrimmed) {
  HostFormValues v = PassingForm();
  v.timeOut = " \t900\r\n";
  v.retries = "3x";
  v.pingInterval = "-5";
  v.traceTTL = " 30 ";
  v.dayOfMonth = " 5";  // not trimmed: a leading blank reads as 0
  v.loss.repeatCount = "";
  v.lightTimes[0] = "12ms";
  const HostSettings s = SettingsFromForm(v);
  EXPECT_EQ(s.TimeOut, 900);
  EXPECT_EQ(s.Retries, 3);
  EXPECT_EQ(s.PingInterval, -5);
  EXPECT_EQ(s.TraceTTL, 30);
  EXPECT_EQ(s.DayOfMonth, 0);
  EXPECT_EQ(s.OnLoss.RepeatCount, 0);
  EXPECT_EQ(s.LightTimes[0], 12);
}

TEST(HostFormEnabling, PagesFollowTheirBoxes) {
  EXPECT_TRUE(ScheduleEnablingFor(0).pingInterval);
  EXPECT_FALSE(ScheduleEnablingFor(0).times);
  EXPECT_TRUE(ScheduleEnablingFor(1).dayOfMonth && ScheduleEnablingFor(1).times);
  EXPECT_TRUE(ScheduleEnablingFor(2).daysOfWeek && !ScheduleEnablingFor(2).dayOfMonth);
  const ScheduleEnabling day = ScheduleEnablingFor(3);
  EXPECT_TRUE(day.times && !day.pingInterval && !day.dayOfMonth && !day.daysOfWeek);

  AlarmFormValues page;
  page.playWav = page.sendLan = page.sendEmail = page.runPrg = true;
  AlarmEnabling off = AlarmEnablingFor(page);
  EXPECT_FALSE(off.options || off.wav || off.lan || off.email || off.program);
  page.alarm = true;
  page.sendLan = false;
  const AlarmEnabling on = AlarmEnablingFor(page);
  EXPECT_TRUE(on.options && on.wav && on.email && on.program);
  EXPECT_FALSE(on.lan);
}

TEST(HostFormLookups, NamesAndAddressesComeFromTheResolver) {
  std::vector<std::string> asked;
  AddressLookups lookups;
  const IpAddress gate = *ParseAddress("10.0.0.1");
  const IpAddress gate6 = *ParseAddress("2001:db8::1");
  lookups.parse = ParseAddress;
  lookups.nameOf = [&](const IpAddress& address) {
    return address == gate || address == gate6 ? std::string("gate.lan") : AddressText(address);
  };
  lookups.resolve = [&](const std::string& name, AddressFamily family) {
    asked.push_back(name);
    if (name != "gate.lan" && name.size() != 260) return NoAddress();
    return family == AddressFamily::IPv6 ? gate6 : gate;
  };
  lookups.localName = [] { return std::string(300, 'w'); };

  EXPECT_EQ(LookUpHostName("10.0.0.1", lookups), "gate.lan");
  EXPECT_EQ(LookUpHostName("2001:DB8::1", lookups), "gate.lan");
  EXPECT_EQ(LookUpHostName("10.0.0.2", lookups), std::nullopt);
  EXPECT_EQ(LookUpHostName("2001:db8::2", lookups), std::nullopt);
  EXPECT_EQ(LookUpHostName("1..2", lookups), std::nullopt);
  EXPECT_EQ(LookUpHostAddress("gate.lan", AddressFamily::Automatic, lookups), "10.0.0.1");
  EXPECT_EQ(LookUpHostAddress("gate.lan", AddressFamily::IPv6, lookups), "2001:db8::1");
  EXPECT_EQ(LookUpHostAddress("nowhere", AddressFamily::Automatic, lookups), std::nullopt);
  // An empty name asks for this computer's own name, cut to 260 characters.
  EXPECT_EQ(LookUpHostAddress("", AddressFamily::Automatic, lookups), "10.0.0.1");
  EXPECT_EQ(asked.back(), std::string(260, 'w'));
}

TEST(HostFormText, SmallConversions) {
  EXPECT_EQ(HalfHourText(0), "00.00");
  EXPECT_EQ(HalfHourText(19), "09.30");
  EXPECT_EQ(HalfHourText(47), "23.30");
  EXPECT_EQ(HelpContextOfPage(0), 80);
  EXPECT_EQ(HelpContextOfPage(5), 125);
  EXPECT_EQ(HelpContextOfPage(6), 127);
  EXPECT_EQ(HelpContextOfPage(7), 0);
  EXPECT_EQ(WithLfBreaks("a\r\nb\rc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(WithCrLfBreaks("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(ChooserStart(" \t/tmp/a.wav\n", "/opt/sentrel"), "/tmp/a.wav");
  EXPECT_EQ(ChooserStart(" ", "/opt/sentrel"), "/opt/sentrel");
}

// A worker reading the host while the dialog writes it back sees every
// field whole: the old value or the new one (the thread sanitizer build
// also checks that no access races).
TEST(HostFormCopy, WorkerSeesEveryFieldOldOrNewWhileTheDialogWrites) {
  HostEntry host;
  HostSettings a = ReadHostSettings(host);
  HostSettings b = a;
  b.HostIP = std::string(200, '9');
  b.TimeOut = 700;
  b.Times = kSlotMask;
  b.OnLoss.EmailAddress = std::string(300, 'm');
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread worker([&] {
    for (int i = 0; i < 20000 && !done; ++i) {
      const HostSettings seen = ReadHostSettings(host);
      if (seen.HostIP != a.HostIP && seen.HostIP != b.HostIP) ++torn;
      if (seen.TimeOut != a.TimeOut && seen.TimeOut != b.TimeOut) ++torn;
      if (seen.Times != a.Times && seen.Times != b.Times) ++torn;
      if (seen.OnLoss.EmailAddress != a.OnLoss.EmailAddress &&
          seen.OnLoss.EmailAddress != b.OnLoss.EmailAddress)
        ++torn;
    }
  });
  for (int i = 0; i < 2000; ++i) WriteHostSettings(i % 2 ? a : b, host);
  done = true;
  worker.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(ReadHostSettings(host), a);
}

}  // namespace
}  // namespace sentrel
