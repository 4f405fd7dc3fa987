#include "harlo_mcp/error_reply.h"

#include <gtest/gtest.h>

namespace harlo_mcp {
namespace {

TEST(ErrorReply, NotRunningForStringIdByteForByte) {
  EXPECT_EQ(error_reply("abc", message_for(OfflineReason::NotRunning)),
            "{\"jsonrpc\":\"2.0\",\"id\":\"abc\",\"error\":{\"code\":-32000,\"message\":\"Harlo is "
            "not running. Open Harlo and turn on Settings \xE2\x86\x92 MCP.\"}}");
}

TEST(ErrorReply, MessageTable) {
  struct Case {
    OfflineReason reason;
    const char* text;
  };
  const Case cases[] = {
      {OfflineReason::NotRunning,
       "Harlo is not running. Open Harlo and turn on Settings \xE2\x86\x92 MCP."},
      {OfflineReason::BridgeOutdated,
       "Harlo was updated. Restart this AI client (or reload its MCP servers) and try again."},
      {OfflineReason::AppOutdated, "Harlo was updated. Restart Harlo and try again."},
      {OfflineReason::Disabled,
       "MCP is turned off in Harlo. Turn it on in Settings \xE2\x86\x92 MCP and try again."},
      {OfflineReason::LaunchFailed, "Harlo could not be started. Open Harlo and try again."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(message_for(c.reason), c.text);
  }
  EXPECT_EQ(kClosedConnectionMessage,
            "Harlo closed the connection (MCP was turned off or Harlo quit). Try again.");
}

TEST(ErrorReply, IdIsCopiedBackInItsOwnForm) {
  for (const char* id : {"7", "null", "-2", "3.5", R"({"a":[1]})", "1.0", "\"\""}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(error_reply(*mcp_wire::read_json(id), "m"),
              std::string(R"({"jsonrpc":"2.0","id":)") + id +
                  R"(,"error":{"code":-32000,"message":"m"}})");
  }
}

}  // namespace
}  // namespace harlo_mcp
