// The bridge against an app that misbehaves at the byte level, and a client
// that writes and reads at awkward moments: very long lines, lines cut at
// every awkward place, bytes that are not UTF-8, an app closing in the
// middle of a line, a flood of requests, a client that stops reading, and
// two large messages crossing. The app is played by the test itself
// (RawApp), so that it writes exactly the bytes each case needs.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "bridge_fixture.h"
#include "harlo_mcp_protocol/paths.h"
#include "harlo_paths/harlo_paths.h"
#include "support/raw_app.h"

namespace harlo_test {
namespace {

using namespace std::chrono_literals;
using harlo_mcp::kClosedConnectionMessage;

constexpr const char* kHandshake = R"({"harlo":"0.10.0"})";

constexpr size_t kHugeLineBytes = 100 << 20;
constexpr size_t kLargeMessageBytes = 8 << 20;

// Deadlines for whole cases; each is far beyond what the case needs, so
// reaching one means a hang.
constexpr std::chrono::milliseconds kHugeLineWait = 60s;
constexpr std::chrono::milliseconds kCaseWait = 20s;

// How long the app waits between the pieces of a cut stream: long enough
// for the bridge to read each piece on its own.
constexpr std::chrono::milliseconds kPiecePause = 2ms;

std::string tool_call(const std::string& id, const std::string& sql = "select 1") {
  return request(id, "tools/call", R"({"name":"run_select","arguments":{"sql":")" + sql + R"("}})");
}

// The app's answer to a tool call, with `text` (JSON string content).
std::string answer(const std::string& id, const std::string& text) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":{"content":[{"type":"text","text":")" +
         text + R"("}]}})";
}

std::string closed_error(const std::string& id) { return error_for(id, kClosedConnectionMessage); }

// At most `bytes` of JSON string content in whole blocks: ASCII, two-,
// three- and four-byte characters and escapes, so that a relay that
// mangles any of them shows.
std::string filler(size_t bytes) {
  const std::string block =
      R"(Zeile für Zeile – 12 € · 𝄞 \"quoted\" \\ \n\t tab. 0123456789 abcdefghijklmnopqrstuvwxyz )";
  std::string text;
  text.reserve(bytes);
  while (text.size() + block.size() <= bytes) text += block;
  return text;
}

size_t digest(std::string_view text) { return std::hash<std::string_view>{}(text); }

// Compares two possibly huge texts without printing them: on a mismatch,
// says their lengths, digests and where they first differ.
testing::AssertionResult same_text(const std::string& got, const std::string& want) {
  if (got == want) return testing::AssertionSuccess();
  const auto differ = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  return testing::AssertionFailure()
         << "got " << got.size() << " bytes (digest " << digest(got) << "), want " << want.size()
         << " bytes (digest " << digest(want) << "); first difference at byte "
         << (differ.first - got.begin());
}

// How often read_long_line looks for the end of the line.
constexpr std::chrono::milliseconds kLongLineCheck = 100ms;

// The bridge's next line when it may be very long. Child::read_line looks
// for the LF in everything buffered after every read, which costs time
// growing with the square of the line's length; this looks only every
// kLongLineCheck and lets Child::wait read the output in between.
std::optional<std::string> read_long_line(Child& bridge, Deadline deadline) {
  for (;;) {
    if (auto line = bridge.read_line(Clock::now())) return line;
    if (bridge.stdout_ended() || Clock::now() >= deadline) return std::nullopt;
    bridge.wait(std::min(deadline, Clock::now() + kLongLineCheck));
  }
}

// The CPU time (user and system) that process `pid` has used so far, from
// /proc/<pid>/stat; nothing where there is no /proc (macOS).
std::optional<double> cpu_seconds(pid_t pid) {
  const std::optional<std::string> stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return std::nullopt;
  // The command name, field 2, is in parentheses and may hold spaces; the
  // state, field 3, follows it, and utime and stime are fields 14 and 15.
  const size_t name_end = stat->rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(name_end + 1));
  std::vector<std::string> after_name;
  for (std::string field; fields >> field;) after_name.push_back(field);
  if (after_name.size() < 13) return std::nullopt;
  const double ticks = std::stod(after_name[11]) + std::stod(after_name[12]);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Whether this build runs under the address sanitizer (GCC says so with a
// macro, Clang through __has_feature).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// The resident memory of process `pid` in MiB, from /proc/<pid>/status;
// nothing where there is no /proc (macOS).
std::optional<double> resident_mib(pid_t pid) {
  const std::optional<std::string> status = read_file("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::nullopt;
  const size_t at = status->find("VmRSS:");
  if (at == std::string::npos) return std::nullopt;
  return std::stod(status->substr(at + 6)) / 1024;  // the figure is in kB
}

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
bool starts_multibyte_character(char c) { return static_cast<unsigned char>(c) >= 0xC0; }

// `stream` cut before every position i (0 < i < size) where `cut_before`
// holds.
std::vector<std::string> cut(std::string_view stream,
                             const std::function<bool(std::string_view, size_t)>& cut_before) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t i = 1; i < stream.size(); ++i) {
    if (!cut_before(stream, i)) continue;
    pieces.emplace_back(stream.substr(start, i - start));
    start = i;
  }
  pieces.emplace_back(stream.substr(start));
  return pieces;
}

