#include <winsock2.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/autostart.h"
#include "platform/icmp_library.h"
#include "platform/instance_lock.h"
#include "platform/mailslot.h"
#include "platform/paths.h"
#include "platform/program_start.h"
#include "platform/socket_notifier_poll.h"
#include "platform/system_sound.h"
#include "platform/tcp_client.h"
#include "platform/win32/registry_access.h"
#include "fakes/test_files.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;

std::string UniqueName(const char* stem) {
  return std::string(stem) + std::to_string(GetCurrentProcessId());
}

// The named mutex keeps a second holder out until the first lets go; the
// default name is the program's.
TEST(Win32InstanceLock, TheNamedMutexAdmitsOneHolderAtATime) {
  EXPECT_EQ(InstanceLock().Path(), "Sentrel");
  const std::string name = UniqueName("SentrelTestMutex");
  InstanceLock first(name);
  InstanceLock second(name);
  ASSERT_TRUE(first.TryAcquire());
  EXPECT_TRUE(first.TryAcquire()) << "holding it twice in one object";
  EXPECT_FALSE(second.TryAcquire());
  first.Release();
  EXPECT_TRUE(second.TryAcquire());
}

// Data and settings live in the roaming application-data folder.
TEST(Win32Paths, DataFolderIsBelowTheRoamingAppDataFolder) {
  const char* appData = std::getenv("APPDATA");
  ASSERT_NE(appData, nullptr);
  EXPECT_EQ(GetDataFolder(), std::string(appData) + "\\Sentrel");
  EXPECT_EQ(JoinPath("C:\\data\\", "a.xml"), "C:\\data\\a.xml");
  EXPECT_EQ(JoinPath("C:\\data", "a.xml"), "C:\\data\\a.xml");
  EXPECT_NE(GetProgramPath().find("unit_platform"), std::string::npos) << GetProgramPath();
}

// Autostart is the value "Sentrel" of the Run key: a quoted command line.
TEST(Win32Autostart, TheRunValueComesAndGoes) {
  const std::string program = "C:\\Program Files\\Sentrel\\sentrel.exe";
  std::string error;
  ASSERT_TRUE(SetAutostart(true, program, &error)) << error;
  const RegistryKey run("Software\\Microsoft\\Windows\\CurrentVersion\\Run", false, KEY_READ);
  ASSERT_TRUE(run.IsOpen());
  EXPECT_EQ(run.Get("Sentrel")->data, "\"" + program + "\"");
  ASSERT_TRUE(SetAutostart(false, program, &error)) << error;
  EXPECT_FALSE(run.Get("Sentrel").has_value());
  EXPECT_TRUE(SetAutostart(false, program, &error)) << "a missing entry is removed already";
}

// The shell starts a program with its parameters as one text; a file that
// does not exist starts nothing.
TEST(Win32ProgramStart, TheShellStartsAProgramWithItsParameters) {
  testing::TempDir dir;
  const std::string mark = dir.Path() + "\\started.txt";
  ASSERT_TRUE(StartProgram("cmd.exe", "/c echo started> \"" + mark + "\""));
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    std::this_thread::sleep_for(100ms);
    seen = testing::ReadFile(mark).starts_with("started");
  }
  EXPECT_TRUE(seen);
  EXPECT_FALSE(StartProgram(dir.Path() + "\\missing.exe", ""));
}

