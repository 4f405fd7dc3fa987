// The bridge as an AI client meets it: relaying to the app, answering for
// a vanished app, reconnecting, and ending cleanly.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "bridge_fixture.h"

extern char** environ;

namespace harlo_test {
namespace {

using harlo_mcp::kClosedConnectionMessage;
using harlo_mcp::OfflineReason;

constexpr const char* kHandshake = R"({"harlo":"0.10.0"})";

std::string tool_call(const std::string& id, const std::string& tool) {
  return request(id, "tools/call", R"({"name":")" + tool + R"(","arguments":{}})");
}

std::string tool_result(const std::string& id, const std::string& tool) {
  return R"({"jsonrpc":"2.0","id":)" + id +
         R"(,"result":{"content":[{"type":"text","text":"called )" + tool + R"("}]}})";
}

std::string method_not_found(const std::string& id) {
  return R"({"jsonrpc":"2.0","id":)" + id +
         R"(,"error":{"code":-32601,"message":"method not found"}})";
}

using SessionTest = BridgeTest;

TEST_F(SessionTest, RelaysLinesUnchangedBothWays) {
  // Odd spacing and non-ASCII text must pass untouched; CR LF becomes LF.
  const std::string app_notice =
      R"({ "jsonrpc" : "2.0", "method":"notifications/message","params":{"data":"é → ü"} })";
  start_app({"--crlf", "--before-reply", app_notice});
  start_bridge();
  const std::string init = initialize("1");
  ASSERT_TRUE(bridge_->write(init + "\r\n"));
  const std::string init_answer = next_line();
  EXPECT_TRUE(init_answer.starts_with(R"({"jsonrpc":"2.0","id":1,"result":)")) << init_answer;
  EXPECT_FALSE(init_answer.ends_with("\r"));

  ASSERT_TRUE(bridge_->write(notification("notifications/initialized") + "\r\n"));
  const std::string call =
      R"({ "jsonrpc":"2.0" ,"id" : 2, "method":"tools/call","params":{"name":"run_select","arguments":{"sql":"select 'ä'"}} })";
  send(call);
  EXPECT_EQ(next_line(), app_notice);
  EXPECT_EQ(next_line(), tool_result("2", "run_select"));

  EXPECT_EQ(app_->wait_for_recorded_lines(4),
            (std::vector<std::string>{kHandshake, init, notification("notifications/initialized"),
                                      call}));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
}

TEST_F(SessionTest, VanishedAppLeavesPendingRequestsAnsweredInOrderThenReconnectsWithReplay) {
  start_app({"--no-answer-method", "slow"});
  start_bridge();
  const std::string init = initialize("1");
  send(init);
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));
  const std::string initialized = notification("notifications/initialized");
  send(initialized);
  send(request("5", "slow"));
  send(request("\"six\"", "slow"));
  send(request("7", "slow"));
  app_->wait_for_recorded_lines(6);
  send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7}})");
  send(R"({"jsonrpc":"2.0","id":7,"result":{}})");  // a client response, not an answer to 7
  app_->wait_for_recorded_lines(8);
  stop_app();
  EXPECT_EQ(next_line(), error_for("5", kClosedConnectionMessage));
  EXPECT_EQ(next_line(), error_for("\"six\"", kClosedConnectionMessage));
  EXPECT_EQ(next_line(), error_for("7", kClosedConnectionMessage));

  // The app comes back: the next request replays the opening lines first,
  // and the client sees only the answer to its own request.
  start_app();
  send(tool_call("8", "list_connections"));
  EXPECT_EQ(next_line(), tool_result("8", "list_connections"));
  send(request("9", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":9,"result":{}})");
  EXPECT_EQ(app_->wait_for_recorded_lines(5),
            (std::vector<std::string>{kHandshake, init, initialized,
                                      tool_call("8", "list_connections"), request("9", "ping")}));
}

TEST_F(SessionTest, AnswerForAnIdThatIsNoLongerPendingIsNotAnsweredTwice) {
  start_app();
  start_bridge();
  send(request("5", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":5,"result":{}})");
  stop_app();
  // The end of the link and the next request may be ready together, and the
  // bridge takes either first: then the request finds the app gone (the
  // bridge answers it) or goes to the closed link (the closed reply). Either
  // way id 6 gets exactly one answer and id 5, no longer pending, none.
  send(request("6", "resources/list"));
  const std::string answer = next_line();
  EXPECT_TRUE(answer == error_for("6", OfflineReason::NotRunning) ||
              answer == error_for("6", kClosedConnectionMessage))
      << answer;
  send(request("7", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":7,"result":{}})");
}

TEST_F(SessionTest, ReplaySkipsUnrelatedLinesIncludingAnAppRequestWithTheSameId) {
  start_bridge();
  const std::string init = initialize("1");
  send(init);
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));  // offline
  send(notification("notifications/initialized"));

  // Before answering the replayed initialize, the app sends a notification,
  // its own request numbered like the client's, and an unrelated response.
  start_app({"--before-initialize-reply", notification("notifications/message"),
             "--before-initialize-reply", request("1", "roots/list"), "--before-initialize-reply",
             R"({"jsonrpc":"2.0","id":99,"result":{}})"});
  send(tool_call("2", "list_connections"));
  EXPECT_EQ(next_line(), tool_result("2", "list_connections"));
  EXPECT_EQ(app_->wait_for_recorded_lines(4),
            (std::vector<std::string>{kHandshake, init, notification("notifications/initialized"),
                                      tool_call("2", "list_connections")}));
  // Nothing of the skipped lines reaches the client afterwards either.
  send(request("3", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":3,"result":{}})");
}

TEST_F(SessionTest, ReplayAnsweredWithAnErrorCountsAsNotRunning) {
  start_bridge();
  send(initialize("1"));
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));
  start_app({"--initialize-error"});
  send(request("3", "resources/list"));
  EXPECT_EQ(next_line(), error_for("3", OfflineReason::NotRunning));
}

