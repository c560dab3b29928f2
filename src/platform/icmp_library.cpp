#include "platform/icmp_library.h"

#include <cerrno>
#include <bitset>
#include <mutex>
#include <random>

namespace sentrel {

uint32_t IpStatusFromIcmp(uint8_t type, uint8_t code) {
  switch (type) {
    case 0:
      return kIpSuccess;
    case 3:
      switch (code) {
        case 0: case 6: case 9: case 11:
          return kIpDestNetUnreachable;
        case 2:
          return kIpDestProtocolUnreachable;
        case 3:
          return kIpDestPortUnreachable;
        case 4:
          return kIpPacketTooBig;
        case 5:
          return kIpBadRoute;
        default:  // 1, 7, 8, 10, 12-15 and codes defined later
          return kIpDestHostUnreachable;
      }
    case 4:
      return kIpSourceQuench;
    case 11:
      return code == 1 ? kIpTtlExpiredReassembly : kIpTtlExpiredTransit;
    case 12:
      return kIpParameterProblem;
    default:
      return kIpGeneralFailure;
  }
}

// ICMPv6 errors (RFC 4443) on the codes that the program knows:
//
//   type  code  meaning                                   status
//   1     0     no route to destination                   11002
//   1     1     administratively prohibited               11004
//   1     2     beyond scope of source address            11003
//   1     3     address unreachable                       11003
//   1     4     port unreachable                          11005
//   1     5     source address failed ingress policy      11004
//   1     6     reject route to destination               11004
//   1     >6    (later codes)                             11003
//   2     any   packet too big                            11009
//   3     0     hop limit exceeded in transit             11013
//   3     1     fragment reassembly time exceeded         11014
//   4     any   parameter problem                         11015
//   129   any   echo reply                                0
//   other                                                 11050
uint32_t IpStatusFromIcmp6(uint8_t type, uint8_t code) {
  switch (type) {
    case 1:
      switch (code) {
        case 0:
          return kIpDestNetUnreachable;
        case 1: case 5: case 6:
          return kIpDestProtocolUnreachable;  // Windows' "prohibited" shares this number
        case 4:
          return kIpDestPortUnreachable;
        default:
          return kIpDestHostUnreachable;
      }
    case 2:
      return kIpPacketTooBig;
    case 3:
      return code == 1 ? kIpTtlExpiredReassembly : kIpTtlExpiredTransit;
    case 4:
      return kIpParameterProblem;
    case 129:
      return kIpSuccess;
    default:
      return kIpGeneralFailure;
  }
}

uint32_t IpStatusFromErrno(int error) {
  switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
      return kIpDestNetUnreachable;
    case EHOSTUNREACH:
#ifdef EHOSTDOWN  // not every system has it
    case EHOSTDOWN:
#endif
      return kIpDestHostUnreachable;
    case ENOPROTOOPT:
    case EPROTO:
      return kIpDestProtocolUnreachable;
    case ECONNREFUSED:
      return kIpDestPortUnreachable;
    case EMSGSIZE:
      return kIpPacketTooBig;
    case ETIMEDOUT:
      return kIpRequestTimedOut;
    default:
      return kIpGeneralFailure;
  }
}

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (i < bytes.size()) sum += static_cast<uint32_t>(bytes[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

namespace {

struct IdentifierPool {
  std::mutex mutex;
  std::bitset<65536> taken;
  // Start from a random value, so that two instances on one host
  // rarely pick the same identifiers for their raw sockets.
  uint32_t next = std::random_device{}() >> 16;
};

IdentifierPool& Pool() {
  static IdentifierPool pool;
  return pool;
}

}  // namespace

bool AcquireIcmpIdentifier(uint16_t& identifier) {
  IdentifierPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  for (uint32_t n = 0; n < 65536; ++n) {
    uint16_t candidate = static_cast<uint16_t>(pool.next++);
    if (!pool.taken[candidate]) {
      pool.taken[candidate] = true;
      identifier = candidate;
      return true;
    }
  }
  return false;
}

void ReleaseIcmpIdentifier(uint16_t identifier) {
  IdentifierPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  pool.taken[identifier] = false;
}

}  // namespace sentrel
