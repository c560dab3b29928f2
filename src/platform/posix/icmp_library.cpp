#include "platform/icmp_library.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/posix/icmp_engine.h"

namespace sentrel {

namespace {

using posix::IcmpEngine;

// Which engine serves a request: one per socket kind, network namespace and
// buffer size.
struct EngineKey {
  IcmpSocketKind kind;
  dev_t device;
  ino_t inode;
  int receiveBufferBytes;
  bool operator==(const EngineKey&) const = default;
};

EngineKey KeyForThisThread(IcmpSocketKind kind, IcmpLibraryTuning tuning) {
  EngineKey key{kind, 0, 0, tuning.receiveBufferBytes};
  // A thread's namespace is named by the inode of its namespace file; where
  // /proc is missing, every thread counts as in one namespace.
  struct stat status{};
  if (stat("/proc/thread-self/ns/net", &status) == 0) {
    key.device = status.st_dev;
    key.inode = status.st_ino;
  }
  return key;
}

// The engines of the process. An entry lives as long as a library or a
// channel holds its engine; a namespace cannot go (and its inode be reused)
// while a socket in it is open.
class EngineRegistry {
 public:
  static EngineRegistry& Instance() {
    static EngineRegistry registry;
    return registry;
  }

  std::shared_ptr<IcmpEngine> Get(IcmpSocketKind kind, IcmpLibraryTuning tuning) {
    const EngineKey key = KeyForThisThread(kind, tuning);
    std::lock_guard lock(mutex_);
    std::erase_if(engines_, [](const Entry& e) { return e.engine.expired(); });
    for (const Entry& e : engines_) {
      if (e.key == key)
        if (auto engine = e.engine.lock()) return engine;
    }
    auto engine = IcmpEngine::Open(kind, tuning.receiveBufferBytes);
    if (engine) engines_.push_back({key, engine});
    return engine;
  }

 private:
  struct Entry {
    EngineKey key;
    std::weak_ptr<IcmpEngine> engine;
  };
  std::mutex mutex_;
  std::vector<Entry> engines_;
};

class SharedChannel final : public IcmpChannel {
 public:
  explicit SharedChannel(std::shared_ptr<IcmpEngine> engine) : engine_(std::move(engine)) {}

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    return engine_->Echo(caller_, address, data, options, reply, timeoutMs);
  }

  void Interrupt() override { engine_->Interrupt(caller_); }

 private:
  std::shared_ptr<IcmpEngine> engine_;
  IcmpEngine::Caller caller_;
};

class SocketIcmpLibrary final : public IcmpLibrary {
 public:
  SocketIcmpLibrary(IcmpSocketKind kind, IcmpLibraryTuning tuning) : kind_(kind), tuning_(tuning) {}

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    auto engine = EngineRegistry::Instance().Get(kind_, tuning_);
    if (!engine) return nullptr;
    Hold(engine);
    return std::make_unique<SharedChannel>(std::move(engine));
  }

 private:
  // The library keeps the engines it has used, so a namespace's socket is
  // opened once and not again for every short-lived channel ("Ping now").
  void Hold(const std::shared_ptr<IcmpEngine>& engine) {
    std::lock_guard lock(mutex_);
    if (std::find(held_.begin(), held_.end(), engine) == held_.end()) held_.push_back(engine);
  }

  IcmpSocketKind kind_;
  IcmpLibraryTuning tuning_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<IcmpEngine>> held_;
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
