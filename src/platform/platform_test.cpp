#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string_view>

#include "support/stream.h"

namespace harlo_platform {
namespace {

using harlo_test::Fd;

// Both ways of waiting, each held to the contract of wait_for(): the one this
// system uses and the select() form that macOS uses, so that the latter is
// tested on every system.
struct Waiter {
  const char* name;
  int (*wait)(std::span<Watch>, int);
};

class WaitTest : public ::testing::TestWithParam<Waiter> {
 protected:
  int wait(std::span<Watch> watches, int timeout_ms) {
    for (Watch& watch : watches) watch.readable = watch.writable = false;
    return GetParam().wait(watches, timeout_ms);
  }

  // A connected socket pair whose first end is numbered `at_least` or above,
  // as in a bridge started by a client that leaked many descriptors into it.
  void make_high_socket_pair(int at_least, Fd* high, Fd* peer) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const auto needed = static_cast<rlim_t>(at_least) + 64;
    if (limit.rlim_cur < needed) {
      if (limit.rlim_max < needed) GTEST_SKIP() << "the descriptor limit is below " << needed;
      limit.rlim_cur = needed;
      ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    int fds[2];
    ASSERT_TRUE(harlo_test::make_socket_pair(fds));
    high->reset(fcntl(fds[0], F_DUPFD_CLOEXEC, at_least));
    close(fds[0]);
    peer->reset(fds[1]);
    ASSERT_GE(high->get(), at_least);
  }

  static void send(int fd, std::string_view bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

TEST_P(WaitTest, SocketNumberedAbove1500) {
  Fd socket, peer;
  make_high_socket_pair(1500, &socket, &peer);
  if (IsSkipped() || HasFatalFailure()) return;

  Watch watch{.fd = socket.get(), .want_read = true};
  EXPECT_EQ(wait(std::span(&watch, 1), 0), 0);
  EXPECT_FALSE(watch.readable);

  send(peer.get(), "x");
  EXPECT_EQ(wait(std::span(&watch, 1), -1), 1);
  EXPECT_TRUE(watch.readable);

  Watch writer{.fd = socket.get(), .want_write = true};
  EXPECT_EQ(wait(std::span(&writer, 1), -1), 1);
  EXPECT_TRUE(writer.writable);

  peer.reset();  // the other end goes away: readable, and the read tells
  Watch hung_up{.fd = socket.get(), .want_read = true};
  EXPECT_EQ(wait(std::span(&hung_up, 1), -1), 1);
  EXPECT_TRUE(hung_up.readable);
}

// A person running the bridge by hand: a terminal on standard input, waited
// on together with a socket numbered far above it.
TEST_P(WaitTest, TerminalOnStandardInputBesideAHighSocket) {
  Fd socket, peer;
  make_high_socket_pair(1500, &socket, &peer);
  if (IsSkipped() || HasFatalFailure()) return;
  Fd master, terminal;
  ASSERT_TRUE(harlo_test::open_terminal(&master, &terminal));
  // ctest runs each case in a process of its own, so standard input is
  // free to replace; it is put back all the same.
  const Fd saved_stdin(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
  ASSERT_EQ(dup2(terminal.get(), STDIN_FILENO), STDIN_FILENO);

  Watch watches[2] = {{.fd = STDIN_FILENO, .want_read = true},
                      {.fd = socket.get(), .want_read = true}};
  EXPECT_EQ(wait(watches, 0), 0);

  send(peer.get(), "from the app\n");
  EXPECT_EQ(wait(watches, -1), 1);
  EXPECT_FALSE(watches[0].readable);
  EXPECT_TRUE(watches[1].readable);

  send(master.get(), "typed\n");
  EXPECT_EQ(wait(watches, -1), 2);
  EXPECT_TRUE(watches[0].readable);
  EXPECT_TRUE(watches[1].readable);

  if (saved_stdin.valid()) dup2(saved_stdin.get(), STDIN_FILENO);
}

TEST_P(WaitTest, NothingReadyUntilTheTimeout) {
  int fds[2];
  ASSERT_TRUE(harlo_test::make_socket_pair(fds));
  const Fd a(fds[0]), b(fds[1]);
  Watch watch{.fd = a.get(), .want_read = true};
  EXPECT_EQ(wait(std::span(&watch, 1), 20), 0);
  EXPECT_FALSE(watch.readable);
}

INSTANTIATE_TEST_SUITE_P(Waiters, WaitTest,
                         ::testing::Values(Waiter{"wait_for", &wait_for},
                                           Waiter{"wait_with_select", &wait_with_select}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harlo_platform
