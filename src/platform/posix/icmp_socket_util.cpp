#include "platform/posix/icmp_socket_util.h"

#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <span>

namespace sentrel::posix {

namespace {
// Old-style casts in the kernel's BPF macros make them unusable under our
// warning flags; these are the same encodings.
constexpr sock_filter Stmt(uint16_t code, uint32_t k) { return sock_filter{code, 0, 0, k}; }
constexpr sock_filter Jump(uint16_t code, uint32_t k, uint8_t jt, uint8_t jf) {
  return sock_filter{code, jt, jf, k};
}

bool Attach(int fd, std::span<sock_filter> code) {
  sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
  return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}
}  // namespace

bool AttachIdentifierFilter(int fd, uint16_t identifier) {
  // The packet starts at the IP header. Errors are matched through the quoted
  // request only when the outer header has no options (fixed offset 28);
  // anything else is passed on for the receive checks to decide.
  sock_filter code[] = {
      Stmt(BPF_LDX | BPF_B | BPF_MSH, 0),            // 0: X = outer header length
      Stmt(BPF_LD | BPF_B | BPF_IND, 0),             // 1: A = ICMP type
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 2),      // 2: echo reply?
      Stmt(BPF_LD | BPF_H | BPF_IND, 4),             // 3: A = identifier
      Jump(BPF_JMP | BPF_JEQ | BPF_K, identifier, 10, 11),  // 4
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 3, 3, 0),      // 5: unreachable
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 11, 2, 0),     // 6: time exceeded
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 12, 1, 0),     // 7: parameter problem
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 4, 0, 7),      // 8: source quench
      Stmt(BPF_LD | BPF_B | BPF_ABS, 0),             // 9
      Stmt(BPF_ALU | BPF_AND | BPF_K, 0x0f),         // 10
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 5, 0, 3),      // 11: outer header plain?
      Stmt(BPF_LDX | BPF_B | BPF_MSH, 28),           // 12: X = quoted header length
      Stmt(BPF_LD | BPF_H | BPF_IND, 32),            // 13: A = quoted identifier
      Jump(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),  // 14
      Stmt(BPF_RET | BPF_K, 0xFFFF),                 // 15: accept
      Stmt(BPF_RET | BPF_K, 0),                      // 16: drop
  };
  return Attach(fd, code);
}

bool SetIcmpTypeFilter(int fd) {
  // Bits set here are the types the kernel drops for this socket; our own
  // echo requests, seen on loopback, are among them.
  uint32_t pass = (1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                  (1u << ICMP_SOURCE_QUENCH) | (1u << ICMP_TIME_EXCEEDED) |
                  (1u << ICMP_PARAMETERPROB);
  icmp_filter filter{~pass};
  return setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

bool AttachIdentifier6Filter(int fd, uint16_t identifier) {
  // An error quotes the request's 40-byte IPv6 header: its identifier stands
  // at 8 + 40 + 4.
  sock_filter code[] = {
      Stmt(BPF_LD | BPF_B | BPF_ABS, 0),                        // 0: A = type
      Jump(BPF_JMP | BPF_JEQ | BPF_K, ICMP6_ECHO_REPLY, 0, 2),  // 1
      Stmt(BPF_LD | BPF_H | BPF_ABS, 4),                        // 2: A = identifier
      Jump(BPF_JMP | BPF_JEQ | BPF_K, identifier, 4, 5),        // 3
      Jump(BPF_JMP | BPF_JGT | BPF_K, ICMP6_PARAM_PROB, 4, 0),  // 4: not 1..4
      Jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 3, 0),                 // 5
      Stmt(BPF_LD | BPF_H | BPF_ABS, 52),                       // 6: quoted identifier
      Jump(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),        // 7
      Stmt(BPF_RET | BPF_K, 0xFFFF),                            // 8: accept
      Stmt(BPF_RET | BPF_K, 0),                                 // 9: drop
  };
  return Attach(fd, code);
}

bool SetIcmp6TypeFilter(int fd) {
  // Our own echo requests, seen on loopback, are blocked with the rest.
  icmp6_filter filter;
  ICMP6_FILTER_SETBLOCKALL(&filter);
  for (int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED,
                   ICMP6_PARAM_PROB})
    ICMP6_FILTER_SETPASS(type, &filter);
  return setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
}

}  // namespace sentrel::posix
