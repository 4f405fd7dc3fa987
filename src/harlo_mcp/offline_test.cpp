#include "harlo_mcp/offline.h"

#include <gtest/gtest.h>

#include <string>

#include "harlo_mcp_protocol/catalog.h"
#include "mcp_wire/json.h"
#include "mcp_wire/tools_list.h"
#include "support/temp_dir.h"

namespace harlo_mcp::offline {
namespace {

// The content of a file under the test data directory, without the line
// feed that ends the file.
std::string testdata(const std::string& name) {
  const auto content = harlo_test::read_file(std::string(HARLO_OFFLINE_TESTDATA) + "/" + name);
  EXPECT_TRUE(content) << "cannot open " << name;
  std::string text = content.value_or("");
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string initialize_line(int id, const std::string& version) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"initialize","params":{"protocolVersion":")" + version +
         R"(","capabilities":{},"clientInfo":{"name":"c","version":"1"}}})";
}

// The tools/list answer for `id` that the catalog gives for `version`.
std::string listing_answer(int id, std::optional<std::string> version) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"result":)" +
         mcp_wire::write_json(
             mcp_wire::to_json(harlo_mcp_protocol::catalog::list_tools_result(version))) +
         "}";
}

class OfflineTest : public testing::Test {
 protected:
  // As the session asks: only what classifies as a request.
  std::optional<std::string> ask(std::string_view line) {
    const Incoming incoming = classify(line);
    const auto* request = std::get_if<Request>(&incoming);
    return request != nullptr ? answer(*request, line, memory_) : std::nullopt;
  }

  OfflineMemory memory_;
};

TEST_F(OfflineTest, DeclinesWhatItDoesNotAnswer) {
  const char* const kDeclined[] = {
      R"({"jsonrpc":"2.0","method":"ping"})",
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
      R"({"jsonrpc":"2.0","id":1,"method":"Ping"})",
      R"({"jsonrpc":"2.0","id":1,"method":"ping "})",
      R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"list_connections"}})",
      R"({"jsonrpc":"2.0","id":4,"method":"resources/list"})",
      R"({"id":1,"method":7})",
      R"({"id":1,"method":null})",
      R"({"id":1})",
      R"({"jsonrpc":"2.0","id":1,"result":{}})",
      R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])",
      R"("ping")",
      "not json",
      R"({"id":1,"method":"ping"} {})",
      "",
  };
  for (const char* line : kDeclined) {
    SCOPED_TRACE(line);
    EXPECT_EQ(ask(line), std::nullopt);
  }
  EXPECT_EQ(memory_.protocol_version, std::nullopt);
}

TEST_F(OfflineTest, AnswersPingWithTheRequestsId) {
  struct Case {
    const char* line;
    const char* answer;
  };
  const Case kCases[] = {
      {R"({"jsonrpc":"2.0","id":5,"method":"ping"})", R"({"jsonrpc":"2.0","id":5,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":null,"result":{}})"},
      {R"({"id":"abc","method":"ping","jsonrpc":"1.0"})",
       R"({"jsonrpc":"2.0","id":"abc","result":{}})"},
      {R"({"method":"ping","id":-3,"params":[1]})", R"({"jsonrpc":"2.0","id":-3,"result":{}})"},
      {R"({"method":"ping","id":1.5})", R"({"jsonrpc":"2.0","id":1.5,"result":{}})"},
      {R"({"method":"ping","id":{"k":[1,2]}})",
       R"({"jsonrpc":"2.0","id":{"k":[1,2]},"result":{}})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ask(c.line), c.answer);
  }
}

TEST_F(OfflineTest, InitializeMatchesTheGoldenAnswer) {
  EXPECT_EQ(ask(initialize_line(1, "2025-06-18")), testdata("offline_initialize.json"));
  EXPECT_EQ(memory_.protocol_version, "2025-06-18");
}

