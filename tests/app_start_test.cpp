// A tool call that finds the app closed starts it, when the user switched
// MCP on, and waits for it. The bridge runs from a folder that holds it as
// harlo-mcp beside a stand-in Harlo executable: a script that records how it
// was started and brings the stand-in app up a moment later.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "bridge_fixture.h"

namespace harlo_test {
namespace {

namespace fs = std::filesystem;
using harlo_mcp::OfflineReason;

std::string tool_call(const std::string& id) {
  return request(id, "tools/call", R"({"name":"list_connections","arguments":{}})");
}

std::string tool_result(const std::string& id) {
  return R"({"jsonrpc":"2.0","id":)" + id +
         R"(,"result":{"content":[{"type":"text","text":"called list_connections"}]}})";
}

class AppStartTest : public BridgeTest {
 protected:
  void SetUp() override {
    bin_ = dir_.file("Harlo.app-like");
    data_ = dir_.file("Library/Application Support/Harlo");
    ASSERT_TRUE(make_dirs(bin_));
    ASSERT_TRUE(make_dirs(data_));
  }

  void TearDown() override {
    // The stand-in started by the script outlives the bridge: stop it.
    if (const auto pid = read_file(dir_.file("app.pid"))) {
      const pid_t app = static_cast<pid_t>(std::stol(*pid));
      kill(app, SIGTERM);
      for (int i = 0; i < 100 && kill(app, 0) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }

  // Puts the bridge at <bin>/harlo-mcp, as a copy or as a symbolic link
  // to the built binary.
  void install_bridge(bool as_link) {
    const std::string path = bin_ + "/harlo-mcp";
    if (as_link) {
      fs::create_symlink(kBridgeBinary, path);
    } else {
      fs::copy_file(kBridgeBinary, path);
    }
    bridge_binary_ = path;
  }

  // Puts an executable Harlo beside the bridge that records its arguments
  // and whether the launch lock existed when it ran, then starts the
  // stand-in app with `app_args` after `delay` — or never, without one.
  void install_app(std::optional<std::string> delay = "0.5", const std::string& app_args = "") {
    std::string script = "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + dir_.file("launched") +
                         "'\n[ -e '" + lock_path() + "' ] && echo lock-present >> '" +
                         dir_.file("launched") + "'\n";
    if (delay) {
      script += "(sleep " + *delay + "; exec '" + kStandinAppBinary + "' --record '" +
                dir_.file("app.log") + "' " + app_args + ") >/dev/null 2>&1 &\necho $! > '" +
                dir_.file("app.pid") + "'\n";
    }
    const std::string path = bin_ + "/Harlo";
    ASSERT_TRUE(write_file(path, script));
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }

  void set_preferences(const std::string& json) {
    ASSERT_TRUE(write_file(data_ + "/preferences.json", json));
  }

  std::string lock_path() const { return data_ + "/mcp-launch.lock"; }

  // Creates the launch lock with a modification time `age` ago.
  void make_lock(std::chrono::seconds age) {
    ASSERT_TRUE(write_file(lock_path(), ""));
    const auto when = fs::file_time_type::clock::now() - age;
    fs::last_write_time(lock_path(), when);
  }

  std::optional<std::string> launched() const { return read_file(dir_.file("launched")); }

  std::vector<std::string> app_log(size_t count) {
    std::vector<std::string> lines;
    const Deadline deadline = deadline_after();
    while (Clock::now() < deadline) {
      lines.clear();
      if (const auto text = read_file(dir_.file("app.log"))) {
        size_t start = 0;
        for (size_t end; (end = text->find('\n', start)) != std::string::npos; start = end + 1) {
          lines.push_back(text->substr(start, end - start));
        }
      }
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lines;
  }

  Child& start_installed_bridge() {
    ChildOptions options;
    options.argv = {bridge_binary_};
    options.env = sanitizer_env();
    options.env.push_back("HOME=" + home());
    options.env.push_back("PATH=/usr/bin:/bin");
    std::string error;
    bridge_ = Child::spawn(options, &error);
    EXPECT_TRUE(bridge_.has_value()) << error;
    if (!bridge_) throw std::runtime_error("bridge did not start");
    return *bridge_;
  }

  // Opens the MCP session offline, as a client does before its first call.
  void open_session() {
    send(initialize("1"));
    ASSERT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":1,"result":)"));
    send(notification("notifications/initialized"));
  }

  std::string bin_;
  std::string data_;
  std::string bridge_binary_;
};

TEST_F(AppStartTest, ToolCallStartsTheAppThenIsAnsweredByItAfterTheReplay) {
  for (const bool as_link : {false, true}) {
    SCOPED_TRACE(as_link ? "bridge installed as a symbolic link" : "bridge installed as a copy");
    fs::remove(bin_ + "/harlo-mcp");
    install_bridge(as_link);
    install_app();
    set_preferences(R"({"mcp":{"enabled":true}})");
    start_installed_bridge();
    open_session();
    send(tool_call("2"));
    EXPECT_EQ(next_line(deadline_after(std::chrono::seconds(15))), tool_result("2"));
    EXPECT_EQ(launched(), "1\n--background\nlock-present\n");
    EXPECT_FALSE(fs::exists(lock_path()));
    EXPECT_EQ(app_log(4), (std::vector<std::string>{R"({"harlo":"0.10.0"})", initialize("1"),
                                                    notification("notifications/initialized"),
                                                    tool_call("2")}));
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
    TearDown();
    fs::remove(dir_.file("app.pid"));
    fs::remove(dir_.file("app.log"));
    fs::remove(dir_.file("launched"));
  }
}

TEST_F(AppStartTest, McpSwitchedOffOrNoPreferencesGivesDisabledAndStartsNothing) {
  install_bridge(false);
  install_app();
  for (const char* preferences :
       {R"({"mcp":{"enabled":false}})", "", R"({"mcp":{"enabled":"yes"}})"}) {
    SCOPED_TRACE(preferences);
    fs::remove(data_ + "/preferences.json");
    if (*preferences != '\0') set_preferences(preferences);
    start_installed_bridge();
    send(tool_call("3"));
    EXPECT_EQ(next_line(), error_for("3", OfflineReason::Disabled));
    EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  }
  EXPECT_EQ(launched(), std::nullopt);
}

TEST_F(AppStartTest, FreshLockStartsNothingButTheBridgeWaitsForTheAppAndReleasesTheLock) {
  install_bridge(false);
  install_app();
  set_preferences(R"({"mcp":{"enabled":true}})");
  make_lock(std::chrono::seconds(10));
  start_installed_bridge();
  open_session();
  send(tool_call("2"));
  // Another bridge started the app; here it comes up a moment later.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  start_app();
  EXPECT_EQ(next_line(deadline_after(std::chrono::seconds(15))), tool_result("2"));
  EXPECT_EQ(launched(), std::nullopt);
  EXPECT_FALSE(fs::exists(lock_path()));
}

TEST_F(AppStartTest, StaleLockIsReplacedAndTheAppStarted) {
  install_bridge(false);
  install_app();
  set_preferences(R"({"mcp":{"enabled":true}})");
  make_lock(std::chrono::seconds(45));
  start_installed_bridge();
  open_session();
  send(tool_call("2"));
  EXPECT_EQ(next_line(deadline_after(std::chrono::seconds(15))), tool_result("2"));
  EXPECT_EQ(launched(), "1\n--background\nlock-present\n");
  EXPECT_FALSE(fs::exists(lock_path()));
}

TEST_F(AppStartTest, AppThatNeverComesUpGivesLaunchFailedAfterTwentySeconds) {
  install_bridge(false);
  install_app(std::nullopt);
  set_preferences(R"({"mcp":{"enabled":true}})");
  start_installed_bridge();
  const auto start = Clock::now();
  send(tool_call("5"));
  EXPECT_EQ(next_line(deadline_after(std::chrono::seconds(40))),
            error_for("5", OfflineReason::LaunchFailed));
  EXPECT_GE(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(launched(), "1\n--background\nlock-present\n");
  // The lock stays behind and ages out.
  EXPECT_TRUE(fs::exists(lock_path()));
}

TEST_F(AppStartTest, RunningAppThatRejectsTheHandshakeIsReportedAtOnceWithoutAStart) {
  install_bridge(false);
  install_app();
  set_preferences(R"({"mcp":{"enabled":true}})");
  start_app({"--reject-version", "0.11.0"});
  start_installed_bridge();
  send(tool_call("6"));
  EXPECT_EQ(next_line(), error_for("6", OfflineReason::BridgeOutdated));
  EXPECT_EQ(launched(), std::nullopt);
}

TEST_F(AppStartTest, ToolsListNeverStartsTheApp) {
  install_bridge(false);
  install_app();
  set_preferences(R"({"mcp":{"enabled":true}})");
  start_installed_bridge();
  send(request("2", "tools/list"));
  EXPECT_TRUE(next_line().starts_with(R"({"jsonrpc":"2.0","id":2,"result":{"tools":[)"));
  send(request("3", "resources/list"));
  EXPECT_EQ(next_line(), error_for("3", OfflineReason::NotRunning));
  EXPECT_EQ(launched(), std::nullopt);
}

TEST_F(AppStartTest, MissingAppExecutableGivesLaunchFailed) {
  install_bridge(false);  // nothing named Harlo or harlo beside it
  set_preferences(R"({"mcp":{"enabled":true}})");
  start_installed_bridge();
  send(tool_call("7"));
  EXPECT_EQ(next_line(), error_for("7", OfflineReason::LaunchFailed));
  EXPECT_FALSE(fs::exists(lock_path()));
}

}  // namespace
}  // namespace harlo_test
