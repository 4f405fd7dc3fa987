// The stand-in desktop app, driven directly over its socket: the test
// equipment has to be right before the bridge's tests can lean on it.
#include "support/standin_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "mcp_wire/json.h"
#include "support/child.h"
#include "support/socket_client.h"
#include "support/temp_dir.h"

namespace harlo_test {
namespace {

constexpr std::string_view kHandshake = R"({"harlo":"0.10.0"})";
constexpr std::string_view kAccepted = R"({"ok":true})";
constexpr std::chrono::milliseconds kQuietPeriod{200};

bool file_exists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

class StandinAppTest : public ::testing::Test {
 protected:
  // Starts the stand-in under home_ with `args`, replacing any earlier one.
  void start(std::vector<std::string> args) {
    app_.reset();
    std::string error;
    StandinConfig config;
    config.home = home_.path();
    config.args = std::move(args);
    app_ = StandinApp::start(config, &error);
    ASSERT_TRUE(app_) << error;
  }

  SocketClient connect() {
    std::string error;
    std::optional<SocketClient> client = SocketClient::connect(app_->socket_path(), &error);
    EXPECT_TRUE(client) << error;
    if (!client) std::abort();  // nothing sensible can follow in the caller
    return std::move(*client);
  }

  // A connection whose handshake the stand-in has accepted.
  SocketClient connect_accepted() {
    SocketClient client = connect();
    EXPECT_TRUE(client.send_line(kHandshake));
    EXPECT_EQ(client.read_line(), kAccepted);
    return client;
  }

  TempDir home_;
  std::optional<StandinApp> app_;
};

TEST_F(StandinAppTest, ListensOnTheBridgesPathAndRemovesTheSocketWhenStopped) {
  const std::string data_dir = home_.file("Library/Application Support/Harlo");
  const std::string socket = data_dir + "/mcp.sock";
  ASSERT_TRUE(make_dirs(data_dir));
  ASSERT_TRUE(write_file(socket, "left behind by a crashed app"));

  ASSERT_NO_FATAL_FAILURE(start({}));
  EXPECT_EQ(app_->socket_path(), socket);
  SocketClient client = connect_accepted();

  EXPECT_EQ(app_->stop(), ExitStatus::exited(0));
  EXPECT_FALSE(file_exists(socket));
}

TEST_F(StandinAppTest, AnswersTheHandshakeAsItsSwitchesSay) {
  const std::string too_old = R"({"error":"outdated","version":"0.9.0"})";
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> reply;  // nothing: closed without a reply
    bool serves_after;                 // else the connection is closed after the reply
  };
  const Case cases[] = {
      {{}, std::string(kAccepted), true},
      {{"--crlf"}, std::string(kAccepted) + "\r", true},
      {{"--reject"}, R"({"error":"outdated"})", false},
      {{"--reject-version", "0.9.0"}, too_old, false},
      {{"--handshake-reply", too_old}, too_old, true},
      {{"--handshake-reply", "not json"}, "not json", true},
      {{"--no-handshake-reply"}, std::nullopt, false},
      {{"--close-after", "0"}, std::string(kAccepted), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ASSERT_NO_FATAL_FAILURE(start(c.args));
    SocketClient client = connect();
    ASSERT_TRUE(client.send_line(kHandshake));
    EXPECT_EQ(client.read_line(), c.reply);
    std::vector<std::string> received = {std::string(kHandshake)};
    if (c.serves_after) {
      received.push_back(R"({"jsonrpc":"2.0","id":7,"method":"ping"})");
      ASSERT_TRUE(client.send_line(received.back()));
      const std::optional<std::string> answer = client.read_line();
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->rfind(R"({"jsonrpc":"2.0","id":7,"result":{}})", 0), 0u) << *answer;
    } else {
      EXPECT_EQ(client.read_until_eof(), "");
    }
    EXPECT_EQ(app_->wait_for_recorded_lines(received.size()), received);
  }
}

TEST_F(StandinAppTest, SilentHandshakeKeepsTheConnectionOpenWithoutAReply) {
  ASSERT_NO_FATAL_FAILURE(start({"--silent-handshake"}));
  SocketClient client = connect();
  ASSERT_TRUE(client.send_line(kHandshake));
  ASSERT_TRUE(client.send_line("after"));
  EXPECT_EQ(client.read_line(deadline_after(kQuietPeriod)), std::nullopt);
  EXPECT_FALSE(client.ended());
  EXPECT_EQ(app_->wait_for_recorded_lines(2),
            (std::vector<std::string>{std::string(kHandshake), "after"}));
}

TEST_F(StandinAppTest, SizedHandshakeReplyHasExactlyThatManyBytesBeforeItsLineFeed) {
  struct Case {
    std::vector<std::string> args;
    size_t size;
  };
  const Case cases[] = {
      {{"--handshake-reply-size", "20"}, 20},
      {{"--handshake-reply-size", "512"}, 512},
      {{"--handshake-reply-size", "513"}, 513},
      {{"--handshake-reply-size", "512", "--crlf"}, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ASSERT_NO_FATAL_FAILURE(start(c.args));
    SocketClient client = connect();
    ASSERT_TRUE(client.send_line(kHandshake));
    const std::optional<std::string> reply = client.read_line();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), c.size);
    const std::optional<mcp_wire::Json> json = mcp_wire::read_json(*reply);
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["ok"], true);
  }
}