TEST_F(OfflineTest, InitializeAgreesOnAVersionAndRemembersIt) {
  struct Case {
    std::string requested;
    std::string agreed;
  };
  const Case kCases[] = {
      {"2024-11-05", "2024-11-05"},  {"2025-03-26", "2025-03-26"}, {"2025-11-25", "2025-11-25"},
      {"2026-07-28", "2025-11-25"},  {"2099-01-01", "2025-11-25"}, {"", "2025-11-25"},
      {"2025-06-18x", "2025-11-25"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.requested);
    const std::optional<std::string> reply = ask(initialize_line(2, c.requested));
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->rfind(R"({"jsonrpc":"2.0","id":2,"result":{"protocolVersion":")" + c.agreed +
                               R"(","capabilities":{"tools":{}},)",
                           0),
              0u)
        << *reply;
    EXPECT_EQ(memory_.protocol_version, c.agreed);
  }
}

TEST_F(OfflineTest, UnreadableInitializeLeavesMemoryAlone) {
  memory_.protocol_version = "2024-11-05";
  struct Case {
    const char* line;
    const char* answer;
  };
  const Case kCases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"initialize"})",
       R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,)"
       R"("message":"invalid type: null, expected struct InitializeRequestParams"}})"},
      {R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":null})",
       R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,)"
       R"("message":"invalid type: null, expected struct InitializeRequestParams"}})"},
      {R"({"id":"x","method":"initialize","params":{"protocolVersion":"2025-06-18",)"
       R"("clientInfo":{"name":"c","version":"1"}}})",
       R"({"jsonrpc":"2.0","id":"x","error":{"code":-32602,)"
       R"("message":"missing field `capabilities`"}})"},
      {R"({"id":3,"method":"initialize","params":{"protocolVersion":20250618}})",
       R"({"jsonrpc":"2.0","id":3,"error":{"code":-32602,)"
       R"("message":"invalid type: integer `20250618`, expected a string"}})"},
      {R"({"id":3,"method":"initialize","params":[null]})",
       R"({"jsonrpc":"2.0","id":3,"error":{"code":-32602,)"
       R"("message":"invalid length 1, expected struct InitializeRequestParams with 4 elements"}})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ask(c.line), c.answer);
    EXPECT_EQ(memory_.protocol_version, "2024-11-05");
  }
}

TEST_F(OfflineTest, ToolsListUsesTheRememberedVersion) {
  // Before any initialize: no version.
  EXPECT_EQ(ask(R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})"),
            listing_answer(7, std::nullopt));

  ASSERT_TRUE(ask(initialize_line(1, "2024-11-05")).has_value());
  EXPECT_EQ(ask(R"({"jsonrpc":"2.0","id":8,"method":"tools/list"})"),
            listing_answer(8, "2024-11-05"));

  // Negotiation never stores a version this new, but the listing honours
  // whatever the memory holds.
  memory_.protocol_version = "2026-07-28";
  const std::optional<std::string> reply = ask(R"({"id":9,"method":"tools/list"})");
  EXPECT_EQ(reply, listing_answer(9, "2026-07-28"));
  EXPECT_NE(reply.value_or("").find(R"("result":{"resultType":"complete",)"), std::string::npos);
  EXPECT_EQ(memory_.protocol_version, "2026-07-28");
}

TEST_F(OfflineTest, ToolsListIgnoresACursor) {
  EXPECT_EQ(ask(R"({"jsonrpc":"2.0","id":2,"method":"tools/list","params":{"cursor":"abc"}})"),
            listing_answer(2, std::nullopt));
}

TEST_F(OfflineTest, LaterInitializeReplacesTheRememberedVersion) {
  ASSERT_TRUE(ask(initialize_line(1, "2024-11-05")).has_value());
  EXPECT_EQ(memory_.protocol_version, "2024-11-05");
  ASSERT_TRUE(ask(initialize_line(2, "2025-03-26")).has_value());
  EXPECT_EQ(memory_.protocol_version, "2025-03-26");
  ASSERT_TRUE(ask(R"({"id":3,"method":"initialize"})").has_value());  // refused
  EXPECT_EQ(memory_.protocol_version, "2025-03-26");
}

}  // namespace
}  // namespace harlo_mcp::offline
