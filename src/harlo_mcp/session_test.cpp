// The session in-process: the client on two pipes, the app played by the
// test on a socket (RawApp), a Host that only counts, and a clock that the
// test moves, so that the deadlines of ten and twenty seconds are met in no
// time and counted exactly.
#include "harlo_mcp/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "harlo_mcp/error_reply.h"
#include "harlo_mcp_protocol/ipc.h"
#include "support/raw_app.h"
#include "support/stream.h"
#include "support/temp_dir.h"

namespace harlo_mcp {
namespace {

using namespace std::chrono_literals;
using harlo_test::Fd;
using harlo_test::Inbox;

// Time that moves only when the session pauses (by the pause) or when the
// test says so. A wait with a deadline blocks on its descriptors for real
// until the test expires it (expire_next_wait) or a descriptor is ready, so
// a deadline passes exactly when the test decides and never by accident.
// Waits without a deadline are real waits.
class FakeClock final : public Clock {
 public:
  static constexpr TimePoint kStart = TimePoint{} + 1000h;

  FakeClock() { EXPECT_TRUE(harlo_test::make_pipe(&wake_reader_, &wake_writer_)); }

  TimePoint now() override {
    const std::lock_guard lock(mutex_);
    return now_;
  }

  void pause(std::chrono::milliseconds duration) override {
    const std::lock_guard lock(mutex_);
    now_ += duration;
    ++pauses_;
  }

  int wait(std::span<harlo_platform::Watch> watches, std::optional<TimePoint> deadline) override {
    std::vector<harlo_platform::Watch> all(watches.begin(), watches.end());
    if (deadline) all.push_back({.fd = wake_reader_.get(), .want_read = true});
    for (;;) {
      if (deadline) {
        std::lock_guard lock(mutex_);
        if (now_ >= *deadline || expire_all_) return 0;
        waiting_until_ = *deadline;
        waiting_.notify_all();
      }
      int ready = harlo_platform::wait_for(all, -1);
      if (deadline) {
        std::lock_guard lock(mutex_);
        waiting_until_.reset();
      }
      if (ready < 0) return -1;
      if (deadline && all.back().readable) {
        char byte;
        while (read(wake_reader_.get(), &byte, 1) < 0 && errno == EINTR) {
        }
        --ready;
      }
      if (ready > 0) {
        std::copy_n(all.begin(), watches.size(), watches.begin());
        return ready;
      }
    }
  }

  // Waits, for real and a few seconds at most, until the session waits
  // with a deadline, then moves the clock to that deadline. Returns how far
  // the deadline lay from kStart, or nothing when the session never waited.
  std::optional<std::chrono::milliseconds> expire_next_wait() {
    std::unique_lock lock(mutex_);
    if (!waiting_.wait_for(lock, 5s, [&] { return waiting_until_.has_value(); })) {
      return std::nullopt;
    }
    const TimePoint deadline = *std::exchange(waiting_until_, std::nullopt);
    now_ = std::max(now_, deadline);
    wake();
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - kStart);
  }

  // From now on every deadline has passed: lets a session that a failed
  // test left waiting run to its end.
  void expire_all() {
    const std::lock_guard lock(mutex_);
    expire_all_ = true;
    wake();
  }

  std::chrono::milliseconds elapsed() {
    const std::lock_guard lock(mutex_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - kStart);
  }

  int pauses() {
    const std::lock_guard lock(mutex_);
    return pauses_;
  }

 private:
  void wake() { EXPECT_EQ(write(wake_writer_.get(), "x", 1), 1); }

  std::mutex mutex_;
  std::condition_variable waiting_;
  TimePoint now_ = kStart;
  std::optional<TimePoint> waiting_until_;
  bool expire_all_ = false;
  int pauses_ = 0;
  Fd wake_reader_, wake_writer_;
};

// Starts nothing: counts the launches, with the clock's time of the first,
// and runs `on_launch` (on the session's thread) for each.
class FakeHost final : public Host {
 public:
  explicit FakeHost(FakeClock& clock) : clock_(clock) {}

  std::optional<LaunchError> launch() const override {
    if (launches_ == 0) first_launch_ = clock_.elapsed();
    if (on_launch) on_launch();
    ++launches_;
    return result;
  }
  void app_reached() const override { ++reached_; }

  int launches() const { return launches_; }
  int reached() const { return reached_; }
  std::chrono::milliseconds first_launch() const { return first_launch_; }

  std::optional<LaunchError> result;
  std::function<void()> on_launch;

