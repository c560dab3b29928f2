#include <map>
#include <vector>

#include "platform/win32/ras_lines.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

// RasDial with a callback returns at once; the progress is read back through
// RasGetConnectStatus, so the callback has nothing to do.
VOID WINAPI IgnoreProgress(HRASCONN, UINT, RASCONNSTATE, DWORD, DWORD) {}

// Calls `fill(buffer, &bytes, &count)` with a buffer of T records (dwSize
// set as the functions demand), growing it as ERROR_BUFFER_TOO_SMALL asks.
template <typename T, typename Fill>
std::vector<T> Enumerate(Fill fill) {
  std::vector<T> records(1);
  for (int attempt = 0; attempt < 4; ++attempt) {
    for (T& record : records) record.dwSize = sizeof(T);
    DWORD bytes = static_cast<DWORD>(records.size() * sizeof(T));
    DWORD count = 0;
    const DWORD result = fill(records.data(), &bytes, &count);
    if (result == ERROR_SUCCESS) {
      records.resize(std::min<std::size_t>(count, records.size()));
      return records;
    }
    if (result != ERROR_BUFFER_TOO_SMALL) break;
    records.resize(bytes / sizeof(T) + 1);
  }
  return {};
}

class RasLines final : public DialUpLines {
 public:
  explicit RasLines(const RasApi& api) : api_(api) {}

  std::vector<std::string> Entries() const override {
    std::vector<std::string> names;
    for (const RASENTRYNAMEW& entry : Enumerate<RASENTRYNAMEW>([&](auto* b, auto* n, auto* c) {
           return api_.EnumEntries(nullptr, nullptr, b, n, c);
         })) {
      names.push_back(Narrow(entry.szEntryName));
    }
    return names;
  }

  LineState State(const std::string& entry) const override {
    const HRASCONN connection = ActiveConnection(entry);
    if (connection == nullptr) return LineState::Down;
    RASCONNSTATUSW status{};
    status.dwSize = sizeof status;
    if (api_.GetConnectStatus(connection, &status) != ERROR_SUCCESS) return LineState::Down;
    if (status.rasconnstate == RASCS_Connected) return LineState::Up;
    if (status.rasconnstate == RASCS_Disconnected || status.dwError != 0) return LineState::Down;
    return LineState::Connecting;
  }

  DialStart Dial(const std::string& entry, const std::string& user,
                 const std::string& password) override {
    RASDIALPARAMSW params{};
    params.dwSize = sizeof params;
    const std::wstring name = Widen(entry);
    const std::wstring login = Widen(user);
    const std::wstring secret = Widen(password);
    if (name.size() > RAS_MaxEntryName || login.size() > UNLEN || secret.size() > PWLEN) return {};
    name.copy(params.szEntryName, name.size());
    login.copy(params.szUserName, login.size());
    secret.copy(params.szPassword, secret.size());
    HRASCONN connection = nullptr;
    const DWORD result = api_.Dial(nullptr, nullptr, &params, 1,
                                   reinterpret_cast<LPVOID>(&IgnoreProgress), &connection);
    SecureZeroMemory(params.szPassword, sizeof params.szPassword);
    if (result == ERROR_SUCCESS) {
      dialled_[entry] = connection;
      return {true, {}};
    }
    // A refused dial may still have made a handle, which must be given back.
    if (connection != nullptr) HangUpAndWait(connection);
    return {false, ErrorText(result)};
  }

  void HangUp(const std::string& entry) override {
    const auto found = dialled_.find(entry);
    if (found == dialled_.end()) return;
    HangUpAndWait(found->second);
    dialled_.erase(found);
  }

 private:
  HRASCONN ActiveConnection(const std::string& entry) const {
    const std::wstring name = Widen(entry);
    for (const RASCONNW& connection : Enumerate<RASCONNW>([&](auto* b, auto* n, auto* c) {
           return api_.EnumConnections(b, n, c);
         })) {
      if (name == connection.szEntryName) return connection.hrasconn;
    }
    return nullptr;
  }

  // The system ends the connection after RasHangUp returns; the handle is
  // gone when its status says ERROR_INVALID_HANDLE (checked for 3 s at most).
  void HangUpAndWait(HRASCONN connection) const {
    if (api_.HangUp(connection) != ERROR_SUCCESS) return;
    for (int i = 0; i < 60; ++i) {
      RASCONNSTATUSW status{};
      status.dwSize = sizeof status;
      if (api_.GetConnectStatus(connection, &status) == ERROR_INVALID_HANDLE) return;
      Sleep(api_.hangUpPollMs);
    }
  }

  std::string ErrorText(DWORD error) const {
    wchar_t text[512] = {};
    if (api_.GetErrorString(error, text, 512) == ERROR_SUCCESS && text[0] != L'\0') {
      return Narrow(text);
    }
    return "RAS error " + std::to_string(error);
  }

  RasApi api_;
  std::map<std::string, HRASCONN> dialled_;  // entries this object dialled
};

template <typename T>
bool Load(HMODULE library, const char* name, T& function) {
  function = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return function != nullptr;
}

}  // namespace

std::unique_ptr<RasApi> LoadRasApi() {
  // Kept loaded for the life of the process, as the program loads it once.
  HMODULE library = LoadLibraryW(L"rasapi32.dll");
  if (library == nullptr) return nullptr;
  auto api = std::make_unique<RasApi>();
  const bool complete = Load(library, "RasEnumEntriesW", api->EnumEntries) &&
                        Load(library, "RasEnumConnectionsW", api->EnumConnections) &&
                        Load(library, "RasGetConnectStatusW", api->GetConnectStatus) &&
                        Load(library, "RasDialW", api->Dial) &&
                        Load(library, "RasHangUpW", api->HangUp) &&
                        Load(library, "RasGetErrorStringW", api->GetErrorString);
  return complete ? std::move(api) : nullptr;
}

std::unique_ptr<DialUpLines> MakeRasLines(const RasApi& api) {
  return std::make_unique<RasLines>(api);
}

// A missing library disables dial-up silently.
std::unique_ptr<DialUpLines> OpenDialUpLines() {
  const auto api = LoadRasApi();
  return api ? MakeRasLines(*api) : nullptr;
}

}  // namespace sentrel
