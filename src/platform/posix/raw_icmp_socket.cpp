#include "platform/raw_icmp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/icmp_socket_util.h"

namespace sentrel {

namespace {

class PosixRawIcmpSocket final : public RawIcmpSocket {
 public:
  explicit PosixRawIcmpSocket(int fd) : fd_(fd) {}
  ~PosixRawIcmpSocket() override { close(fd_); }
  PosixRawIcmpSocket(const PosixRawIcmpSocket&) = delete;
  PosixRawIcmpSocket& operator=(const PosixRawIcmpSocket&) = delete;

  int Descriptor() const override { return fd_; }

  bool SetTtl(int ttl) override {
    return setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0;
  }
  bool SetTos(int tos) override {
    return setsockopt(fd_, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0;
  }

  bool KeepOnlyIdentifier(uint16_t identifier) override {
    return posix::SetIcmpTypeFilter(fd_) && posix::AttachIdentifierFilter(fd_, identifier);
  }

  bool SendTo(uint32_t address, std::span<const uint8_t> message) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    return sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) >= 0;
  }

  long Receive(std::span<uint8_t> buffer) override {
    for (;;) {
      ssize_t n = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n >= 0 || errno != EINTR) return n;
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<RawIcmpSocket> OpenRawIcmpSocket() {
  int fd = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixRawIcmpSocket>(fd);
}

}  // namespace sentrel