 private:
  FakeClock& clock_;
  mutable std::atomic<int> launches_ = 0;
  mutable std::atomic<int> reached_ = 0;
  mutable std::atomic<std::chrono::milliseconds> first_launch_{};
};

std::string request(const std::string& id, const std::string& method,
                    const std::string& params = "") {
  std::string line = R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + "\"";
  if (!params.empty()) line += R"(,"params":)" + params;
  return line + "}";
}

std::string initialize(const std::string& id) {
  return request(id, "initialize",
                 R"({"protocolVersion":"2025-06-18","capabilities":{},)"
                 R"("clientInfo":{"name":"test","version":"1"}})");
}

std::string tool_call(const std::string& id) {
  return request(id, "tools/call", R"({"name":"list_connections","arguments":{}})");
}

std::string error_for(const std::string& id, OfflineReason reason) {
  return error_reply(*mcp_wire::read_json(id), message_for(reason));
}

class SessionCoreTest : public ::testing::Test {
 protected:
  const std::string kHandshake{harlo_mcp_protocol::ipc::kHandshakeLine.substr(
      0, harlo_mcp_protocol::ipc::kHandshakeLine.size() - 1)};

  SessionCoreTest() : host_(clock_) {
    config_.socket_path = dir_.file("app.sock");
    config_.preferences_file = [this] { return std::optional(dir_.file("preferences.json")); };
  }

  ~SessionCoreTest() override {
    clock_.expire_all();
    client_writer_.reset();  // the end of the input ends the session
    app_.reset();
    if (session_.joinable()) session_.join();
  }

  void start_session() {
    Fd session_in, session_out, client_reader;
    ASSERT_TRUE(harlo_test::make_pipe(&session_in, &client_writer_));
    ASSERT_TRUE(harlo_test::make_pipe(&client_reader, &session_out));
    harlo_test::set_nonblocking(client_reader.get());
    client_ = Inbox(std::move(client_reader));
    session_ = std::thread([this, in = std::move(session_in), out = std::move(session_out)] {
      harlo_test::ignore_sigpipe();
      Session(in.get(), out.get(), host_, clock_, config_).run();
    });
  }

  void switch_mcp_on() {
    ASSERT_TRUE(
        harlo_test::write_file(dir_.file("preferences.json"), R"({"mcp":{"enabled":true}})"));
  }

  void start_app() {
    std::string error;
    app_ = harlo_test::RawApp::listen(*config_.socket_path, &error);
    ASSERT_TRUE(app_) << error;
  }

