#include "core/host_worker.h"

#include <algorithm>
#include <utility>

#include "platform/thread_timing.h"
#include "probes/address.h"
#include "probes/ping_probe.h"

namespace sentrel {

namespace {

// Plain pointers only: a thread-local object with a destructor is destroyed
// after its storage is freed on MinGW (emutls), which corrupts the heap.
thread_local const std::stop_token* t_workerStop = nullptr;
thread_local bool t_onHostWorker = false;

}  // namespace

std::stop_token CurrentWorkerStopToken() {
  return t_workerStop != nullptr ? *t_workerStop : std::stop_token{};
}

bool OnHostWorker() { return t_onHostWorker; }

WorkerStopScope::WorkerStopScope(std::stop_token stop)
    : stop_(std::move(stop)), outer_(t_workerStop) {
  t_workerStop = &stop_;
}

WorkerStopScope::~WorkerStopScope() { t_workerStop = outer_; }

void ApplyProbeSettings(const HostEntry& host, PingProbe& probe) {
  if (const int32_t size = host.PBS; size > 0) probe.dataSize = static_cast<uint8_t>(size);
  probe.timeout = host.TimeOut;
  if (const int32_t ttl = host.PTTL; ttl > 0) probe.ttl = static_cast<uint8_t>(ttl);
  probe.tos = static_cast<uint8_t>(host.PTOS.load());
  probe.targetText = host.HostIP.Get();
  probe.family = AddressFamilyOf(host.IPFamily);
  probe.tag = host.HostName.Get();
}

void RunScheduledCheck(HostEntry& host, PingProbe& probe, std::stop_token stop) {
  host.WasChecked = true;
  if (!host.PingByIP) {
    const IpAddress address = ResolveAddress(host.HostName.Get(), AddressFamilyOf(host.IPFamily));
    host.HostIP.Set(IsNoAddress(address) ? "??.??.??" : AddressText(address));
  }
  // The settings reach the probe here, on the worker, between requests: the
  // window thread never changes a probe that has a request in flight.
  ApplyProbeSettings(host, probe);
  do {
    probe.Run();
  } while (!stop.stop_requested() && host.FailCount != 0 && host.FailCount < host.Retries);
  host.FailCount = 0;
}

HostWorker::HostWorker(HostEntry& host, const Clock& clock, const std::atomic<bool>& pinging,
                       WorkerTiming timing, Check check)
    : host_(host), clock_(clock), pinging_(pinging), timing_(timing), check_(std::move(check)) {
  started_ = thread_.Start(&HostWorker::Start, this, kStackSize);
}

HostWorker::~HostWorker() {
  RequestEnd();
  Join();
}

void HostWorker::Pause() {
  {
    std::lock_guard lock(mutex_);
    paused_ = true;
    ++pauses_;
    wake_.Bump();
  }
  wake_.Wake();
}

void HostWorker::Resume() {
  {
    std::lock_guard lock(mutex_);
    paused_ = false;
    wake_.Bump();
  }
  wake_.Wake();
}

void HostWorker::CheckNow() {
  {
    std::lock_guard lock(mutex_);
    checkNow_ = true;
    wake_.Bump();
  }
  wake_.Wake();
}

bool HostWorker::Paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

void HostWorker::RequestEnd() {
  stop_.request_stop();
  Alert();
}

void HostWorker::Alert() {
  wake_.Bump();
  wake_.Wake();
}

void HostWorker::Join() {
  if (!started_ || joined_) return;
  thread_.Join();
  joined_ = true;
}

void HostWorker::Start(void* self) { static_cast<HostWorker*>(self)->Loop(); }

void HostWorker::Loop() {
  const std::stop_token stop = stop_.get_token();
  const WorkerStopScope scope(stop);
  t_onHostWorker = true;
  for (;;) {
    bool asked = false;
    {
      std::unique_lock lock(mutex_);
      if (!WaitWhilePaused(lock)) return;
      seenPauses_ = pauses_;
      asked = std::exchange(checkNow_, false);
    }
    if (asked || host_.CheckEvery == kCheckAlways || clock_.Now() >= host_.NextCheck) check_(stop);
    if (stop.stop_requested()) return;
    if (!WaitCycle()) return;
  }
}

bool HostWorker::WaitWhilePaused(std::unique_lock<std::mutex>& lock) {
  const std::stop_token stop = stop_.get_token();
  // A worker left running while checks are off would check without pause:
  // it holds here until checks run again.
  while (!stop.stop_requested() && (paused_ || !pinging_.load())) {
    const uint32_t seen = wake_.Value();
    if (stop.stop_requested()) break;
    lock.unlock();
    wake_.Wait(seen);
    lock.lock();
  }
  return !stop.stop_requested();
}

bool HostWorker::WaitCycle() {
  const std::stop_token stop = stop_.get_token();
  int waited = 0;
  while (waited < timing_.waitsPerCycle && pinging_.load()) {
    // The waits left in the cycle pass as one: a thousand workers waking
    // every few milliseconds each would cost more than the checks.
    const std::chrono::milliseconds length = std::max(WaitLength(), std::chrono::milliseconds(1));
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + length * (timing_.waitsPerCycle - waited);
    const auto slack = std::min<std::chrono::microseconds>(
        length * timing_.waitsPerCycle / kWakeSlackPerCycle, kMaxWakeSlack);
    if (slack != slack_) {
      AllowLateWakeUps(slack);
      slack_ = slack;
    }
    std::unique_lock lock(mutex_);
    // Only a pause, CheckNow or the end interrupts a wait. A pause asked for during
    // the check takes effect here; one that was already lifted again still
    // ends the current wait, so a pause is never lost.
    bool paused = false;
    for (;;) {
      const uint32_t seen = wake_.Value();
      if (stop.stop_requested()) return false;
      paused = paused_ || pauses_ != seenPauses_;
      if (paused || checkNow_ || std::chrono::steady_clock::now() >= end) break;
      lock.unlock();
      wake_.WaitUntil(seen, end);
      lock.lock();
    }
    if (!paused) return true;
    // The pause ended the wait it fell into; once resumed, the cycle counts
    // on from the next one.
    waited += static_cast<int>((std::chrono::steady_clock::now() - start) / length) + 1;
    seenPauses_ = pauses_;
    if (!WaitWhilePaused(lock)) return false;
  }
  return true;
}

std::chrono::milliseconds HostWorker::WaitLength() const {
  if (host_.CheckEvery != kCheckAlways) return timing_.scheduledWait;
  // An interval below one second (a hand-edited file) would make the worker
  // check without any pause.
  return std::max<int32_t>(host_.PingInterval, 1) * timing_.perIntervalSecond;
}

}  // namespace sentrel
