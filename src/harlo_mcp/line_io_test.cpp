#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "harlo_mcp/write_line.h"
#include "support/stream.h"

namespace harlo_mcp {
namespace {

using harlo_mcp_protocol::ipc::LineReader;

std::string read_exactly(int fd, size_t size) {
  std::string bytes(size, '\0');
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, bytes.data() + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

TEST(WriteLine, WritesTextAndOneLineFeed) {
  std::signal(SIGPIPE, SIG_IGN);  // as the bridge runs: a gone reader is an error, not a signal
  int fds[2];
  ASSERT_TRUE(harlo_test::make_socket_pair(fds));
  ASSERT_TRUE(write_line(fds[0], "hello"));
  ASSERT_TRUE(write_line(fds[0], ""));
  EXPECT_EQ(read_exactly(fds[1], 7), "hello\n\n");
  close(fds[1]);
  EXPECT_FALSE(write_line(fds[0], "to nobody"));  // the reader is gone
  close(fds[0]);
}

// More lines than one writev takes, empty ones among them: all arrive, in
// order, each with its LF.
TEST(WriteLine, ManyLinesArriveInOrder) {
  int fds[2];
  ASSERT_TRUE(harlo_test::make_socket_pair(fds));
  std::vector<std::string> texts;
  std::string expected;
  for (int i = 0; i < 1300; ++i) {
    texts.push_back(i % 7 == 0 ? "" : std::string(static_cast<size_t>(i % 50), 'a' + i % 26));
    expected += texts.back() + "\n";
  }
  const std::vector<std::string_view> lines(texts.begin(), texts.end());
  std::string got;
  std::thread reader([&] { got = read_exactly(fds[1], expected.size()); });
  EXPECT_EQ(write_lines(fds[0], lines), lines.size());
  reader.join();
  EXPECT_EQ(got, expected);
  close(fds[0]);
  close(fds[1]);
}

// Both sides write a large line at once, and each reads only after its own
// write is done: the bridge must take the peer's bytes while it waits.
TEST(WriteLine, TakesIncomingBytesWhileTheOtherSideIsFull) {
  int fds[2];
  ASSERT_TRUE(harlo_test::make_socket_pair(fds));
  ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
  const std::string ours(8 << 20, 'b');
  const std::string theirs(8 << 20, 'p');

  std::string peer_got;
  std::thread peer([&] {
    std::string line = theirs + "\n";
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(fds[1], line.data() + done, line.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
    peer_got = read_exactly(fds[1], ours.size() + 1);
  });

  LineReader incoming(fds[0]);
  ASSERT_TRUE(write_line(fds[0], ours, &incoming));
  std::string_view line;
  while (incoming.next(line) == LineReader::Next::kNeedMore) {
    ASSERT_NE(incoming.fill(), LineReader::Fill::kError);
  }
  EXPECT_EQ(line.size(), theirs.size());
  peer.join();
  EXPECT_EQ(peer_got.size(), ours.size() + 1);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace harlo_mcp
