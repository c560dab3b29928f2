#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/host_entry.h"
#include "platform/desktop.h"

namespace sentrel::testing {

// A desktop that remembers every message box in full (icon and buttons too)
// and answers Yes/No boxes with `answer`.
class BoxRecorder final : public Desktop {
 public:
  struct Box {
    std::string text;
    std::string caption;
    MessageIcon icon;
    MessageButtons buttons;
  };
  MessageResult answer = MessageResult::Yes;
  std::vector<Box> boxes;

  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageIcon icon, MessageButtons buttons) override {
    boxes.push_back({text, caption, icon, buttons});
    return buttons == MessageButtons::Ok ? MessageResult::Ok : answer;
  }
  void PlaySound(const std::string&, bool) override {}
  void StopSounds() override {}
  void Beep() override {}
  void StartProgram(const std::string&, const std::string&) override {}
  void ShowHelp(int, int) override {}
};

// Gives every stored setting a value other than its default; strings carry
// 8-bit bytes and a line break, as the file keeps them unchanged.
inline void SetEveryField(HostEntry& h, const std::string& tag = "x") {
  h.Enabled = true;
  h.HostIP.Set("10.1.2.3");
  h.HostName.Set("name-" + tag);
  h.HostDesc.Set("desc \xE4\xF6\xFC\r\nsecond line " + tag);
  h.CheckEvery = 2;
  h.DayOfMonth = 17;
  h.DaysOfWeek = 0x22;
  h.Times = (uint64_t{1} << 16) | (uint64_t{1} << 47);
  h.PingInterval = 30;
  h.Retries = 3;
  h.TimeOut = 900;
  h.PTTL = 64;
  h.PTOS = 16;
  h.PBS = 32;
  h.TraceTimeOut = 7000;
  h.TraceBufferSize = 200;
  h.TraceTTL = 30;
  h.MaxNumHops = 20;
  h.LightTimes[0] = 10;
  h.LightTimes[1] = 20;
  h.LightTimes[2] = 30;
  h.LightTimes[3] = -40;
  h.PingByIP = false;
  h.UseAsDefault = true;
  int n = 0;
  for (AlarmSet* a : {&h.OnRenewal, &h.OnLoss}) {
    const std::string side = std::to_string(++n) + tag;
    a->Alarm = true;
    a->ShowBox = true;
    a->PlayWAV = true;
    a->WAVFile.Set("/sounds/" + side + ".wav");
    a->SendLan = true;
    a->LanName.Set("PC-" + side);
    a->SendEmail = true;
    a->EmailAddress.Set("ops" + side + "@example.org");
    a->RepeatCount = 2 + n;
    a->RunPrg = true;
    a->ProgramName.Set("/usr/bin/prog" + side);
    a->Params.Set("--host %HostIP% " + side);
    a->RunTraceRoute = true;
    a->Subject.Set("Subject %HostName% " + side);
    a->MesBody.Set("Body\r\n%StatusStr% " + side);
  }
}

// Every stored setting of a host by field name, for field-by-field comparison.
inline std::map<std::string, std::string> StoredFields(const HostEntry& h) {
  std::map<std::string, std::string> f;
  auto num = [](auto v) { return std::to_string(v); };
  f["Enabled"] = num(h.Enabled.load());
  f["HostIP"] = h.HostIP.Get();
  f["HostName"] = h.HostName.Get();
  f["HostDesc"] = h.HostDesc.Get();
  f["CheckEvery"] = num(h.CheckEvery.load());
  f["DayOfMonth"] = num(h.DayOfMonth.load());
  f["DaysOfWeek"] = num(h.DaysOfWeek.load());
  f["Times"] = num(h.Times.load());
  f["PingInterval"] = num(h.PingInterval.load());
  f["Retries"] = num(h.Retries.load());
  f["TimeOut"] = num(h.TimeOut.load());
  f["PTTL"] = num(h.PTTL.load());
  f["PTOS"] = num(h.PTOS.load());
  f["PBS"] = num(h.PBS.load());
  f["TraceTimeOut"] = num(h.TraceTimeOut.load());
  f["TraceBufferSize"] = num(h.TraceBufferSize.load());
  f["TraceTTL"] = num(h.TraceTTL.load());
  f["MaxNumHops"] = num(h.MaxNumHops.load());
  for (int i = 0; i < 4; ++i) f["LightTimes" + num(i)] = num(h.LightTimes[i].load());
  f["PingByIP"] = num(h.PingByIP.load());
  f["UseAsDefault"] = num(h.UseAsDefault.load());
  for (const auto& [side, a] : {std::pair<std::string, const AlarmSet*>{"OnRenewal.", &h.OnRenewal},
                                {"OnLoss.", &h.OnLoss}}) {
    f[side + "Alarm"] = num(a->Alarm.load());
    f[side + "ShowBox"] = num(a->ShowBox.load());
    f[side + "PlayWAV"] = num(a->PlayWAV.load());
    f[side + "WAVFile"] = a->WAVFile.Get();
    f[side + "SendLan"] = num(a->SendLan.load());
    f[side + "LanName"] = a->LanName.Get();
    f[side + "SendEmail"] = num(a->SendEmail.load());
    f[side + "EmailAddress"] = a->EmailAddress.Get();
    f[side + "RepeatCount"] = num(a->RepeatCount.load());
    f[side + "RunPrg"] = num(a->RunPrg.load());
    f[side + "ProgramName"] = a->ProgramName.Get();
    f[side + "Params"] = a->Params.Get();
    f[side + "RunTraceRoute"] = num(a->RunTraceRoute.load());
    f[side + "Subject"] = a->Subject.Get();
    f[side + "MesBody"] = a->MesBody.Get();
  }
  return f;
}

}  // namespace sentrel::testing
