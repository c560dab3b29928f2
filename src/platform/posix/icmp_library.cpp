#include "platform/icmp_library.h"

#include <sys/stat.h>

#include <mutex>
#include <vector>

#include "platform/posix/icmp_engine.h"

namespace sentrel {

namespace {

using posix::IcmpEngine;

// A network namespace, named by the device and inode of its namespace file.
struct NamespaceKey {
  dev_t device;
  ino_t inode;
  bool operator==(const NamespaceKey&) const = default;
};

NamespaceKey KeyForThisThread() {
  NamespaceKey key{0, 0};
  // Where /proc is missing, every thread counts as in one namespace.
  struct stat status{};
  if (stat("/proc/thread-self/ns/net", &status) == 0) {
    key.device = status.st_dev;
    key.inode = status.st_ino;
  }
  return key;
}

class SharedChannel final : public IcmpChannel {
 public:
  // `engine6` may be missing: a system without IPv6.
  SharedChannel(std::shared_ptr<IcmpEngine> engine, std::shared_ptr<IcmpEngine> engine6)
      : engine_(std::move(engine)), engine6_(std::move(engine6)) {}

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    Icmp6EchoReply answer;
    const int replies = Echo(*engine_, caller_, IpAddress::V4(address), data, options, answer,
                             timeoutMs);
    reply = IcmpEchoReply{answer.Address.V4Value(), answer.Status, answer.RoundTripTime,
                          answer.RoundTripMicroseconds, answer.Ttl};
    return replies;
  }

  int SendEcho6(const IpAddress& address, std::span<const uint8_t> data,
                const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) override {
    if (!engine6_ || !address.IsV6())
      return IcmpChannel::SendEcho6(address, data, options, reply, timeoutMs);
    return Echo(*engine6_, caller6_, address, data, options, reply, timeoutMs);
  }

  void Interrupt() override {
    std::lock_guard lock(mutex_);
    if (inFlight_ != nullptr)
      inFlight_->engine->Interrupt(*inFlight_->caller);
    else
      interruptNext_ = true;
  }

 private:
  struct Request {
    IcmpEngine* engine;
    IcmpEngine::Caller* caller;
  };

  // Each engine keeps its own word of the channel; an interrupt goes to the
  // one with the request in flight, or waits for the next request of either.
  int Echo(IcmpEngine& engine, IcmpEngine::Caller& caller, const IpAddress& address,
           std::span<const uint8_t> data, const IcmpEchoOptions& options, Icmp6EchoReply& reply,
           int timeoutMs) {
    Request request{&engine, &caller};
    {
      std::lock_guard lock(mutex_);
      if (interruptNext_) {
        interruptNext_ = false;
        reply = Icmp6EchoReply{address, kIpRequestTimedOut, 0, 0};
        return 0;
      }
      inFlight_ = &request;
    }
    const int replies = engine.Echo(caller, address, data, options, reply, timeoutMs);
    std::lock_guard lock(mutex_);
    inFlight_ = nullptr;
    return replies;
  }

  std::shared_ptr<IcmpEngine> engine_;
  std::shared_ptr<IcmpEngine> engine6_;
  IcmpEngine::Caller caller_;
  IcmpEngine::Caller caller6_;
  std::mutex mutex_;
  Request* inFlight_ = nullptr;
  bool interruptNext_ = false;
};

class SocketIcmpLibrary final : public IcmpLibrary {
 public:
  SocketIcmpLibrary(IcmpSocketKind kind, IcmpLibraryTuning tuning) : kind_(kind), tuning_(tuning) {}

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    auto engine = EngineForThisThread(false);
    if (!engine) return nullptr;
    return std::make_unique<SharedChannel>(std::move(engine), EngineForThisThread(true));
  }

 private:
  // The engine of the calling thread's namespace, opened on first use. The
  // library keeps the engines it has opened, so a namespace's socket is
  // opened once and not again for every short-lived channel ("Ping now"); a
  // namespace cannot go (and its inode be reused) while a socket in it is
  // open.
  // A namespace without IPv6 is asked again for each channel, which is
  // cheap: the socket call fails at once.
  std::shared_ptr<IcmpEngine> EngineForThisThread(bool ipv6) {
    const NamespaceKey key = KeyForThisThread();
    std::lock_guard lock(mutex_);
    for (const Entry& e : engines_) {
      if (e.key == key && e.ipv6 == ipv6) return e.engine;
    }
    auto engine = IcmpEngine::Open(kind_, ipv6, tuning_.receiveBufferBytes);
    if (engine) engines_.push_back({key, ipv6, engine});
    return engine;
  }

  struct Entry {
    NamespaceKey key;
    bool ipv6;
    std::shared_ptr<IcmpEngine> engine;
  };
  IcmpSocketKind kind_;
  IcmpLibraryTuning tuning_;
  std::mutex mutex_;
  std::vector<Entry> engines_;
};

}  // namespace

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind kind, IcmpLibraryTuning tuning) {
  auto library = std::make_shared<SocketIcmpLibrary>(kind, tuning);
  // The library counts as present when a channel of its kind can be made.
  if (library->CreateChannel() == nullptr) return nullptr;
  return library;
}

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind kind) {
  return LoadIcmpLibrary(kind, IcmpLibraryTuning{});
}

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary() {
  if (auto library = LoadIcmpLibrary(IcmpSocketKind::Datagram)) return library;
  return LoadIcmpLibrary(IcmpSocketKind::Raw);
}

}  // namespace sentrel
