#include "core/worker_icmp.h"

#include <memory>
#include <stop_token>
#include <utility>

#include "core/host_worker.h"

namespace sentrel {

namespace {

class StoppableChannel final : public IcmpChannel {
 public:
  explicit StoppableChannel(std::unique_ptr<IcmpChannel> inner) : inner_(std::move(inner)) {}

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    const std::stop_token stop = CurrentWorkerStopToken();
    if (stop.stop_requested()) {
      reply = IcmpEchoReply{address, kIpRequestTimedOut, 0};
      return 0;
    }
    // Ending the worker cuts the request in flight short: quitting must not
    // wait out a time-out of several seconds.
    const std::stop_callback interrupt(stop, [this] { inner_->Interrupt(); });
    return inner_->SendEcho(address, data, options, reply, timeoutMs);
  }

  int SendEcho6(const IpAddress& address, std::span<const uint8_t> data,
                const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) override {
    const std::stop_token stop = CurrentWorkerStopToken();
    if (stop.stop_requested()) {
      reply = Icmp6EchoReply{address, kIpRequestTimedOut, 0, 0};
      return 0;
    }
    const std::stop_callback interrupt(stop, [this] { inner_->Interrupt(); });
    return inner_->SendEcho6(address, data, options, reply, timeoutMs);
  }

  void Interrupt() override { inner_->Interrupt(); }

 private:
  std::unique_ptr<IcmpChannel> inner_;
};

class StoppableLibrary final : public IcmpLibrary {
 public:
  explicit StoppableLibrary(std::shared_ptr<IcmpLibrary> inner) : inner_(std::move(inner)) {}

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    auto channel = inner_->CreateChannel();
    if (!channel) return nullptr;
    return std::make_unique<StoppableChannel>(std::move(channel));
  }

 private:
  std::shared_ptr<IcmpLibrary> inner_;
};

}  // namespace

IcmpContext WorkerIcmpContext(const IcmpContext& base, UiThread& ui) {
  IcmpContext context = base;
  if (base.library) context.library = std::make_shared<StoppableLibrary>(base.library);
  context.onWindowThread = [&ui](const std::function<void()>& step) {
    CallOnUiThread(ui, step, CurrentWorkerStopToken());
  };
  return context;
}

}  // namespace sentrel
