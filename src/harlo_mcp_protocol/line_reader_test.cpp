#include "harlo_mcp_protocol/line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/stream.h"

namespace harlo_mcp_protocol::ipc {
namespace {

// A reader on one end of a socket pair; the test writes the other end in
// chosen pieces, so each fill() sees exactly one piece.
class LineReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(harlo_test::make_socket_pair(fds_));
    ASSERT_EQ(fcntl(fds_[0], F_SETFL, O_NONBLOCK), 0);
  }
  void TearDown() override {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }

  void send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fds_[1], bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<size_t>(n);
    }
  }
  void close_writer() {
    close(fds_[1]);
    fds_[1] = -1;
  }

  // Everything next() delivers until it needs more; a marker for the end
  // or an error.
  std::vector<std::string> drain(LineReader& reader) {
    std::vector<std::string> lines;
    for (;;) {
      std::string_view line;
      switch (reader.next(line)) {
        case LineReader::Next::kLine:
          lines.emplace_back(line);
          continue;
        case LineReader::Next::kNeedMore:
          return lines;
        case LineReader::Next::kEnd:
          lines.emplace_back("<end>");
          return lines;
        case LineReader::Next::kError:
          lines.emplace_back("<error>");
          return lines;
      }
    }
  }

  // Fills until the socket has nothing more right now.
  void fill_all(LineReader& reader) {
    while (reader.fill() == LineReader::Fill::kData) {
    }
  }

  int fds_[2] = {-1, -1};
};

TEST_F(LineReaderTest, SplitsAtLineFeedAndDropsOneCarriageReturn) {
  LineReader reader(fds_[0]);
  send("a\nb\r\n\nc\r\r\n{\"x\":1}");
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"a", "b", "", "c\r"}));
  close_writer();
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"{\"x\":1}", "<end>"}));
}

TEST_F(LineReaderTest, CarriageReturnAndLineFeedInSeparateReads) {
  LineReader reader(fds_[0]);
  send("abc\r");
  fill_all(reader);
  EXPECT_FALSE(reader.ready());
  EXPECT_TRUE(drain(reader).empty());
  send("\ndef\n");
  fill_all(reader);
  EXPECT_TRUE(reader.ready());
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"abc", "def"}));
}

TEST_F(LineReaderTest, LinesFarLongerThanTheBuffer) {
  LineReader reader(fds_[0]);
  const std::string long_line(5 * LineReader::kInitialCapacity + 17, 'x');
  std::vector<std::string> got;
  // Short lines around the long one, so it straddles every buffer edge.
  const std::string stream = "one\n" + long_line + "\r\ntwo\n" + long_line + "\n";
  for (size_t at = 0; at < stream.size(); at += 3000) {
    send(stream.substr(at, 3000));
    fill_all(reader);
    for (auto& line : drain(reader)) got.push_back(std::move(line));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"one", long_line, "two", long_line}));
}

TEST_F(LineReaderTest, BufferGrownForALongLineIsKeptUntilGivenBack) {
  LineReader reader(fds_[0]);
  send("short\n");
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"short"}));
  EXPECT_FALSE(reader.holds_spare_memory());

  const std::string long_line(3 << 20, 'x');
  std::vector<std::string> got;
  const std::string stream = long_line + "\nafter";
  for (size_t at = 0; at < stream.size(); at += 100'000) {
    send(stream.substr(at, 100'000));
    fill_all(reader);
    for (auto& line : drain(reader)) got.push_back(std::move(line));
  }
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), long_line.size());
  EXPECT_FALSE(reader.holds_spare_memory());  // "after" is still in it
  reader.give_back_memory();                  // so nothing is given back

  send("\n");
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"after"}));
  EXPECT_TRUE(reader.holds_spare_memory());
  reader.give_back_memory();
  EXPECT_FALSE(reader.holds_spare_memory());
  send("next\n");
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"next"}));
}

TEST_F(LineReaderTest, EndWithoutPartialLineIsJustTheEnd) {
  LineReader reader(fds_[0]);
  send("a\n");
  close_writer();
  fill_all(reader);
  EXPECT_EQ(reader.fill(), LineReader::Fill::kEnd);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"a", "<end>"}));
}

// A line that is not UTF-8 is still delivered: what it means is up to
// whoever takes it (for the session, a read error).
TEST_F(LineReaderTest, LinesAreDeliveredWithoutAUtf8Check) {
  LineReader reader(fds_[0]);
  send("ok\n\xC3\x28\nlater\n");
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"ok", "\xC3\x28", "later"}));
}

TEST_F(LineReaderTest, MultiByteCharacterSplitAcrossReads) {
  LineReader reader(fds_[0]);
  send("\xE2\x86");
  fill_all(reader);
  send("\x92\n");
  fill_all(reader);
  EXPECT_EQ(drain(reader), (std::vector<std::string>{"\u2192"}));
}

// Each line comes with its scan, made as its bytes arrived in pieces that
// cut a string, an escape and a UTF-8 sequence.
TEST_F(LineReaderTest, EachLineComesWithItsScan) {
  using Verdict = mcp_wire::ScannedLine::Verdict;
  LineReader reader(fds_[0]);
  std::vector<std::pair<Verdict, std::optional<std::string>>> got;
  for (const std::string piece : {"{\"id\":\"a\\u00", "e9\",\"method\":\"\xE2\x86",
                                  "\x92\"}\r\nnot json\n\xC3", "\x28\n{\"id\":7}"}) {
    send(piece);
    fill_all(reader);
    std::string_view line;
    while (reader.next(line) == LineReader::Next::kLine) {
      const mcp_wire::ScannedLine& scanned = reader.scanned();
      got.emplace_back(scanned.verdict, scanned.members[1]
                                            ? std::optional<std::string>(*scanned.members[1])
                                            : std::nullopt);
    }
  }
  close_writer();
  fill_all(reader);
  std::string_view line;
  ASSERT_EQ(reader.next(line), LineReader::Next::kLine);
  got.emplace_back(reader.scanned().verdict, std::string(*reader.scanned().members[1]));
  const std::vector<std::pair<Verdict, std::optional<std::string>>> want = {
      {Verdict::kJson, "\"a\\u00e9\""},
      {Verdict::kNotJson, std::nullopt},
      {Verdict::kNotUtf8, std::nullopt},
      {Verdict::kJson, "7"},
  };
  EXPECT_EQ(got, want);
}

TEST_F(LineReaderTest, WouldBlockOnAnEmptyNonBlockingDescriptor) {
  LineReader reader(fds_[0]);
  EXPECT_EQ(reader.fill(), LineReader::Fill::kWouldBlock);
  EXPECT_FALSE(reader.ready());
}

}  // namespace
}  // namespace harlo_mcp_protocol::ipc
