#include "platform/raw_icmp_socket.h"

namespace sentrel {

// Windows opens raw sockets to administrators only and always has the ICMP
// library, which the program prefers; so it never falls back to a raw socket
// there, and the echo engine takes this as "no privilege".
std::unique_ptr<RawIcmpSocket> OpenRawIcmpSocket() { return nullptr; }

}  // namespace sentrel