// Answers with the id 1.0 or "1" are not the answer to the request with id 1.
TEST_F(SessionTest, ReplayUnansweredForTenSecondsCountsAsNotRunning) {
  start_bridge();
  send(initialize("1"));
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));
  start_app({"--initialize-silent", "--before-initialize-reply",
             R"({"jsonrpc":"2.0","id":1.0,"result":{}})", "--before-initialize-reply",
             R"({"jsonrpc":"2.0","id":"1","result":{}})"});
  const auto start = Clock::now();
  send(request("3", "resources/list"));
  EXPECT_EQ(next_line(deadline_after(std::chrono::seconds(20))),
            error_for("3", OfflineReason::NotRunning));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(9500));
}

// An app that accepts the connection and never answers the handshake must
// not hang the client: after a generous wait the app counts as not running.
TEST_F(SessionTest, HandshakeNeverAnsweredCountsAsNotRunningAfterTenSeconds) {
  start_app({"--silent-handshake"});
  start_bridge();
  const auto start = Clock::now();
  send(request("4", "resources/list"));
  EXPECT_EQ(next_line(deadline_after(std::chrono::seconds(20))),
            error_for("4", OfflineReason::NotRunning));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(9500));
}

TEST_F(SessionTest, HandshakeOutcomes) {
  struct Case {
    std::vector<std::string> app_args;
    std::string answer;  // to resources/list with id 4
  };
  const Case cases[] = {
      {{}, method_not_found("4")},
      {{"--handshake-reply", R"({"ok":true,"version":"9.9.9"})"}, method_not_found("4")},
      {{"--reject-version", "0.11.0"}, error_for("4", OfflineReason::BridgeOutdated)},
      {{"--reject-version", "0.10.0"}, error_for("4", OfflineReason::AppOutdated)},
      {{"--reject-version", "0.9.12"}, error_for("4", OfflineReason::AppOutdated)},
      {{"--reject"}, error_for("4", OfflineReason::AppOutdated)},
      {{"--handshake-reply-size", "512"}, method_not_found("4")},
      {{"--handshake-reply-size", "513"}, error_for("4", OfflineReason::NotRunning)},
      {{"--handshake-reply", R"({"ok":false})"}, error_for("4", OfflineReason::NotRunning)},
      {{"--handshake-reply", "not json"}, error_for("4", OfflineReason::NotRunning)},
      {{"--no-handshake-reply"}, error_for("4", OfflineReason::NotRunning)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.app_args));
    start_app(c.app_args);
    start_bridge();
    send(request("4", "resources/list"));
    EXPECT_EQ(next_line(), c.answer);
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
    stop_app();
  }
}

// Whoever listens at the socket path as another user is not the app: it
// must never receive the client's requests.
TEST_F(SessionTest, ListenerOfAnotherUserIsNotTheApp) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the stand-in app as another user";
  constexpr const char* kSetpriv = "/usr/bin/setpriv";  // util-linux: Linux only
  if (access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "needs " << kSetpriv;
  constexpr const char* kNobody = "65534";
  const std::string data = home() + "/Library/Application Support/Harlo";
  ASSERT_TRUE(make_dirs(data));
  ASSERT_EQ(chmod(home().c_str(), 0755), 0);
  for (const std::string& dir :
       {home() + "/Library", home() + "/Library/Application Support", data}) {
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  }
  ASSERT_EQ(chown(data.c_str(), 65534, 65534), 0);
  ChildOptions options;
  options.argv = {kSetpriv, std::string("--reuid=") + kNobody, std::string("--regid=") + kNobody,
                  "--clear-groups", kStandinAppBinary};
  options.env = sanitizer_env();
  options.env.push_back("HOME=" + home());
  std::string error;
  auto stranger = Child::spawn(options, &error);
  ASSERT_TRUE(stranger.has_value()) << error;
  const auto listening = stranger->read_line();
  ASSERT_TRUE(listening && listening->starts_with("listening ")) << stranger->stderr_so_far();

  start_bridge();
  send(request("1", "resources/list"));
  EXPECT_EQ(next_line(), error_for("1", OfflineReason::NotRunning));
  stranger->signal(SIGTERM);
  EXPECT_EQ(stranger->wait(), ExitStatus::exited(0));
}

