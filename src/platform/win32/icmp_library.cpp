#include "platform/icmp_library.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <mutex>
#include <vector>

namespace sentrel {

namespace {

// The reply buffer holds one reply record, the echoed data, room for an ICMP
// error message (8 bytes) and, for a request on an event, the I/O status
// block (two pointers) as the library asks.
std::size_t ReplyBufferSize(std::size_t dataSize) {
  return sizeof(ICMP_ECHO_REPLY) + dataSize + 8 + 2 * sizeof(void*);
}

// One handle of the ICMP library. A request runs asynchronously on an event,
// so that Interrupt (a second event) can end the wait at once.
class LibraryChannel final : public IcmpChannel {
 public:
  LibraryChannel(HANDLE icmp, HANDLE replied, HANDLE interrupted)
      : icmp_(icmp), replied_(replied), interrupted_(interrupted) {}
  ~LibraryChannel() override {
    IcmpCloseHandle(icmp_);
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
    if (WaitForSingleObject(interrupted_, 0) == WAIT_OBJECT_0) {
      reply.Status = kIpRequestTimedOut;
      return 0;
    }
    IP_OPTION_INFORMATION ipOptions{};
    ipOptions.Ttl = options.Ttl;
    ipOptions.Tos = options.Tos;
    request_.assign(data.begin(), data.end());
    buffer_.assign(ReplyBufferSize(data.size()), 0);
    const DWORD timeout = static_cast<DWORD>(timeoutMs < 1 ? 1 : timeoutMs);
    ResetEvent(replied_);
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    DWORD count = IcmpSendEcho2(icmp_, replied_, nullptr, nullptr, address, request_.data(),
                                static_cast<WORD>(request_.size()), &ipOptions, buffer_.data(),
                                static_cast<DWORD>(buffer_.size()), timeout);
    if (count == 0 && GetLastError() != ERROR_IO_PENDING) {
      reply.Status = StatusOfFailure(GetLastError());
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
        reply.Status = kIpRequestTimedOut;
        return 0;
      }
      count = IcmpParseReplies(buffer_.data(), static_cast<DWORD>(buffer_.size()));
    }
    if (count == 0) {
      reply.Status = kIpRequestTimedOut;
      return 0;
    }
    const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(buffer_.data());
    reply.Address = echo->Address;
    reply.Status = echo->Status;
    reply.RoundTripTime = echo->RoundTripTime;
    reply.RoundTripMicroseconds = MicrosecondsSince(started, echo->RoundTripTime);
    return 1;
  }

  void Interrupt() override { SetEvent(interrupted_); }

 private:
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
  HANDLE replied_;
  HANDLE interrupted_;
  std::vector<uint8_t> request_;
  std::vector<uint8_t> buffer_;
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
    return std::make_unique<LibraryChannel>(icmp, replied, interrupted);
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