// The ICMP library answers an echo to the loopback address; an interrupted
// channel returns at once with a time-out.
TEST(Win32IcmpLibrary, EchoesTheLoopbackAndStopsWhenInterrupted) {
  const auto library = LoadIcmpLibrary();
  ASSERT_NE(library, nullptr);
  const auto channel = library->CreateChannel();
  ASSERT_NE(channel, nullptr);
  const uint8_t data[32] = {1, 2, 3};
  IcmpEchoReply reply;
  ASSERT_EQ(channel->SendEcho(htonl(INADDR_LOOPBACK), data, {}, reply, 2000), 1);
  EXPECT_EQ(reply.Status, kIpSuccess);
  EXPECT_EQ(reply.Address, htonl(INADDR_LOOPBACK));
  EXPECT_LT(reply.RoundTripTime, 1000u);

  channel->Interrupt();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(channel->SendEcho(htonl(INADDR_LOOPBACK), data, {}, reply, 5000), 0);
  EXPECT_EQ(reply.Status, kIpRequestTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

// Wine's IPv6 echo handle is a stub; a system without one fails the request
// at once, a system with one echoes ::1.
TEST(Win32IcmpLibrary, EchoesTheIpv6LoopbackWhereTheSystemHasIpv6Echo) {
  const HANDLE probe = Icmp6CreateFile();
  const bool hasIpv6Echo = probe != INVALID_HANDLE_VALUE;
  if (hasIpv6Echo) IcmpCloseHandle(probe);
  const auto channel = LoadIcmpLibrary()->CreateChannel();
  ASSERT_NE(channel, nullptr);
  IpAddress::Bytes loopback{};
  loopback[15] = 1;
  const uint8_t data[32] = {1, 2, 3};
  Icmp6EchoReply reply;
  const int replies = channel->SendEcho6(IpAddress::V6(loopback), data, {}, reply, 2000);
  if (!hasIpv6Echo) {
    EXPECT_EQ(replies, 0);
    EXPECT_EQ(reply.Status, kIpGeneralFailure);
    EXPECT_EQ(reply.Address, IpAddress::V6(loopback));
    return;
  }
  ASSERT_EQ(replies, 1) << reply.Status;
  EXPECT_EQ(reply.Status, kIpSuccess);
  EXPECT_EQ(reply.Address, IpAddress::V6(loopback));
  EXPECT_LT(reply.RoundTripTime, 1000u);
}

// A listener on the loopback address for the socket tests.
class LoopbackListener {
 public:
  LoopbackListener() {
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    listen(socket_, 1);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackListener() { closesocket(socket_); }
  SOCKET Accept() const { return accept(socket_, nullptr, nullptr); }
  std::string Port() const { return std::to_string(port_); }

 private:
  SOCKET socket_;
  unsigned short port_ = 0;
};

// The SMTP client's connection over Windows Sockets: lines in both
// directions, every wait bounded, errors as the errno values callers know.
TEST(Win32TcpClient, ExchangesLinesAndReportsTimeOutsAndClosedPeers) {
  LoopbackListener listener;
  TcpClient client;
  ASSERT_TRUE(client.Connect("127.0.0.1", listener.Port(), 5s)) << client.Error();
  const SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);
  send(peer, "220 ready\r\n250-A", 16, 0);
  std::string line;
  ASSERT_TRUE(client.ReadLine(line, 5s));
  EXPECT_EQ(line, "220 ready");
  EXPECT_FALSE(client.ReadLine(line, 100ms)) << "half a line";
  EXPECT_EQ(client.Error(), ETIMEDOUT);

  ASSERT_TRUE(client.Connect("localhost", listener.Port(), 5s)) << client.Error();
  const SOCKET second = listener.Accept();
  ASSERT_TRUE(client.Send("EHLO me\r\n", 5s));
  char received[16] = {};
  EXPECT_EQ(recv(second, received, sizeof received, 0), 9);
  EXPECT_STREQ(received, "EHLO me\r\n");
  closesocket(second);
  EXPECT_FALSE(client.ReadLine(line, 5s));
  EXPECT_EQ(client.Error(), ECONNRESET);
  closesocket(peer);

  EXPECT_FALSE(client.Connect("127.0.0.1", "no-such-service", 5s));
  EXPECT_EQ(client.Error(), ESRCH);

  // A refused connect is told at once, not after the time-out.
  std::string closedPort;
  {
    LoopbackListener gone;
    closedPort = gone.Port();
  }
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Connect("127.0.0.1", closedPort, 10s));
  EXPECT_EQ(client.Error(), ECONNREFUSED);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

// Readiness of a socket and timers reach the loop's thread.
TEST(Win32PollSocketNotifier, ReadinessAndTimersReachTheLoop) {
  PollSocketNotifier notifier;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
  getsockname(s, reinterpret_cast<sockaddr*>(&self), &length);
  const int fd = static_cast<int>(s);
  int readable = 0;
  bool timedOut = false;
  notifier.Watch(fd, [&] {
    char drain[8];
    recv(s, drain, sizeof drain, 0);
    ++readable;
    notifier.Stop();
  });
  notifier.SetTimer(fd, 50ms, [&] { timedOut = true; });
  // Another thread sends; the waiting loop wakes for it.
  std::thread sender([&] {
    std::this_thread::sleep_for(200ms);
    sendto(s, "x", 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
  });
  notifier.RunFor(5s);
  sender.join();
  EXPECT_TRUE(timedOut);
  EXPECT_EQ(readable, 1);
  notifier.Unwatch(fd);
  closesocket(s);
}

// A missing WAV file (or a folder) is refused before the system is asked,
// so no default sound plays in its place; stopping with nothing playing is
// harmless.
TEST(Win32SystemSound, AMissingFileIsRefused) {
  testing::TempDir dir;
  EXPECT_FALSE(PlayWaveFile(dir.Path() + "\\missing.wav", false));
  EXPECT_FALSE(PlayWaveFile(dir.Path(), true));
  StopWaveFiles();
}

// A computer name that cannot be one opens no mailslot. (Wine has no remote
// mailslots; writing to one is left to a Windows machine.)
TEST(Win32Mailslot, NamesThatCannotBeComputersOpenNothing) {
  RemoteMailslot slot;
  EXPECT_FALSE(slot.Open("two words"));
  EXPECT_FALSE(slot.Open(""));
  EXPECT_FALSE(slot.Write(std::vector<uint8_t>(200, 'x'))) << "not open";
}

}  // namespace
}  // namespace sentrel