// A bridge beside a RawApp listening where the bridge looks, played by a
// script on a thread of its own while the test body plays the client.
class FaultTest : public BridgeTest {
 protected:
  using Script = std::function<void(RawApp&)>;

  // Listens and runs `script`, after the previous script (if any) ended.
  // The script must end by deadlines of its own, and must capture by value
  // (results through shared pointers): an assertion may leave the test body
  // while it still runs.
  void play_app(Script script) {
    join_app();
    raw_app_.reset();
    std::string error;
    raw_app_ = RawApp::listen(harlo_paths::join(harlo_paths::data_dir_in(home()),
                                                harlo_mcp_protocol::paths::kSocketFileName),
                              &error);
    ASSERT_TRUE(raw_app_.has_value()) << error;
    app_thread_ = std::thread([this, script = std::move(script)] { script(*raw_app_); });
  }

  // Waits until the script has ended.
  void join_app() {
    if (app_thread_.joinable()) app_thread_.join();
  }

  void TearDown() override {
    bridge_.reset();  // ends the connections, so a waiting script ends at once
    join_app();
  }

  std::optional<RawApp> raw_app_;
  std::thread app_thread_;
};

// The app's next connection past the handshake; a failure of the test when
// there is none before `deadline`.
std::optional<RawConnection> accept_bridge(RawApp& app, Deadline deadline) {
  std::string error;
  std::optional<RawConnection> link = app.accept(kHandshake, deadline, &error);
  EXPECT_TRUE(link.has_value()) << error;
  return link;
}

// Reads one line per entry of `lines` and expects it to be that entry.
void expect_lines(RawConnection& link, const std::vector<std::string>& lines, Deadline deadline) {
  for (const std::string& want : lines) EXPECT_EQ(link.read_line(deadline), want);
}

