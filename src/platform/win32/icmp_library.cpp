#include "platform/icmp_library.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace sentrel {

namespace {

// The IPv6 reply record, which these headers lack: a byte-packed address
// part, then the status and the round-trip time at their natural places.
#pragma pack(push, 1)
struct Ipv6AddressEx {
  USHORT port;
  ULONG flowInfo;
  USHORT address[8];
  ULONG scopeId;
};
#pragma pack(pop)
struct Icmpv6EchoReply {
  Ipv6AddressEx Address;
  ULONG Status;
  unsigned int RoundTripTime;
};
static_assert(sizeof(Ipv6AddressEx) == 26 && offsetof(Icmpv6EchoReply, Status) == 28);

// The reply buffer holds one reply record, the echoed data, room for an ICMP
// error message (8 bytes) and, for a request on an event, the I/O status
// block (two pointers) as the library asks.
std::size_t ReplyBufferSize(std::size_t recordSize, std::size_t dataSize) {
  return recordSize + dataSize + 8 + 2 * sizeof(void*);
}

// One request sent on an event: the library writes its answer into
// `buffer` and signals `replied` when it ends, also after the caller stopped
// waiting, so all of it must live until then.
struct EchoRequest {
  HANDLE replied = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<uint8_t> data;
  std::vector<uint8_t> buffer;
  IP_OPTION_INFORMATION options{};
  DWORD timeout = 0;

  EchoRequest() = default;
  EchoRequest(const EchoRequest&) = delete;
  EchoRequest& operator=(const EchoRequest&) = delete;
  ~EchoRequest() {
    if (replied != nullptr) CloseHandle(replied);
  }
  bool Ended() const { return WaitForSingleObject(replied, 0) == WAIT_OBJECT_0; }
};

// One handle of the ICMP library. A request runs asynchronously on an event,
// so that Interrupt (a second event) can end the wait at once. A request
// whose wait ended before the library answered (interrupted, or a library
// that overran its time-out) is set aside with its buffers until it ends;
// the next request gets buffers and an event of its own.
class LibraryChannel final : public IcmpChannel {
 public:
  // `icmp6` may be INVALID_HANDLE_VALUE: a system without IPv6 echo.
  LibraryChannel(HANDLE icmp, HANDLE icmp6, HANDLE interrupted)
      : icmp_(icmp), icmp6_(icmp6), interrupted_(interrupted) {}
  ~LibraryChannel() override {
    // The requests still running end by their own time-out; only then may
    // their buffers go, and only then is the handle closed under them.
    WaitForAbandoned();
    IcmpCloseHandle(icmp_);
    if (icmp6_ != INVALID_HANDLE_VALUE) IcmpCloseHandle(icmp6_);
    CloseHandle(interrupted_);
  }

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    reply = IcmpEchoReply{};
    reply.Address = address;
    EchoRequest* request = Prepare(data, sizeof(ICMP_ECHO_REPLY), options, timeoutMs);
    if (request == nullptr) {
      reply.Status = kIpRequestTimedOut;
      return 0;
    }
    const DWORD sent = IcmpSendEcho2(icmp_, request->replied, nullptr, nullptr, address,
                                     request->data.data(), static_cast<WORD>(request->data.size()),
                                     &request->options, request->buffer.data(),
                                     static_cast<DWORD>(request->buffer.size()), request->timeout);
    if (Finish(sent, IcmpParseReplies, reply.Status) == 0) return 0;
    const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(request->buffer.data());
    reply.Address = echo->Address;
    reply.Status = echo->Status;
    reply.RoundTripTime = echo->RoundTripTime;
    reply.RoundTripMicroseconds = MicrosecondsSince(started_, echo->RoundTripTime);
    reply.Ttl = echo->Options.Ttl;
    return 1;
  }

  int SendEcho6(const IpAddress& address, std::span<const uint8_t> data,
                const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) override {
    reply = Icmp6EchoReply{address, kIpGeneralFailure, 0, 0};
    if (icmp6_ == INVALID_HANDLE_VALUE) return 0;
    EchoRequest* request = Prepare(data, sizeof(Icmpv6EchoReply), options, timeoutMs);
    if (request == nullptr) {
      reply.Status = kIpRequestTimedOut;
      return 0;
    }
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    std::memcpy(&target.sin6_addr, address.V6Bytes().data(), address.V6Bytes().size());
    target.sin6_scope_id = address.Zone();
    const DWORD sent = Icmp6SendEcho2(icmp6_, request->replied, nullptr, nullptr, &source, &target,
                                      request->data.data(),
                                      static_cast<WORD>(request->data.size()), &request->options,
                                      request->buffer.data(),
                                      static_cast<DWORD>(request->buffer.size()), request->timeout);
    if (Finish(sent, Icmp6ParseReplies, reply.Status) == 0) return 0;
    const auto* echo = reinterpret_cast<const Icmpv6EchoReply*>(request->buffer.data());
    IpAddress::Bytes bytes;
    std::memcpy(bytes.data(), echo->Address.address, bytes.size());
    reply.Address = IpAddress::V6(bytes, echo->Address.scopeId);
    reply.Status = echo->Status;
    reply.RoundTripTime = echo->RoundTripTime;
    reply.RoundTripMicroseconds = MicrosecondsSince(started_, echo->RoundTripTime);
    return 1;
  }