TEST_F(SessionTest, RejectedHandshakeAnswersToolsListWithTheReasonNotTheCatalog) {
  start_app({"--reject"});
  start_bridge();
  send(request("2", "tools/list"));
  EXPECT_EQ(next_line(), error_for("2", OfflineReason::AppOutdated));
}

TEST_F(SessionTest, UnlinkedNotificationsAreDroppedWithoutConnecting) {
  start_app();
  start_bridge();
  send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})");
  send(notification("notifications/initialized"));
  send(request("1", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":1,"result":{}})");
  // The stored initialized notification is not replayed without an
  // initialize request before it.
  EXPECT_EQ(app_->wait_for_recorded_lines(2),
            (std::vector<std::string>{kHandshake, request("1", "ping")}));
}

TEST_F(SessionTest, EmptyLines) {
  start_bridge();
  send("");  // unlinked and the app is away: a connection attempt, nothing else
  send(request("1", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":1,"result":{}})");

  start_app();
  send(request("2", "resources/list"));
  EXPECT_EQ(next_line(), method_not_found("2"));
  send("");  // linked: forwarded as an empty line
  send(request("3", "resources/list"));
  EXPECT_EQ(next_line(), method_not_found("3"));
  EXPECT_EQ(app_->wait_for_recorded_lines(4),
            (std::vector<std::string>{kHandshake, request("2", "resources/list"), "",
                                      request("3", "resources/list")}));
}

TEST_F(SessionTest, LaterInitializeReplacesTheStoredOne) {
  start_bridge();
  send(initialize("1", "2024-11-05"));
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));
  send(initialize("2", "2025-11-25"));
  ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":2,"result":)"));
  start_app();
  send(request("3", "resources/list"));
  EXPECT_EQ(next_line(), method_not_found("3"));
  const auto recorded = app_->wait_for_recorded_lines(3);
  ASSERT_GE(recorded.size(), 2u);
  EXPECT_EQ(recorded[1], initialize("2", "2025-11-25"));
}

TEST_F(SessionTest, InputThatIsEmptyOrClosedFromTheStartEndsAtOnce) {
  for (const StdinMode mode : {StdinMode::kDevNull, StdinMode::kClosed}) {
    SCOPED_TRACE(static_cast<int>(mode));
    ChildOptions options;
    options.stdin_mode = mode;
    start_bridge(options);
    EXPECT_EQ(bridge_->wait(), ExitStatus::exited(0));
    EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
    EXPECT_EQ(bridge_->read_stderr_until_eof(), "");  // no banner without a terminal
  }
}

TEST_F(SessionTest, InputThatIsNotUtf8EndsTheSession) {
  start_bridge();
  ASSERT_TRUE(bridge_->write("\xC3\x28\n"));
  EXPECT_EQ(bridge_->wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
}

TEST_F(SessionTest, LastLineWithoutLineFeedStillCounts) {
  start_bridge();
  ASSERT_TRUE(bridge_->write(request("1", "ping")));
  bridge_->close_stdin();
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":1,"result":{}})");
  EXPECT_EQ(bridge_->wait(), ExitStatus::exited(0));
}

TEST_F(SessionTest, InputEndingWhileARequestIsPendingEndsQuietly) {
  start_app({"--never-answer"});
  start_bridge();
  send(request("1", "ping"));
  app_->wait_for_recorded_lines(2);
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");
}

TEST_F(SessionTest, BannerOnlyOnATerminal) {
  ChildOptions options;
  options.terminal = true;
  start_bridge(options);
  send(request("1", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":1,"result":{}})");
  bridge_->close_stdin();  // Ctrl+D at the start of a line
  EXPECT_EQ(bridge_->wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stderr_until_eof(),
            "Harlo MCP server (stdio). AI tools start it on their own; set it up in Harlo \u2192 "
            "Settings \u2192 MCP. Press Ctrl+D to exit.\n");
}

// The client closes its end of the bridge's output: the bridge's next write
// fails, and it exits normally instead of dying of SIGPIPE.
TEST_F(SessionTest, OutputClosedByTheReaderEndsTheSessionWithStatusZero) {
  int input[2], output[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(pipe(output), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_addclose(&actions, input[1]);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  const std::string home_env = "HOME=" + home();
  std::vector<std::string> env = sanitizer_env();
  env.push_back(home_env);
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(kBridgeBinary), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, kBridgeBinary, &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  close(output[0]);  // nobody reads the answers

  signal(SIGPIPE, SIG_IGN);
  const std::string ping = request("1", "ping") + "\n";
  ASSERT_EQ(write(input[1], ping.data(), ping.size()), static_cast<ssize_t>(ping.size()));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(input[1]);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace harlo_test