TEST_F(FaultTest, HugeAnswerIsRelayedIntactAndLeavesThePendingList) {
  const std::string huge = answer("1", filler(kHugeLineBytes));
  play_app([huge](RawApp& app) {
    const Deadline deadline = deadline_after(kHugeLineWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    expect_lines(*link, {tool_call("1"), tool_call("2")}, deadline);
    EXPECT_TRUE(link->write(huge + "\n", deadline));
    link->close();  // 2 stays unanswered
  });
  start_bridge();
  send(tool_call("1"));
  send(tool_call("2"));
  const std::optional<std::string> relayed =
      read_long_line(*bridge_, deadline_after(kHugeLineWait));
  ASSERT_TRUE(relayed.has_value()) << (bridge_->stdout_ended() ? "output ended" : "timeout");
  EXPECT_TRUE(same_text(*relayed, huge));
  // Had 1 stayed pending, the lost link would answer it before 2.
  EXPECT_EQ(next_line(), closed_error("2"));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
}

// The buffer a long answer needed is kept while the link is busy and given
// back once the bridge is idle, so one large result does not pin its
// memory for the rest of the session.
TEST_F(FaultTest, MemoryForALargeAnswerIsGivenBackWhenIdle) {
  if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer holds on to freed memory";
  const std::string large = answer("1", filler(kLargeMessageBytes * 4));
  play_app([large](RawApp& app) {
    const Deadline deadline = deadline_after(kCaseWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    expect_lines(*link, {tool_call("1")}, deadline);
    EXPECT_TRUE(link->write(large + "\n", deadline));
    EXPECT_TRUE(link->wait_for_end(deadline));
  });
  start_bridge();
  send(tool_call("1"));
  const std::optional<std::string> relayed = read_long_line(*bridge_, deadline_after(kCaseWait));
  ASSERT_TRUE(relayed.has_value());
  EXPECT_EQ(relayed->size(), large.size());
  if (!resident_mib(bridge_->pid())) GTEST_SKIP() << "no /proc to read the memory from";
  const Deadline deadline = deadline_after(kCaseWait);
  while (*resident_mib(bridge_->pid()) > 16 && Clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_LE(*resident_mib(bridge_->pid()), 16) << "the large answer's buffer was kept";
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
}

TEST_F(FaultTest, LinesCutAtAwkwardPlacesArriveIntact) {
  // Answers to 1, "two" and 3 around a notification, ending in CR LF, LF
  // and CR CR LF (of which only one CR is framing); 4 stays unanswered.
  const std::string first = answer("1", "Straße 7 € 𝄞");
  const std::string notice =
      R"({"jsonrpc":"2.0","method":"notifications/message","params":{"data":"ü→𝄞"}})";
  const std::string second = answer(R"("two")", "é");
  const std::string third = R"({"jsonrpc":"2.0","id":3,"result":{}})";
  const std::string stream = first + "\r\n" + notice + "\n" + second + "\n" + third + "\r\r\n";
  const std::vector<std::string> relayed = {first, notice, second, third + "\r", closed_error("4")};

  struct Case {
    const char* name;
    std::function<bool(std::string_view, size_t)> cut_before;
  };
  const Case cases[] = {
      {"in one piece", [](std::string_view, size_t) { return false; }},
      {"at every byte", [](std::string_view, size_t) { return true; }},
      {"every 5 bytes", [](std::string_view, size_t i) { return i % 5 == 0; }},
      {"between CR and LF",
       [](std::string_view s, size_t i) { return s[i - 1] == '\r' && s[i] == '\n'; }},
      {"between two CRs",
       [](std::string_view s, size_t i) { return s[i - 1] == '\r' && s[i] == '\r'; }},
      {"right before each line end",
       [](std::string_view s, size_t i) {
         return (s[i] == '\r' || s[i] == '\n') && s[i - 1] != '\r';
       }},
      {"right after each LF", [](std::string_view s, size_t i) { return s[i - 1] == '\n'; }},
      {"after the first byte of each multi-byte character",
       [](std::string_view s, size_t i) { return starts_multibyte_character(s[i - 1]); }},
      {"before the last byte of each multi-byte character",
       [](std::string_view s, size_t i) {
         return is_continuation_byte(s[i]) &&
                (i + 1 == s.size() || !is_continuation_byte(s[i + 1]));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> pieces = cut(stream, c.cut_before);
    play_app([pieces](RawApp& app) {
      const Deadline deadline = deadline_after(kCaseWait);
      auto link = accept_bridge(app, deadline);
      if (!link) return;
      expect_lines(*link, {tool_call("1"), tool_call(R"("two")"), tool_call("3"), tool_call("4")},
                   deadline);
      for (const std::string& piece : pieces) {
        if (!link->write(piece, deadline)) {
          ADD_FAILURE() << "the bridge stopped taking the pieces";
          return;
        }
        std::this_thread::sleep_for(kPiecePause);
      }
      link->close();
    });
    start_bridge();
    for (const char* id : {"1", R"("two")", "3", "4"}) send(tool_call(id));
    for (const std::string& line : relayed) EXPECT_EQ(next_line(), line);
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  }
}

TEST_F(FaultTest, LineThatIsNotUtf8DropsTheLinkAndPendingRequestsAreAnsweredInOrder) {
  // After the answer to "two", the app sends a line that is not UTF-8; with
  // an LF it goes on to answer 3 on the same connection, which the bridge
  // must no longer relay.
  struct Case {
    const char* name;
    std::string bad_line;
    bool with_lf;
  };
  const Case cases[] = {
      {"a byte that starts no character",
       "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/message\",\"params\":{\"data\":\"\xFF\"}}",
       true},
      {"an answer to 1 with a character cut short",
       "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"text\":\"\xE2\x82\"}}", true},
      {"an answer to 1 with half a surrogate pair",
       "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"text\":\"\xED\xA0\x80\"}}", true},
      {"a last line cut inside a character as the app closes",
       "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"text\":\"\xF0\x9D", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    play_app([c](RawApp& app) {
      const Deadline deadline = deadline_after(kCaseWait);
      auto link = accept_bridge(app, deadline);
      if (!link) return;
      expect_lines(*link, {tool_call("1"), tool_call(R"("two")"), tool_call("3")}, deadline);
      EXPECT_TRUE(link->write(answer(R"("two")", "fine") + "\n", deadline));
      if (c.with_lf) {
        EXPECT_TRUE(link->write(c.bad_line + "\n" + answer("3", "too late") + "\n", deadline));
        EXPECT_TRUE(link->wait_for_end(deadline)) << "the bridge kept the link";
      } else {
        EXPECT_TRUE(link->write(c.bad_line, deadline));
        link->close();
      }
      // The next request comes on a new connection.
      auto next_link = accept_bridge(app, deadline);
      if (!next_link) return;
      expect_lines(*next_link, {tool_call("4")}, deadline);
      EXPECT_TRUE(next_link->write(answer("4", "back") + "\n", deadline));
      EXPECT_TRUE(next_link->wait_for_end(deadline));
    });
    start_bridge();
    for (const char* id : {"1", R"("two")", "3"}) send(tool_call(id));
    EXPECT_EQ(next_line(), answer(R"("two")", "fine"));
    EXPECT_EQ(next_line(), closed_error("1"));
    EXPECT_EQ(next_line(), closed_error("3"));
    send(tool_call("4"));
    EXPECT_EQ(next_line(), answer("4", "back"));
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  }
}

TEST_F(FaultTest, AppClosingInTheMiddleOfALine) {
  // The app answers 1, writes the start of its last line and closes; the
  // cut-off text reaches the client as a line of its own, then the link
  // ends with replies for what is still pending.
  struct Case {
    const char* name;
    std::string last_bytes;
    std::vector<std::string> then;  // what the client sees after the answer to 1
  };
  const Case cases[] = {
      {"inside the text",
       R"({"jsonrpc":"2.0","id":2,"result":{"content":[{"type":"te)",
       {R"({"jsonrpc":"2.0","id":2,"result":{"content":[{"type":"te)", closed_error("2"),
        closed_error("3")}},
      {"right before the LF of a whole answer, which still answers 2",
       answer("2", "last"),
       {answer("2", "last"), closed_error("3")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    play_app([c](RawApp& app) {
      const Deadline deadline = deadline_after(kCaseWait);
      auto link = accept_bridge(app, deadline);
      if (!link) return;
      expect_lines(*link, {tool_call("1"), tool_call("2"), tool_call("3")}, deadline);
      EXPECT_TRUE(link->write(answer("1", "first") + "\n" + c.last_bytes, deadline));
      link->close();
    });
    start_bridge();
    for (const char* id : {"1", "2", "3"}) send(tool_call(id));
    EXPECT_EQ(next_line(), answer("1", "first"));
    for (const std::string& line : c.then) EXPECT_EQ(next_line(), line);
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
    EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
  }
}

// The app answers 1 and closes while the bridge is still sending it the
// large request 2. The answer came back before the link ended, so it is
// relayed, and only 2 gets the closed-connection reply.
TEST_F(FaultTest, AnswerWrittenJustBeforeTheAppClosesIsRelayedWhenTheSendFails) {
  const std::string large_request = tool_call("2", filler(kLargeMessageBytes));
  play_app([](RawApp& app) {
    const Deadline deadline = deadline_after(kCaseWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    expect_lines(*link, {tool_call("1")}, deadline);
    EXPECT_TRUE(link->wait_for_bytes(deadline)) << "request 2 did not start";
    EXPECT_TRUE(link->write(answer("1", "one") + "\n", deadline));
    link->close();
  });
  start_bridge();
  const Deadline deadline = deadline_after(kCaseWait);
  send(tool_call("1"));
  ASSERT_TRUE(bridge_->write(large_request + "\n", deadline));
  EXPECT_EQ(next_line(deadline), answer("1", "one"));
  EXPECT_EQ(next_line(deadline), closed_error("2"));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
}

// The client writes the large request 2 and, right behind it in the same
// write, a ping and a tool call. The app takes the start of 2 and quits
// for good. Only 2 was being sent when the link failed, so only 2 gets the
// closed-connection reply; the two behind it find no app, as they would
// had they come a moment later.
TEST_F(FaultTest, LinesBehindAFailedSendAreHandledWithoutTheApp) {
  const std::string large_request = tool_call("2", filler(kLargeMessageBytes));
  play_app([](RawApp& app) {
    const Deadline deadline = deadline_after(kCaseWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    expect_lines(*link, {tool_call("1")}, deadline);
    EXPECT_TRUE(link->write(answer("1", "one") + "\n", deadline));
    EXPECT_TRUE(link->wait_for_bytes(deadline)) << "request 2 did not start";
    app.stop_listening();
    link->close();
  });
  start_bridge();
  const Deadline deadline = deadline_after(kCaseWait);
  send(tool_call("1"));
  EXPECT_EQ(next_line(deadline), answer("1", "one"));
  ASSERT_TRUE(bridge_->write(
      large_request + "\n" + request("3", "ping") + "\n" + tool_call("4") + "\n", deadline));
  EXPECT_EQ(next_line(deadline), closed_error("2"));
  EXPECT_EQ(next_line(deadline), R"({"jsonrpc":"2.0","id":3,"result":{}})");
  EXPECT_EQ(next_line(deadline), error_for("4", harlo_mcp::OfflineReason::Disabled));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
}

constexpr int kFloodRequests = 10'000;

TEST_F(FaultTest, TenThousandRequestsAnsweredInSlowBatchesAreEachRelayedOnceInOrder) {
  // Numbers and strings alternate, so ids of both kinds are matched.
  const auto id_of = [](int i) {
    return i % 2 == 0 ? std::to_string(i) : "\"r" + std::to_string(i) + "\"";
  };
  const std::string last = tool_call(R"("last")");  // never answered
  play_app([id_of, last](RawApp& app) {
    const Deadline deadline = deadline_after(kCaseWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    // Reads a batch, pauses, answers the batch in one write; the batch
    // sizes cycle so that batches end at different places.
    const int batch_sizes[] = {1, 13, 250, 977};
    int next = 0;
    for (int batch = 0; next < kFloodRequests; ++batch) {
      const int end = std::min(kFloodRequests, next + batch_sizes[batch % 4]);
      std::string answers;
      for (int i = next; i < end; ++i) {
        const std::optional<std::string> line = link->read_line(deadline);
        if (line != tool_call(id_of(i))) {
          ADD_FAILURE() << "request " << i << " arrived as " << line.value_or("<nothing>");
          return;
        }
        answers += answer(id_of(i), std::to_string(i)) + "\n";
      }
      std::this_thread::sleep_for(20ms);
      if (!link->write(answers, deadline)) {
        ADD_FAILURE() << "the bridge stopped taking answers at " << end;
        return;
      }
      next = end;
    }
    EXPECT_EQ(link->read_line(deadline), last);
    link->close();
  });
  start_bridge();
  std::string requests;
  for (int i = 0; i < kFloodRequests; ++i) requests += tool_call(id_of(i)) + "\n";
  ASSERT_TRUE(bridge_->write(requests + last + "\n", deadline_after(kCaseWait)));
  for (int i = 0; i < kFloodRequests; ++i) {
    ASSERT_EQ(next_line(), answer(id_of(i), std::to_string(i))) << "answer " << i;
  }
  // Only "last" is still pending when the link ends, and nothing came twice.
  EXPECT_EQ(next_line(), closed_error(R"("last")"));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
}

TEST_F(FaultTest, InputEndingInTheMiddleOfALine) {
  // After one whole request, the client writes `pieces` with pauses and
  // closes its output. The app never answers; it sees what the bridge
  // forwarded until the bridge, at the end of its input, closes the link.
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> forwarded;  // after the handshake and the first request
  };
  const std::string cut_request = R"({"jsonrpc":"2.0","id":2,"method":"tools/ca)";
  const Case cases[] = {
      {"a whole request without its LF",
       {cut_request, R"(ll","params":{"name":"x"}})"},
       {R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"x"}})"}},
      {"a cut-off request, forwarded as it is", {cut_request}, {cut_request}},
      {"a character cut short: not UTF-8, so nothing more is forwarded",
       {cut_request, ",\"x\":\"\xE2\x82"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto received = std::make_shared<std::vector<std::string>>();
    play_app([received](RawApp& app) {
      const Deadline deadline = deadline_after(kCaseWait);
      auto link = accept_bridge(app, deadline);
      if (!link) return;
      while (auto line = link->read_line(deadline)) received->push_back(*line);
      EXPECT_TRUE(link->ended()) << "the bridge kept the link";
    });
    start_bridge();
    send(tool_call("1"));
    for (const std::string& piece : c.pieces) {
      std::this_thread::sleep_for(50ms);
      ASSERT_TRUE(bridge_->write(piece));
    }
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
    EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
    join_app();
    std::vector<std::string> want = {tool_call("1")};
    want.insert(want.end(), c.forwarded.begin(), c.forwarded.end());
    EXPECT_EQ(*received, want);
  }
}

TEST_F(FaultTest, ClientThatStopsReadingForAWhileLosesNothingAndTheBridgeDoesNotSpin) {
  // Answering 1, the app writes 48 notifications of 128 KiB first; the
  // client reads nothing for 2 s, and sends 2 to 4 meanwhile.
  constexpr int kNotices = 48;
  const std::string text = filler(128 << 10);
  std::vector<std::string> notices;
  for (int i = 0; i < kNotices; ++i) {
    notices.push_back(
        R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"progressToken":1,"progress":)" +
        std::to_string(i) + R"(,"message":")" + text + R"("}})");
  }
  play_app([notices](RawApp& app) {
    const Deadline deadline = deadline_after(kCaseWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    expect_lines(*link, {tool_call("1")}, deadline);
    std::string bytes;
    for (const std::string& notice : notices) bytes += notice + "\n";
    EXPECT_TRUE(link->write(bytes + answer("1", "one") + "\n", deadline));
    for (const char* id : {"2", "3", "4"}) {
      EXPECT_EQ(link->read_line(deadline), tool_call(id));
      EXPECT_TRUE(link->write(answer(id, id) + "\n", deadline));
    }
    EXPECT_TRUE(link->wait_for_end(deadline));
  });
  start_bridge();
  send(tool_call("1"));
  for (const char* id : {"2", "3", "4"}) send(tool_call(id));
  // The bridge is stuck writing its output well within this; then measure
  // how much CPU it burns while it stays stuck.
  std::this_thread::sleep_for(200ms);
  const std::optional<double> cpu_before = cpu_seconds(bridge_->pid());
  std::this_thread::sleep_for(2s);
  const std::optional<double> cpu_after = cpu_seconds(bridge_->pid());
  if (cpu_before && cpu_after) {
    EXPECT_LT(*cpu_after - *cpu_before, 0.3) << "CPU seconds used while the client did not read";
  }

  for (int i = 0; i < kNotices; ++i) {
    const std::string line = next_line();
    ASSERT_TRUE(same_text(line, notices[i])) << "notification " << i;
  }
  EXPECT_EQ(next_line(), answer("1", "one"));
  for (const char* id : {"2", "3", "4"}) EXPECT_EQ(next_line(), answer(id, id));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
}

TEST_F(FaultTest, LargeAnswerAndLargeRequestCrossingDoNotDeadlock) {
  // The app starts writing a large answer to 1 once the bridge has begun
  // sending the large request 2, and reads nothing until it has written it
  // all: the bridge must keep taking the answer while its send waits.
  const std::string large_answer = answer("1", filler(kLargeMessageBytes));
  const std::string large_request = tool_call("2", filler(kLargeMessageBytes));
  const auto received_request = std::make_shared<std::optional<std::string>>();
  play_app([large_answer, received_request](RawApp& app) {
    const Deadline deadline = deadline_after(kCaseWait);
    auto link = accept_bridge(app, deadline);
    if (!link) return;
    expect_lines(*link, {tool_call("1")}, deadline);
    EXPECT_TRUE(link->wait_for_bytes(deadline)) << "request 2 did not start";
    EXPECT_TRUE(link->write(large_answer + "\n", deadline)) << "deadlock: answer 1 stuck";
    *received_request = link->read_line(deadline);
    EXPECT_TRUE(link->write(answer("2", "two") + "\n", deadline));
    EXPECT_TRUE(link->wait_for_end(deadline));
  });
  start_bridge();
  const Deadline deadline = deadline_after(kCaseWait);
  send(tool_call("1"));
  ASSERT_TRUE(bridge_->write(large_request + "\n", deadline)) << "deadlock: request 2 stuck";
  const std::optional<std::string> relayed = read_long_line(*bridge_, deadline);
  ASSERT_TRUE(relayed.has_value()) << "deadlock: no answer to 1";
  EXPECT_TRUE(same_text(*relayed, large_answer));
  EXPECT_EQ(next_line(deadline), answer("2", "two"));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  join_app();
  ASSERT_TRUE(received_request->has_value());
  EXPECT_TRUE(same_text(**received_request, large_request));
}

}  // namespace
}  // namespace harlo_test