  void send(const std::string& line) {
    const std::string bytes = line + "\n";
    ASSERT_EQ(write(client_writer_.get(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  // Sends a ping, which connects: the app accepts, takes it and answers,
  // and the answer reaches the client. Returns the app's side of the link,
  // or nothing (with a failure recorded) when any step went otherwise.
  std::optional<harlo_test::RawConnection> relay_a_ping() {
    send(request("1", "ping"));
    std::optional<harlo_test::RawConnection> connection = app_->accept(kHandshake);
    const std::string answer = R"({"jsonrpc":"2.0","id":1,"result":{}})";
    if (!connection || connection->read_line() != request("1", "ping") ||
        !connection->write(answer + "\n") || next_line() != answer) {
      ADD_FAILURE() << "the ping was not relayed both ways";
      return std::nullopt;
    }
    return connection;
  }

  // The next line the session wrote to the client, or "<nothing>".
  std::string next_line() {
    harlo_test::pump({&client_}, harlo_test::deadline_after(), [&] { return client_.has_line(); });
    return client_.take_line().value_or("<nothing>");
  }

  harlo_test::TempDir dir_;
  SessionConfig config_;
  FakeClock clock_;
  FakeHost host_;
  std::optional<harlo_test::RawApp> app_;
  Fd client_writer_;
  Inbox client_;
  std::thread session_;
};

TEST_F(SessionCoreTest, RelaysBothWaysOnceTheAppAnswersTheHandshake) {
  start_app();
  start_session();
  relay_a_ping();
  EXPECT_EQ(clock_.elapsed(), 0ms);
}

TEST_F(SessionCoreTest, HandshakeNeverAnsweredCountsAsNotRunningAtItsDeadline) {
  start_app();  // listens, and never accepts
  start_session();
  send(request("4", "resources/list"));
  EXPECT_EQ(clock_.expire_next_wait(), 10s);
  EXPECT_EQ(next_line(), error_for("4", OfflineReason::NotRunning));
}

// Lines with the id 1.0 or "1" are not the answer to the request with id 1.
TEST_F(SessionCoreTest, ReplayNeverAnsweredCountsAsNotRunningAtItsDeadline) {
  start_session();
  send(initialize("1"));
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));  // offline
  start_app();
  send(request("3", "resources/list"));
  auto connection = app_->accept(kHandshake);
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->read_line(), initialize("1"));
  ASSERT_TRUE(connection->write(R"({"jsonrpc":"2.0","id":1.0,"result":{}})"
                                "\n"
                                R"({"jsonrpc":"2.0","id":"1","result":{}})"
                                "\n"));
  EXPECT_EQ(clock_.expire_next_wait(), 10s);  // from the replay, which came at once
  EXPECT_EQ(next_line(), error_for("3", OfflineReason::NotRunning));
}

TEST_F(SessionCoreTest, ToolCallStartsTheAppAndMakesEightyAttemptsInTwentySeconds) {
  switch_mcp_on();
  start_session();
  send(tool_call("2"));
  EXPECT_EQ(next_line(), error_for("2", OfflineReason::LaunchFailed));
  EXPECT_EQ(host_.launches(), 1);
  EXPECT_EQ(host_.reached(), 0);
  EXPECT_EQ(clock_.pauses(), 80);
  EXPECT_EQ(clock_.elapsed(), 20s);
}

TEST_F(SessionCoreTest, ToolCallThatReachesTheStartedAppTellsTheHost) {
  switch_mcp_on();
  std::promise<void> started;
  host_.on_launch = [&] {
    start_app();
    started.set_value();
  };
  start_session();
  send(tool_call("2"));
  ASSERT_EQ(started.get_future().wait_for(5s), std::future_status::ready);
  auto connection = app_->accept(kHandshake);
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->read_line(), tool_call("2"));
  EXPECT_EQ(host_.reached(), 1);
  EXPECT_EQ(clock_.pauses(), 1);
}

TEST_F(SessionCoreTest, StartThatCannotBeMadeOrIsSwitchedOffStartsNoWait) {
  start_session();
  send(tool_call("1"));  // no preferences: MCP counts as off
  EXPECT_EQ(next_line(), error_for("1", OfflineReason::Disabled));
  switch_mcp_on();
  host_.result = LaunchError{ENOENT, {}};
  send(tool_call("2"));
  EXPECT_EQ(next_line(), error_for("2", OfflineReason::LaunchFailed));
  EXPECT_EQ(host_.launches(), 1);
  EXPECT_EQ(clock_.pauses(), 0);
}

// An app that accepts connections and never answers the handshake holds the
// client no longer than the start's window: every attempt's wait for the
// reply ends with the window, and no attempt starts after it.
TEST_F(SessionCoreTest, AppThatNeverAnswersTheHandshakeGivesLaunchFailedWithinTheWindow) {
  switch_mcp_on();
  start_app();  // listens, and never accepts
  start_session();
  send(tool_call("2"));
  // Before the start: the app seems to be there, and gets its ten seconds.
  EXPECT_EQ(clock_.expire_next_wait(), 10s);
  // Then the start at 10 s, with a window up to 30 s. The first attempt,
  // after its pause, waits its full ten seconds; the next one only until the
  // window closes; then no attempt is left.
  EXPECT_EQ(clock_.expire_next_wait(), 20250ms);
  EXPECT_EQ(clock_.expire_next_wait(), 30s);
  EXPECT_EQ(next_line(), error_for("2", OfflineReason::LaunchFailed));
  EXPECT_EQ(host_.first_launch(), 10s);
  EXPECT_EQ(clock_.elapsed(), 30s);
}

// A line that is not UTF-8 ends the session after the lines before it, also
// when those lines come back from a send to an app that has gone: nothing
// after it is answered. Whether the session sees the app's end or the
// client's lines first, ids 2 and 3 get one answer each, and 4 none.
TEST_F(SessionCoreTest, LineThatIsNotUtf8EndsTheSessionEvenBehindAFailedSend) {
  start_app();
  start_session();
  std::optional<harlo_test::RawConnection> connection = relay_a_ping();
  ASSERT_TRUE(connection);

  app_->stop_listening();
  connection->close();
  send(request("2", "ping") + "\n" + request("3", "ping") + "\n\xFF\n" + request("4", "ping"));
  harlo_test::pump({&client_}, harlo_test::deadline_after(), [] { return false; });
  EXPECT_TRUE(client_.ended());
  std::vector<std::string> ids;
  while (const auto line = client_.take_line()) {
    ids.push_back(mcp_wire::write_json((*mcp_wire::read_json(*line))["id"]));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"2", "3"}));
}

}  // namespace
}  // namespace harlo_mcp
