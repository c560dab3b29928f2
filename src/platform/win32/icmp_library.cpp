#include "platform/icmp_library.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstddef>
#include <cstring>
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

// One handle of the ICMP library. A request runs asynchronously on an event,
// so that Interrupt (a second event) can end the wait at once.
class LibraryChannel final : public IcmpChannel {
 public:
  // `icmp6` may be INVALID_HANDLE_VALUE: a system without IPv6 echo.
  LibraryChannel(HANDLE icmp, HANDLE icmp6, HANDLE replied, HANDLE interrupted)
      : icmp_(icmp), icmp6_(icmp6), replied_(replied), interrupted_(interrupted) {}
  ~LibraryChannel() override {
    IcmpCloseHandle(icmp_);
    if (icmp6_ != INVALID_HANDLE_VALUE) IcmpCloseHandle(icmp6_);
    // An interrupted request may still write its answer into the buffer
    // until its own time-out; the buffer outlives it.
    if (pending_) WaitForSingleObject(replied_, pendingTimeout_ + 1000);
    CloseHandle(replied_);
    CloseHandle(interrupted_);
  }

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    reply = IcmpEchoReply{};
    reply.Address = address;
    const DWORD timeout = Prepare(data, sizeof(ICMP_ECHO_REPLY), options, timeoutMs);
    if (timeout == 0) {
      reply.Status = kIpRequestTimedOut;
      return 0;
    }
    const DWORD sent = IcmpSendEcho2(icmp_, replied_, nullptr, nullptr, address, request_.data(),
                                     static_cast<WORD>(request_.size()), &ipOptions_,
                                     buffer_.data(), static_cast<DWORD>(buffer_.size()), timeout);
    if (Finish(sent, timeout, IcmpParseReplies, reply.Status) == 0) return 0;
    const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(buffer_.data());
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
    const DWORD timeout = Prepare(data, sizeof(Icmpv6EchoReply), options, timeoutMs);
    if (timeout == 0) {
      reply.Status = kIpRequestTimedOut;
      return 0;
    }
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    std::memcpy(&target.sin6_addr, address.V6Bytes().data(), address.V6Bytes().size());
    target.sin6_scope_id = address.Zone();
    const DWORD sent = Icmp6SendEcho2(icmp6_, replied_, nullptr, nullptr, &source, &target,
                                      request_.data(), static_cast<WORD>(request_.size()),
                                      &ipOptions_, buffer_.data(),
                                      static_cast<DWORD>(buffer_.size()), timeout);
    if (Finish(sent, timeout, Icmp6ParseReplies, reply.Status) == 0) return 0;
    const auto* echo = reinterpret_cast<const Icmpv6EchoReply*>(buffer_.data());
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
  // Readies the request, its reply buffer and options for one echo; returns
  // its time-out, or 0 once the channel was interrupted.
  DWORD Prepare(std::span<const uint8_t> data, std::size_t recordSize,
                const IcmpEchoOptions& options, int timeoutMs) {
    if (WaitForSingleObject(interrupted_, 0) == WAIT_OBJECT_0) return 0;
    ipOptions_ = IP_OPTION_INFORMATION{};
    ipOptions_.Ttl = options.Ttl;
    ipOptions_.Tos = options.Tos;
    request_.assign(data.begin(), data.end());
    buffer_.assign(ReplyBufferSize(recordSize, data.size()), 0);
    ResetEvent(replied_);
    QueryPerformanceCounter(&started_);
    return static_cast<DWORD>(timeoutMs < 1 ? 1 : timeoutMs);
  }

  // Ends a request sent on the event: the number of replies that `parse`
  // reads from the buffer, or 0 with `status` set.
  DWORD Finish(DWORD count, DWORD timeout, DWORD(WINAPI* parse)(LPVOID, DWORD),
               uint32_t& status) {
    if (count == 0 && GetLastError() != ERROR_IO_PENDING) {
      status = StatusOfFailure(GetLastError());
      return 0;
    }
    if (count == 0) {
      // The library ends the request by its own time-out; the extra second
      // only guards against a library that never signals.
      const HANDLE events[2] = {replied_, interrupted_};
      const DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeout + 1000);
      if (woke != WAIT_OBJECT_0) {
        // Interrupted: the channel takes no more requests (the interrupt
        // stays set), so the request still running keeps the buffers alone.
        pending_ = true;
        pendingTimeout_ = timeout;
        status = kIpRequestTimedOut;
        return 0;
      }
      count = parse(buffer_.data(), static_cast<DWORD>(buffer_.size()));
    }
    if (count == 0) status = kIpRequestTimedOut;
    return count;
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
  HANDLE replied_;
  HANDLE interrupted_;
  std::vector<uint8_t> request_;
  std::vector<uint8_t> buffer_;
  IP_OPTION_INFORMATION ipOptions_{};
  LARGE_INTEGER started_{};
  bool pending_ = false;  // an interrupted request may still be running
  DWORD pendingTimeout_ = 0;
};

class WindowsIcmpLibrary final : public IcmpLibrary {
 public:
  std::unique_ptr<IcmpChannel> CreateChannel() override {
    HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE replied = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE interrupted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (replied == nullptr || interrupted == nullptr) {
      IcmpCloseHandle(icmp);
      if (replied) CloseHandle(replied);
      if (interrupted) CloseHandle(interrupted);
      return nullptr;
    }
    return std::make_unique<LibraryChannel>(icmp, Icmp6CreateFile(), replied, interrupted);
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
