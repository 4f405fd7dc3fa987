#include "harlo_mcp_protocol/catalog.h"

#include <gtest/gtest.h>

#include <string>

#include "harlo_mcp_protocol/params.h"
#include "harlo_mcp_protocol/schema.h"
#include "support/temp_dir.h"

namespace harlo_mcp_protocol::catalog {
namespace {

// The content of a file under the test data directory, without the line
// feed that ends the file.
std::string testdata(const std::string& name) {
  const auto content = harlo_test::read_file(std::string(HARLO_CATALOG_TESTDATA) + "/" + name);
  EXPECT_TRUE(content) << "cannot open " << name;
  std::string text = content.value_or("");
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string list_text(std::optional<std::string> version) {
  return mcp_wire::write_json(mcp_wire::to_json(list_tools_result(std::move(version))));
}

TEST(ListToolsResult, MatchesTheGoldenListing) {
  EXPECT_EQ(list_text(std::nullopt), testdata("tools_list.json"));
  EXPECT_EQ(list_text("2026-07-28"), testdata("tools_list_2026-07-28.json"));
}

TEST(ListToolsResult, AddsListingHintsFromTheNewestVersionOnByteOrder) {
  struct Case {
    std::optional<std::string> version;
    bool hints;
  };
  const Case kCases[] = {
      {std::nullopt, false},
      {"", false},
      {"2024-11-05", false},
      {"2025-03-26", false},
      {"2025-06-18", false},
      {"2025-11-25", false},
      {"2026-07-27", false},  // the day before
      {"2026-07-2", false},   // a proper prefix
      {"2026-07-28", true},
      {"2026-07-28x", true},                    // the cutoff and more
      {std::string("2026-07-28\0", 11), true},  // even a NUL counts as more
      {"2026-07-29", true},
      {"3", true},         // a first digit above 2
      {"\xC3\xA9", true},  // bytes compare as unsigned
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.version.value_or("(none)"));
    const mcp_wire::ListToolsResult result = list_tools_result(c.version);
    EXPECT_EQ(result.tools.size(), 10u);
    const std::string text = mcp_wire::write_json(mcp_wire::to_json(result));
    if (c.hints) {
      EXPECT_EQ(
          text.rfind(R"({"resultType":"complete","ttlMs":0,"cacheScope":"public","tools":[)", 0),
          0u);
    } else {
      EXPECT_EQ(text.rfind(R"({"tools":[)", 0), 0u);
    }
    EXPECT_FALSE(result.next_cursor.has_value());
    EXPECT_FALSE(result.meta.has_value());
  }
}

TEST(Tools, TenToolsInFixedOrderWithTheirDescriptions) {
  struct Case {
    const char* name;
    size_t description_bytes;
  };
  const Case kCases[] = {
      {"describe_table", 480},  {"explain", 156},     {"get_change_status", 428},
      {"list_connections", 86}, {"list_tables", 310}, {"propose_change", 935},
      {"run_command", 916},     {"run_select", 219},  {"sample_rows", 228},
      {"search_objects", 597},
  };
  const std::vector<mcp_wire::Tool> list = tools();
  ASSERT_EQ(list.size(), std::size(kCases));
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(kCases[i].name);
    EXPECT_EQ(list[i].name, kCases[i].name);
    EXPECT_EQ(list[i].description.value_or("").size(), kCases[i].description_bytes);
  }
}

TEST(Tools, SharesSchemasBetweenCalls) {
  const std::vector<mcp_wire::Tool> first = tools();
  const std::vector<mcp_wire::Tool> second = tools();
  for (size_t i = 0; i < first.size(); ++i) {
    SCOPED_TRACE(first[i].name);
    EXPECT_EQ(first[i].input_schema.get(), second[i].input_schema.get());
  }
  EXPECT_EQ(first[3].input_schema.get(), schema_for_empty_input().get());
  EXPECT_EQ(first[1].input_schema.get(), std::get<SharedJson>(input_schema<ExplainParams>()).get());
}

TEST(ServerInfo, MatchesTheGoldenIdentity) {
  const mcp_wire::InitializeResult info = server_info();
  EXPECT_EQ(mcp_wire::write_json(mcp_wire::to_json(info)), testdata("server_info.json"));
  EXPECT_EQ(info.protocol_version, "2026-07-28");
  EXPECT_EQ(info.instructions.value_or("").size(), 374u);
}

TEST(ServerInfo, EachCallIsAFreshValue) {
  mcp_wire::InitializeResult changed = server_info();
  changed.protocol_version = "2024-11-05";
  changed.instructions.reset();
  const mcp_wire::InitializeResult next = server_info();
  EXPECT_EQ(next.protocol_version, "2026-07-28");
  EXPECT_TRUE(next.instructions.has_value());
}

}  // namespace
}  // namespace harlo_mcp_protocol::catalog
