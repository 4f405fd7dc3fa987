#include "mcp_wire/json_scan.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "mcp_wire/json.h"

namespace mcp_wire {
namespace {

constexpr std::array<std::string_view, 2> kNames = {"method", "id"};

bool scans(std::string_view text) {
  std::array<std::optional<std::string_view>, 2> found;
  return scan_json(text, kNames, found);
}

// Every text is judged exactly as the full reader judges it.
TEST(ScanJson, AgreesWithTheReader) {
  const std::string deep127 = std::string(127, '[') + std::string(127, ']');
  const std::string deep128 = std::string(128, '[') + std::string(128, ']');
  const std::string cases[] = {
      // readable
      "{}",
      "[]",
      " \t\r\n{ \"a\" : [ 1 , -2.5e3 , true , false , null , \"x\" ] } \n",
      "0",
      "-0",
      "1.0",
      "1E+2",
      "1e-2",
      "\"\"",
      "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\uD83D\\uDE00\"",
      "\"\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80\"",
      "18446744073709551616",
      "-9223372036854775809",
      std::string(308, '9'),
      "1e308",
      "1.7976931348623157e308",
      "0e99999",
      "1e-99999",
      "{\"a\":{\"b\":{\"c\":[[]]}}}",
      deep127,
      "{\"a\":" + std::string(126, '[') + std::string(126, ']') + "}",
      std::string("\"a\xC2\x80\"") + "",
      // unreadable
      "",
      " ",
      "{",
      "}",
      "[1,]",
      "{\"a\":1,}",
      "{,}",
      "[,1]",
      "{\"a\" 1}",
      "{\"a\":}",
      "{1:2}",
      "{'a':1}",
      "01",
      "-",
      "1.",
      ".5",
      "+1",
      "1e",
      "1e+",
      "--1",
      "0x1",
      "Infinity",
      "NaN",
      "tru",
      "truex",
      "nul",
      "nulll",
      "\"abc",
      "\"\\x\"",
      "\"\\u12\"",
      "\"\\u12G4\"",
      "\"\\uD800\"",
      "\"\\uD800\\u0041\"",
      "\"\\uDC00\"",
      "\"\\uD800x\"",
      "\"a\tb\"",
      std::string("\"a\0b\"", 5),
      "\"\xC0\xAF\"",
      "\"\xED\xA0\x80\"",
      "\"\xF4\x90\x80\x80\"",
      "\"\xE2\x86\"",
      "\xEF\xBB\xBF{}",
      "{} {}",
      "{}x",
      "[] []",
      "1 2",
      deep128,
      std::string(309, '9'),
      "1e309",
      "-1e400",
      "1.8e308",
      "\f{}",
      "{}\f",
      "[1 2]",
      "{\"a\":1 \"b\":2}",
      "[1}",
      "{]",
      std::string("{}\0", 3),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.size() > 80 ? text.substr(0, 80) + "..." : text);
    EXPECT_EQ(scans(text), read_json(text).has_value());
  }
}

TEST(ScanJson, FindsTheLastTopLevelMembers) {
  struct Case {
    const char* text;
    const char* method;  // nullptr: absent
    const char* id;
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", R"("tools/list")", "1"},
      {R"({"method":"x","method":"y","id":1,"id" : {"a": [1, 2]} })", R"("y")", R"({"a": [1, 2]})"},
      {R"({"params":{"method":"inner","id":9},"result":[{"id":3}]})", nullptr, nullptr},
      {R"({"m\u0065thod":"x","\u0069d":null})", R"("x")", "null"},
      {R"({"method ":"x","Id":1})", nullptr, nullptr},
      {R"([{"method":"x","id":1}])", nullptr, nullptr},
      {R"({"id":-1.5e3,"method":5})", "5", "-1.5e3"},
      {R"({"id":"a\"b"})", nullptr, R"("a\"b")"},
      {R"({"id":{},"method":[]})", "[]", "{}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::array<std::optional<std::string_view>, 2> found;
    ASSERT_TRUE(scan_json(c.text, kNames, found));
    EXPECT_EQ(found[0], c.method ? std::optional<std::string_view>(c.method) : std::nullopt);
    EXPECT_EQ(found[1], c.id ? std::optional<std::string_view>(c.id) : std::nullopt);
  }
}

}  // namespace
}  // namespace mcp_wire