TEST_F(StandinAppTest, CopiesEveryKindOfIdBackUnchanged) {
  ASSERT_NO_FATAL_FAILURE(start({}));
  SocketClient client = connect_accepted();
  for (const char* id :
       {"1", "1.0", R"("1")", "-5", "18446744073709551615", "null", R"({"k":[1,2]})"}) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(
        client.send_line(std::string(R"({"jsonrpc":"2.0","id":)") + id + R"(,"method":"ping"})"));
    EXPECT_EQ(client.read_line(),
              std::string(R"({"jsonrpc":"2.0","id":)") + id + R"(,"result":{}})");
  }
}

TEST_F(StandinAppTest, AnswersEachMethodAndOnlyRequests) {
  ASSERT_NO_FATAL_FAILURE(start({}));
  SocketClient client = connect_accepted();
  struct Case {
    const char* sent;
    const char* answer;
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26"}})",
       R"({"jsonrpc":"2.0","id":1,"result":{"protocolVersion":"2025-03-26","capabilities":{"tools":{}},"serverInfo":{"name":"Harlo","version":"0.10.0"}}})"},
      {R"({"jsonrpc":"2.0","id":2,"method":"initialize"})",
       R"({"jsonrpc":"2.0","id":2,"result":{"protocolVersion":"2025-06-18","capabilities":{"tools":{}},"serverInfo":{"name":"Harlo","version":"0.10.0"}}})"},
      {"{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"ping\"}\r",
       R"({"jsonrpc":"2.0","id":3,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"run_select"}})",
       R"({"jsonrpc":"2.0","id":4,"result":{"content":[{"type":"text","text":"called run_select"}]}})"},
      {R"({"jsonrpc":"2.0","id":5,"method":"resources/list"})",
       R"({"jsonrpc":"2.0","id":5,"error":{"code":-32601,"message":"method not found"}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    // Neither a notification, a response nor an unreadable line is
    // answered: the next line back is the request's answer.
    ASSERT_TRUE(client.send_line(R"({"jsonrpc":"2.0","method":"notifications/initialized"})"));
    ASSERT_TRUE(client.send_line(R"({"jsonrpc":"2.0","id":"app-1","result":{}})"));
    ASSERT_TRUE(client.send_line("{"));
    ASSERT_TRUE(client.send_line(c.sent));
    EXPECT_EQ(client.read_line(), c.answer);
  }

  ASSERT_TRUE(client.send_line(R"({"jsonrpc":"2.0","id":6,"method":"tools/list"})"));
  const std::optional<std::string> listed = client.read_line();
  ASSERT_TRUE(listed);
  const std::optional<mcp_wire::Json> json = mcp_wire::read_json(*listed);
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["id"], 6);
  EXPECT_FALSE((*json)["result"]["tools"].empty());
}

