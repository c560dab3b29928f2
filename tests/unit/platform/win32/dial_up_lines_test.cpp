#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/ras_lines.h"

namespace sentrel {
namespace {

// A phone book and its connections as Remote Access Service answers for
// them, with the return values its documentation gives. Wine's own RAS is
// a stub, so these answers stand in for a Windows machine.
struct FakeRas {
  std::vector<std::wstring> entries;
  std::wstring connected;   // entry of the one connection, empty when none
  RASCONNSTATE state = RASCS_Connected;
  DWORD dialResult = ERROR_SUCCESS;
  std::wstring dialledEntry;
  std::wstring dialledUser;
  std::wstring dialledPassword;
  int hangUps = 0;
  bool handleGone = false;
};
FakeRas ras;
const auto kHandle = reinterpret_cast<HRASCONN>(0x1234);

DWORD WINAPI EnumEntries(LPCWSTR, LPCWSTR, LPRASENTRYNAMEW buffer, LPDWORD bytes, LPDWORD count) {
  if (buffer == nullptr || buffer->dwSize != sizeof(RASENTRYNAMEW)) return ERROR_INVALID_SIZE;
  const DWORD needed = static_cast<DWORD>(ras.entries.size() * sizeof(RASENTRYNAMEW));
  if (*bytes < needed) {
    *bytes = needed;
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (std::size_t i = 0; i < ras.entries.size(); ++i) {
    std::wcscpy(buffer[i].szEntryName, ras.entries[i].c_str());
  }
  *count = static_cast<DWORD>(ras.entries.size());
  return ERROR_SUCCESS;
}

DWORD WINAPI EnumConnections(LPRASCONNW buffer, LPDWORD bytes, LPDWORD count) {
  if (buffer == nullptr || buffer->dwSize != sizeof(RASCONNW)) return ERROR_INVALID_SIZE;
  *count = 0;
  if (ras.connected.empty() || ras.handleGone) return ERROR_SUCCESS;
  if (*bytes < sizeof(RASCONNW)) {
    *bytes = sizeof(RASCONNW);
    return ERROR_BUFFER_TOO_SMALL;
  }
  buffer->hrasconn = kHandle;
  std::wcscpy(buffer->szEntryName, ras.connected.c_str());
  *count = 1;
  return ERROR_SUCCESS;
}

DWORD WINAPI GetConnectStatus(HRASCONN connection, LPRASCONNSTATUSW status) {
  if (connection != kHandle || ras.handleGone) return ERROR_INVALID_HANDLE;
  status->rasconnstate = ras.state;
  status->dwError = 0;
  return ERROR_SUCCESS;
}

DWORD WINAPI Dial(LPRASDIALEXTENSIONS, LPCWSTR, LPRASDIALPARAMSW params, DWORD notifierType,
                  LPVOID notifier, LPHRASCONN connection) {
  // Without a notifier the call would block until the line is up.
  if (notifierType != 1 || notifier == nullptr) return ERROR_INVALID_PARAMETER;
  ras.dialledEntry = params->szEntryName;
  ras.dialledUser = params->szUserName;
  ras.dialledPassword = params->szPassword;
  *connection = kHandle;  // also when refused: the caller must hang it up
  ras.handleGone = false;
  if (ras.dialResult == ERROR_SUCCESS) {
    ras.connected = params->szEntryName;
    ras.state = RASCS_OpenPort;
  }
  return ras.dialResult;
}

DWORD WINAPI HangUp(HRASCONN connection) {
  if (connection != kHandle) return ERROR_INVALID_HANDLE;
  ++ras.hangUps;
  ras.handleGone = true;
  ras.connected.clear();
  return ERROR_SUCCESS;
}

DWORD WINAPI GetErrorString(UINT error, LPWSTR text, DWORD size) {
  if (error != ERROR_CANNOT_FIND_PHONEBOOK_ENTRY) return ERROR_INVALID_PARAMETER;
  std::wcsncpy(text, L"The phone book entry could not be found.", size);
  return ERROR_SUCCESS;
}

class RasLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ras = FakeRas{};
    api_ = {EnumEntries, EnumConnections, GetConnectStatus, Dial, HangUp, GetErrorString, 0};
    lines_ = MakeRasLines(api_);
  }
  RasApi api_;
  std::unique_ptr<DialUpLines> lines_;
};

// The phone book is read whole, however many entries its first answer
// asks room for.
TEST_F(RasLinesTest, ListsEveryPhoneBookEntry) {
  ras.entries = {L"Office", L"Home", L"B\u00fcro"};
  EXPECT_EQ(lines_->Entries(), (std::vector<std::string>{"Office", "Home", "B\xc3\xbcro"}));
  ras.entries.clear();
  EXPECT_TRUE(lines_->Entries().empty());
}

// A dial starts without waiting; the line's state follows the connection's
// status; hanging up gives the handle back and waits until it is gone.
TEST_F(RasLinesTest, DialsFollowsTheStateAndHangsUp) {
  EXPECT_EQ(lines_->State("Office"), LineState::Down);
  const DialStart start = lines_->Dial("Office", "J\xc3\xb6rg", "line-secret");
  EXPECT_TRUE(start.started);
  EXPECT_EQ(ras.dialledEntry, L"Office");
  EXPECT_EQ(ras.dialledUser, L"J\u00f6rg");
  EXPECT_EQ(ras.dialledPassword, L"line-secret");
  EXPECT_EQ(lines_->State("Office"), LineState::Connecting);
  ras.state = RASCS_Connected;
  EXPECT_EQ(lines_->State("Office"), LineState::Up);
  EXPECT_EQ(lines_->State("Home"), LineState::Down);

  lines_->HangUp("Home");
  EXPECT_EQ(ras.hangUps, 0) << "a line this object did not dial stays up";
  lines_->HangUp("Office");
  EXPECT_EQ(ras.hangUps, 1);
  EXPECT_EQ(lines_->State("Office"), LineState::Down);
}

// A refused dial gives the system's text and hands its handle back; an
// entry name longer than the phone book allows is refused before dialling.
TEST_F(RasLinesTest, RefusedDialsGiveTheReasonAndReleaseTheHandle) {
  ras.dialResult = ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  const DialStart refused = lines_->Dial("Gone", "", "");
  EXPECT_FALSE(refused.started);
  EXPECT_EQ(refused.reason, "The phone book entry could not be found.");
  EXPECT_EQ(ras.hangUps, 1);

  ras.dialResult = ERROR_PORT_NOT_AVAILABLE;
  EXPECT_EQ(lines_->Dial("Office", "", "").reason, "RAS error " + std::to_string(ERROR_PORT_NOT_AVAILABLE));

  const DialStart tooLong = lines_->Dial(std::string(RAS_MaxEntryName + 1, 'x'), "", "");
  EXPECT_FALSE(tooLong.started);
  EXPECT_TRUE(tooLong.reason.empty());
}

// The system's library is found by name and has every function used.
TEST(RasLibrary, LoadsWithEveryFunction) {
  const auto api = LoadRasApi();
  ASSERT_NE(api, nullptr);
  EXPECT_NE(OpenDialUpLines(), nullptr);
}

}  // namespace
}  // namespace sentrel
