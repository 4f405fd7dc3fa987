// A bridge under test, run as the real harlo-mcp binary under a temporary
// HOME, beside an optional stand-in app listening where the bridge looks.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "harlo_mcp/error_reply.h"
#include "mcp_wire/json.h"
#include "support/child.h"
#include "support/standin_app.h"
#include "support/temp_dir.h"

namespace harlo_test {

// JSON-RPC lines as a client writes them.
inline std::string request(const std::string& id, const std::string& method,
                           const std::string& params = "") {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + "\"" +
         (params.empty() ? "" : ",\"params\":" + params) + "}";
}
inline std::string notification(const std::string& method) {
  return R"({"jsonrpc":"2.0","method":")" + method + "\"}";
}
inline std::string initialize(const std::string& id, const std::string& version = "2025-06-18") {
  return request(id, "initialize",
                 R"({"protocolVersion":")" + version +
                     R"(","capabilities":{},"clientInfo":{"name":"test","version":"1"}})");
}

// The bridge's own error reply for `id` (JSON text) with `message`.
inline std::string error_for(const std::string& id, std::string_view message) {
  return harlo_mcp::error_reply(*mcp_wire::read_json(id), message);
}
inline std::string error_for(const std::string& id, harlo_mcp::OfflineReason reason) {
  return error_for(id, harlo_mcp::message_for(reason));
}

class BridgeTest : public ::testing::Test {
 protected:
  // The HOME shared by the bridge and the stand-in app.
  const std::string& home() const { return dir_.path(); }

  // Starts the stand-in app with `args`; fails the test when it cannot.
  StandinApp& start_app(std::vector<std::string> args = {}) {
    std::string error;
    app_ = StandinApp::start({.home = home(), .tmpdir = std::nullopt, .args = std::move(args)},
                             &error);
    EXPECT_TRUE(app_.has_value()) << error;
    if (!app_) throw std::runtime_error("stand-in app did not start");
    return *app_;
  }

  void stop_app() {
    ASSERT_TRUE(app_.has_value());
    EXPECT_EQ(app_->stop(), ExitStatus::exited(0));
    app_.reset();
  }

  // Starts the bridge with HOME set and nothing else of the test's
  // environment but the sanitizer settings, as an AI client would.
  Child& start_bridge(ChildOptions options = {}) {
    options.argv = {kBridgeBinary};
    options.env = sanitizer_env();
    options.env.push_back("HOME=" + home());
    std::string error;
    bridge_ = Child::spawn(options, &error);
    EXPECT_TRUE(bridge_.has_value()) << error;
    if (!bridge_) throw std::runtime_error("bridge did not start");
    return *bridge_;
  }

  // Sends one line (an LF is added) to the bridge's standard input.
  void send(const std::string& line) { ASSERT_TRUE(bridge_->write(line + "\n")); }

  // The bridge's next line on standard output, or a marker saying why
  // there is none.
  std::string next_line(Deadline deadline = deadline_after()) {
    auto line = bridge_->read_line(deadline);
    if (line) return *line;
    return bridge_->stdout_ended() ? "<end of output>" : "<timeout>";
  }

  // The bridge's exit status once its input is closed.
  std::optional<ExitStatus> close_and_wait() {
    bridge_->close_stdin();
    return bridge_->wait();
  }

  TempDir dir_;
  std::optional<StandinApp> app_;
  std::optional<Child> bridge_;
};

}  // namespace harlo_test
