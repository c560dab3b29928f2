#pragma once

#include <string>
#include <vector>

#include "core/data_file.h"
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

// Gives every stored setting a value other than its default (so that every
// tag is written); strings carry letters beyond ASCII and a line break, which
// the file keeps unchanged.
inline void SetEveryField(HostEntry& h, const std::string& tag = "x") {
  h.Enabled = true;
  h.HostIP.Set("10.1.2.3");
  h.HostName.Set("name-" + tag);
  h.HostDesc.Set("desc äöü\r\nsecond line " + tag);
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
  h.DegradedLatency = 250;
  h.DegradedLoss = 5;
  h.DegradedChecks = 30;
  h.DegradedTargets.Set("ops,chat-" + tag);
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
    a->Targets.Set("ops,pager " + side);
  }
}

// A host's block as its lines, so that a difference shows field by field.
inline std::vector<std::string> BlockLines(const HostEntry& host) {
  const std::string block = FormatHostBlock(host);
  std::vector<std::string> lines;
  for (std::size_t pos = 0, end; (end = block.find("\r\n", pos)) != std::string::npos;
       pos = end + 2) {
    lines.push_back(block.substr(pos, end - pos));
  }
  return lines;
}

}  // namespace sentrel::testing