TEST_F(StandinAppTest, ShapesItsAnswersAsItsSwitchesSay) {
  const std::string initialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})";
  const std::string ping = R"({"jsonrpc":"2.0","id":2,"method":"ping"})";
  const std::string call = R"({"jsonrpc":"2.0","id":3,"method":"tools/call"})";
  const std::string pong = R"({"jsonrpc":"2.0","id":2,"result":{}})";
  const std::string note = R"({"jsonrpc":"2.0","method":"notifications/message"})";
  const std::string other = R"({"jsonrpc":"2.0","id":99,"result":{}})";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> sent;
    std::vector<std::string> received;
  };
  const Case cases[] = {
      {{"--initialize-error"},
       {initialize},
       {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32603,"message":"initialize failed"}})"}},
      {{"--initialize-silent"}, {initialize, ping}, {pong}},
      {{"--no-answer-method", "tools/call", "--no-answer-method", "initialize"},
       {call, initialize, ping},
       {pong}},
      {{"--on-connect", note}, {ping}, {note, pong}},
      {{"--before-initialize-reply", note, "--before-initialize-reply", other,
        "--initialize-silent"},
       {initialize, ping},
       {note, other, pong}},
      {{"--before-reply", note}, {ping, ping}, {note, pong, note, pong}},
      {{"--never-answer", "--before-reply", note}, {ping, ping}, {note, note}},
      {{"--crlf"}, {ping}, {pong + "\r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ASSERT_NO_FATAL_FAILURE(start(c.args));
    SocketClient client = connect();
    ASSERT_TRUE(client.send_line(kHandshake));
    ASSERT_TRUE(client.read_line());
    for (const std::string& line : c.sent) ASSERT_TRUE(client.send_line(line));
    for (const std::string& want : c.received) EXPECT_EQ(client.read_line(), want);
  }
}

TEST_F(StandinAppTest, DelaysEachAnswer) {
  ASSERT_NO_FATAL_FAILURE(start({"--delay-ms", "300"}));
  SocketClient client = connect_accepted();
  const auto sent = Clock::now();
  ASSERT_TRUE(client.send_line(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"));
  ASSERT_TRUE(client.read_line());
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(300));
}

TEST_F(StandinAppTest, RecordsEveryLineOfEveryConnectionAsReceived) {
  ASSERT_NO_FATAL_FAILURE(start({}));
  SocketClient first = connect_accepted();
  SocketClient second = connect_accepted();  // both open at once
  ASSERT_TRUE(second.send_line("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\r"));
  ASSERT_TRUE(second.read_line());
  ASSERT_TRUE(first.send_line(""));
  ASSERT_TRUE(first.send_line("not json"));
  ASSERT_TRUE(first.send("cut off"));
  first.close();

  EXPECT_EQ(app_->wait_for_recorded_lines(6),
            (std::vector<std::string>{
                std::string(kHandshake),
                std::string(kHandshake),
                "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\r",
                "",
                "not json",
                "cut off",
            }));
}

TEST_F(StandinAppTest, ClosesAfterTheGivenNumberOfAnswers) {
  const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
  const std::string pong = R"({"jsonrpc":"2.0","id":1,"result":{}})";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;   // after the first answer
    std::optional<std::string> rest;  // up to the end of the stream; nothing: stays open
  };
  const Case cases[] = {
      {{"--close-after", "1"}, {}, ""},
      {{"--close-after", "2"}, {pong}, ""},
      {{"--close-after", "2", "--close-mid-line"}, {}, pong.substr(0, pong.size() / 2)},
      // Requests left unanswered do not count.
      {{"--close-after", "2", "--no-answer-method", "ping"}, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ASSERT_NO_FATAL_FAILURE(start(c.args));
    SocketClient client = connect_accepted();
    ASSERT_TRUE(client.send_line(R"({"jsonrpc":"2.0","id":0,"method":"tools/list"})"));
    ASSERT_TRUE(client.read_line());
    for (int i = 0; i < 3; ++i) client.send_line(ping);  // fails once the stand-in has closed
    for (const std::string& want : c.lines) EXPECT_EQ(client.read_line(), want);
    if (c.rest) {
      EXPECT_EQ(client.read_until_eof(), c.rest);
    } else {
      EXPECT_EQ(client.read_line(deadline_after(kQuietPeriod)), std::nullopt);
      EXPECT_FALSE(client.ended());
    }
  }
}

TEST(StandinAppCommandLine, RefusesUnknownSwitchesAndBadValues) {
  const std::vector<std::string> cases[] = {
      {"--bogus"}, {"--close-after"}, {"--delay-ms", "soon"}, {"--handshake-reply-size", "19"}};
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    TempDir home;
    ChildOptions options;
    options.argv = {kStandinAppBinary};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = {"HOME=" + home.path()};
    std::string error;
    std::optional<Child> child = Child::spawn(options, &error);
    ASSERT_TRUE(child) << error;
    EXPECT_EQ(child->wait(), ExitStatus::exited(2));
    const std::optional<std::string> usage = child->read_stderr_until_eof();
    ASSERT_TRUE(usage);
    EXPECT_NE(usage->find("usage: harlo-standin-app"), std::string::npos) << *usage;
    EXPECT_EQ(child->read_stdout_until_eof(), "");
  }
}

}  // namespace
}  // namespace harlo_test
