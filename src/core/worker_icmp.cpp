#include "core/worker_icmp.h"

#include <functional>
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

// Refuses new requests once `finish` is requested; with `cutInFlight` the
// request in flight is interrupted then too.
class FinishableChannel final : public IcmpChannel {
 public:
  FinishableChannel(std::unique_ptr<IcmpChannel> inner, std::stop_token finish, bool cutInFlight)
      : inner_(std::move(inner)), finish_(std::move(finish)), cutInFlight_(cutInFlight) {}

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    if (finish_.stop_requested()) {
      reply = IcmpEchoReply{address, kIpRequestTimedOut, 0};
      return 0;
    }
    if (!cutInFlight_) return inner_->SendEcho(address, data, options, reply, timeoutMs);
    const std::stop_callback interrupt(finish_, [this] { inner_->Interrupt(); });
    return inner_->SendEcho(address, data, options, reply, timeoutMs);
  }

  int SendEcho6(const IpAddress& address, std::span<const uint8_t> data,
                const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) override {
    if (finish_.stop_requested()) {
      reply = Icmp6EchoReply{address, kIpRequestTimedOut, 0, 0};
      return 0;
    }
    if (!cutInFlight_) return inner_->SendEcho6(address, data, options, reply, timeoutMs);
    const std::stop_callback interrupt(finish_, [this] { inner_->Interrupt(); });
    return inner_->SendEcho6(address, data, options, reply, timeoutMs);
  }

  void Interrupt() override { inner_->Interrupt(); }

 private:
  std::unique_ptr<IcmpChannel> inner_;
  std::stop_token finish_;
  bool cutInFlight_;
};

// A library whose channels are wrapped by `wrap`.
class WrappingLibrary final : public IcmpLibrary {
 public:
  using Wrap = std::function<std::unique_ptr<IcmpChannel>(std::unique_ptr<IcmpChannel>)>;
  WrappingLibrary(std::shared_ptr<IcmpLibrary> inner, Wrap wrap)
      : inner_(std::move(inner)), wrap_(std::move(wrap)) {}

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    auto channel = inner_->CreateChannel();
    if (!channel) return nullptr;
    return wrap_(std::move(channel));
  }

 private:
  std::shared_ptr<IcmpLibrary> inner_;
  Wrap wrap_;
};

}  // namespace

IcmpContext WorkerIcmpContext(const IcmpContext& base, UiThread& ui) {
  IcmpContext context = base;
  if (base.library) {
    context.library = std::make_shared<WrappingLibrary>(base.library, [](auto channel) {
      return std::make_unique<StoppableChannel>(std::move(channel));
    });
  }
  context.onWindowThread = [&ui](const std::function<void()>& step) {
    CallOnUiThread(ui, step, CurrentWorkerStopToken());
  };
  return context;
}

namespace {

IcmpContext StopAwareContext(const IcmpContext& base, std::stop_token finish, bool cutInFlight) {
  IcmpContext context = base;
  if (base.library) {
    context.library = std::make_shared<WrappingLibrary>(
        base.library,
        [finish = std::move(finish), cutInFlight](std::unique_ptr<IcmpChannel> channel) {
          return std::make_unique<FinishableChannel>(std::move(channel), finish, cutInFlight);
        });
  }
  return context;
}

}  // namespace

IcmpContext FinishableIcmpContext(const IcmpContext& base, std::stop_token finish) {
  return StopAwareContext(base, std::move(finish), false);
}

IcmpContext CuttableIcmpContext(const IcmpContext& base, std::stop_token cut) {
  return StopAwareContext(base, std::move(cut), true);
}

}  // namespace sentrel
