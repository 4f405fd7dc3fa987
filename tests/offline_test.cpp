// With the app closed, the bridge itself lets a client finish the opening
// exchange and list the tools, and answers everything else with the reason.
#include <string>

#include "bridge_fixture.h"

namespace harlo_test {
namespace {

using harlo_mcp::OfflineReason;

// A golden file's text without its final line feed.
std::string golden(const std::string& path) {
  std::string text = read_file(path).value_or("<missing " + path + ">");
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string tools_list_answer(const std::string& id) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":)" +
         golden(HARLO_CATALOG_TESTDATA "/tools_list.json") + "}";
}

using OfflineTest = BridgeTest;

TEST_F(OfflineTest, OpeningExchangeAndToolListWithoutTheApp) {
  start_bridge();
  send(initialize("1", "2025-06-18"));
  EXPECT_EQ(next_line(), golden(HARLO_OFFLINE_TESTDATA "/offline_initialize.json"));
  send(notification("notifications/initialized"));
  send(request("2", "tools/list"));
  EXPECT_EQ(next_line(), tools_list_answer("2"));
  send(request("3", "ping"));
  EXPECT_EQ(next_line(), R"({"jsonrpc":"2.0","id":3,"result":{}})");
  send(request("4", "resources/list"));
  EXPECT_EQ(next_line(), error_for("4", OfflineReason::NotRunning));
  // No preferences file: MCP counts as switched off, so nothing is started.
  send(request("5", "tools/call", R"({"name":"list_connections","arguments":{}})"));
  EXPECT_EQ(next_line(), error_for("5", OfflineReason::Disabled));
  EXPECT_EQ(close_and_wait(), ExitStatus::exited(0));
  EXPECT_EQ(bridge_->read_stdout_until_eof(), "");  // the notification got no answer
}

TEST_F(OfflineTest, EachInitializeSettlesItsOwnVersion) {
  struct Case {
    std::string requested;
    std::string answered;
  };
  const Case cases[] = {
      {"2024-11-05", "2024-11-05"},
      {"2099-01-01", "2025-11-25"},
      {"2026-07-28", "2025-11-25"},  // not available over initialize
      {"2025-03-26", "2025-03-26"},
  };
  start_bridge();
  int id = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.requested);
    send(initialize(std::to_string(id), c.requested));
    const std::string answer = next_line();
    EXPECT_TRUE(answer.starts_with(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
                                   R"(,"result":{"protocolVersion":")" + c.answered + "\""))
        << answer;
    ++id;
    // No settled version reaches the cutoff, so the list never changes.
    send(request(std::to_string(id), "tools/list"));
    EXPECT_EQ(next_line(), tools_list_answer(std::to_string(id)));
    ++id;
  }
}

TEST_F(OfflineTest, UnreadableInitializeIsRefusedWithTheReadersMessage) {
  start_bridge();
  send(request("1", "initialize"));
  EXPECT_EQ(
      next_line(),
      R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"invalid type: null, expected struct InitializeRequestParams"}})");
  send(request("2", "initialize",
               R"({"protocolVersion":"2025-06-18","clientInfo":{"name":"c","version":"1"}})"));
  EXPECT_EQ(
      next_line(),
      R"({"jsonrpc":"2.0","id":2,"error":{"code":-32602,"message":"missing field `capabilities`"}})");
}

}  // namespace
}  // namespace harlo_test
