#include "mcp_wire/tools_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace mcp_wire {
namespace {

SharedJson shared(std::string_view text) {
  return std::make_shared<const Json>(read_json(text).value());
}

TEST(WriteListToolsResult, WritesToolsAlwaysAndOtherMembersOnlyWhenPresent) {
  ListToolsResult result;
  EXPECT_EQ(write_json(to_json(result)), R"({"tools":[]})");

  Tool tool;
  tool.name = "t";
  tool.input_schema = shared(R"({"type":"object"})");
  result.tools = {tool, tool};
  EXPECT_EQ(write_json(to_json(result)),
            R"({"tools":[{"name":"t","inputSchema":{"type":"object"}},)"
            R"({"name":"t","inputSchema":{"type":"object"}}]})");

  result.tools = {};
  result.cache_scope = CacheScope::kPublic;
  result.ttl_ms = 0;
  result.result_type = "complete";
  EXPECT_EQ(write_json(to_json(result)),
            R"({"resultType":"complete","ttlMs":0,"cacheScope":"public","tools":[]})");

  result.next_cursor = "c";
  result.meta = Json::object();
  result.cache_scope = CacheScope::kPrivate;
  result.ttl_ms = 18446744073709551615u;
  EXPECT_EQ(write_json(to_json(result)),
            R"({"resultType":"complete","_meta":{},"nextCursor":"c",)"
            R"("ttlMs":18446744073709551615,"cacheScope":"private","tools":[]})");
}

TEST(WriteTool, WritesMembersInFixedOrder) {
  Tool tool;
  tool.name = "explain";
  EXPECT_EQ(write_json(to_json(tool)), R"({"name":"explain","inputSchema":{}})");

  // Schema members are written as stored, not sorted.
  tool.input_schema = shared(R"({"type":"object","properties":{},"$schema":"s"})");
  tool.annotations = ToolAnnotations{};
  tool.description = "d";
  EXPECT_EQ(write_json(to_json(tool)),
            R"({"name":"explain","description":"d",)"
            R"("inputSchema":{"type":"object","properties":{},"$schema":"s"},"annotations":{}})");

  Icon icon;
  icon.src = "i";
  tool.meta = Json::object({{"m", true}});
  tool.icons = std::vector<Icon>{icon};
  tool.output_schema = shared(R"({"type":"object"})");
  tool.title = "T";
  EXPECT_EQ(write_json(to_json(tool)),
            R"({"name":"explain","title":"T","description":"d",)"
            R"("inputSchema":{"type":"object","properties":{},"$schema":"s"},)"
            R"("outputSchema":{"type":"object"},"annotations":{},"icons":[{"src":"i"}],)"
            R"("_meta":{"m":true}})");
}

TEST(WriteToolAnnotations, WritesFalseAndLeavesAbsentOut) {
  struct Case {
    ToolAnnotations annotations;
    std::string json;
  };
  const Case kCases[] = {
      {{}, "{}"},
      {{std::nullopt, true, std::nullopt, std::nullopt, false},
       R"({"readOnlyHint":true,"openWorldHint":false})"},
      {{std::nullopt, false, true, false, false},
       R"({"readOnlyHint":false,"destructiveHint":true,"idempotentHint":false,)"
       R"("openWorldHint":false})"},
      {{std::nullopt, std::nullopt, std::nullopt, false, std::nullopt},
       R"({"idempotentHint":false})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(write_json(to_json(c.annotations)), c.json);
  }
  // Built by assignment: a titled case in the table trips a false
  // maybe-uninitialized warning in GCC 12 at -O3.
  ToolAnnotations titled{std::nullopt, false, false, true, true};
  titled.title = "Title";
  EXPECT_EQ(
      write_json(to_json(titled)),
      R"({"title":"Title","readOnlyHint":false,"destructiveHint":false,"idempotentHint":true,)"
      R"("openWorldHint":true})");
}

}  // namespace
}  // namespace mcp_wire
