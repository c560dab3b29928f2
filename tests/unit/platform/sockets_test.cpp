#include "platform/sockets.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sentrel {
namespace {

// A peer that hangs up must give the writer EPIPE, not kill the program; and
// the open-file limit must leave room for a socket per host worker.
TEST(Sockets, StartIgnoresBrokenPipesAndRaisesTheFileLimit) {
  ASSERT_TRUE(StartSockets());
  EXPECT_TRUE(SocketsReady());

  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ::close(pair[1]);
  errno = 0;
  EXPECT_EQ(::write(pair[0], "QUIT\r\n", 6), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(pair[0]);

  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_TRUE(limit.rlim_cur == limit.rlim_max || limit.rlim_cur >= 65536) << limit.rlim_cur;

  StopSockets();
  EXPECT_FALSE(SocketsReady());
}

}  // namespace
}  // namespace sentrel