  void Interrupt() override { SetEvent(interrupted_); }

 private:
  // Readies the request, its reply buffer and options for one echo; nullptr
  // once the channel was interrupted or no event can be made.
  EchoRequest* Prepare(std::span<const uint8_t> data, std::size_t recordSize,
                       const IcmpEchoOptions& options, int timeoutMs) {
    if (WaitForSingleObject(interrupted_, 0) == WAIT_OBJECT_0) return nullptr;
    std::erase_if(abandoned_, [](const auto& request) { return request->Ended(); });
    if (current_ == nullptr) {
      current_ = std::make_unique<EchoRequest>();
      if (current_->replied == nullptr) {
        current_.reset();
        return nullptr;
      }
    }
    EchoRequest& request = *current_;
    request.options = IP_OPTION_INFORMATION{};
    request.options.Ttl = options.Ttl;
    request.options.Tos = options.Tos;
    request.data.assign(data.begin(), data.end());
    request.buffer.assign(ReplyBufferSize(recordSize, data.size()), 0);
    request.timeout = static_cast<DWORD>(timeoutMs < 1 ? 1 : timeoutMs);
    ResetEvent(request.replied);
    QueryPerformanceCounter(&started_);
    return &request;
  }

  // Ends the current request: the number of replies that `parse` reads from
  // its buffer, or 0 with `status` set.
  DWORD Finish(DWORD count, DWORD(WINAPI* parse)(LPVOID, DWORD), uint32_t& status) {
    EchoRequest& request = *current_;
    if (count == 0 && GetLastError() != ERROR_IO_PENDING) {
      status = StatusOfFailure(GetLastError());
      return 0;
    }
    if (count == 0) {
      // The library ends the request by its own time-out; the extra second
      // only guards against a library that never signals.
      const HANDLE events[2] = {request.replied, interrupted_};
      const DWORD woke = WaitForMultipleObjects(2, events, FALSE, request.timeout + 1000);
      if (woke != WAIT_OBJECT_0) {
        // Still running: it keeps its buffers and its event to itself.
        abandoned_.push_back(std::move(current_));
        status = kIpRequestTimedOut;
        return 0;
      }
      count = parse(request.buffer.data(), static_cast<DWORD>(request.buffer.size()));
    }
    if (count == 0) status = kIpRequestTimedOut;
    return count;
  }

  // Out of line: inlined into a destructor whose list is known to be empty,
  // the compiler warns of the loop it then cannot run.
  [[gnu::noinline]] void WaitForAbandoned() {
    for (const auto& request : abandoned_) {
      if (!request->Ended()) WaitForSingleObject(request->replied, request->timeout + 1000);
    }
    abandoned_.clear();
  }

  static uint32_t StatusOfFailure(DWORD error) {
    if (error >= kIpBufferTooSmall && error <= kIpGeneralFailure) return error;
    if (error == ERROR_NETWORK_UNREACHABLE) return kIpDestNetUnreachable;
    if (error == ERROR_HOST_UNREACHABLE) return kIpDestHostUnreachable;
    return kIpGeneralFailure;
  }

  // The library measures whole milliseconds only; our own clock gives the
  // finer figure, kept within the library's millisecond.
  static uint32_t MicrosecondsSince(LARGE_INTEGER started, uint32_t milliseconds) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const long long measured = (now.QuadPart - started.QuadPart) * 1000000 / frequency.QuadPart;
    const long long low = milliseconds * 1000LL;
    const long long high = low + 999;
    return static_cast<uint32_t>(measured < low ? low : measured > high ? high : measured);
  }

  HANDLE icmp_;
  HANDLE icmp6_;
  HANDLE interrupted_;
  std::unique_ptr<EchoRequest> current_;
  // Requests whose wait ended before they did; bounded by the requests
  // that can run within one time-out.
  std::vector<std::unique_ptr<EchoRequest>> abandoned_;
  LARGE_INTEGER started_{};
};

class WindowsIcmpLibrary final : public IcmpLibrary {
 public:
  std::unique_ptr<IcmpChannel> CreateChannel() override {
    HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE interrupted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (interrupted == nullptr) {
      IcmpCloseHandle(icmp);
      return nullptr;
    }
    return std::make_unique<LibraryChannel>(icmp, Icmp6CreateFile(), interrupted);
  }
};

}  // namespace

// Windows has one echo mechanism, the ICMP library; it needs no privilege, so
// both socket kinds name it. "Library missing" is a library that refuses a
// handle.
std::shared_ptr<IcmpLibrary> LoadIcmpLibrary() {
  auto library = std::make_shared<WindowsIcmpLibrary>();
  if (library->CreateChannel() == nullptr) return nullptr;
  return library;
}

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind) { return LoadIcmpLibrary(); }

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind, IcmpLibraryTuning) {
  return LoadIcmpLibrary();
}

}  // namespace sentrel
