#include "platform/mailslot.h"

#include <windows.h>

#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

// Where the payload (sender, recipient and text) starts in the datagram that
// the callers build for the wire: the system's mailslot writer makes that
// datagram itself and takes only the payload.
constexpr std::size_t kPayloadOffset = 169;

HANDLE Handle(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

}  // namespace

RemoteMailslot::~RemoteMailslot() { Close(); }

void RemoteMailslot::Close() {
  if (fd_ >= 0) CloseHandle(Handle(fd_));
  fd_ = -1;
  localAddress_ = 0;
}

// The messenger mailslot of the named computer, through the redirector ("*"
// is the system's own name for every computer of the primary domain). A
// remote mailslot opens whether anyone listens or not; only a name that
// cannot be a computer name fails here.
bool RemoteMailslot::Open(const std::string& computer) {
  Close();
  if (!IsValidMailslotComputer(computer)) return false;
  const std::wstring path = Widen("\\\\" + computer + "\\mailslot\\messngr");
  HANDLE slot = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return false;
  // Handles are small numbers that fit the descriptor field.
  fd_ = static_cast<int>(reinterpret_cast<intptr_t>(slot));
  return true;
}

bool RemoteMailslot::Write(const std::vector<uint8_t>& datagram) {
  if (fd_ < 0 || datagram.size() <= kPayloadOffset) return false;
  const DWORD size = static_cast<DWORD>(datagram.size() - kPayloadOffset);
  DWORD written = 0;
  return WriteFile(Handle(fd_), datagram.data() + kPayloadOffset, size, &written, nullptr) &&
         written == size;
}

}  // namespace sentrel
