#include "mcp_wire/json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace mcp_wire {
namespace {

std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(ReadJson, AcceptsOneValueWithJsonWhitespaceAround) {
  for (const char* text : {"{}", " \t\r\n{\"a\":1} \r\n", "[1,2]", "\"s\"", "null", "-3", "1.5"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(read_json(text).has_value());
  }
}

TEST(ReadJson, RejectsAnythingButExactlyOneValue) {
  for (const char* text :
       {"", "   ", "{} {}", "{\"id\":1,\"method\":\"x\"} x", "{\"a\":1,}", "\xEF\xBB\xBF{}",
        "{} //", "/* c */ {}", "{\"a\" 1}", "'x'", "1e400", "\f{}", "[1,2"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(read_json(text).has_value());
  }
}

TEST(ReadJson, NulByteIsNeverTheEndOfTheText) {
  for (const std::string& text :
       {std::string("{}\0", 3), std::string("{}\0garbage", 10), std::string("{\"id\":1}\0{", 10)}) {
    EXPECT_FALSE(read_json(text).has_value());
  }
}

TEST(ReadJson, NestingLimitIs127Levels) {
  EXPECT_TRUE(read_json(nested_arrays(127)).has_value());
  EXPECT_FALSE(read_json(nested_arrays(128)).has_value());
  EXPECT_TRUE(read_json("{\"a\":" + nested_arrays(126) + "}").has_value());
  EXPECT_FALSE(read_json("{\"a\":" + nested_arrays(127) + "}").has_value());
}

TEST(ReadJson, BracketsInsideStringsDoNotCountAsNesting) {
  const std::string text =
      "{\"a\":\"" + std::string(200, '[') + "\\\"" + std::string(200, '{') + "\"}";
  EXPECT_TRUE(read_json(text).has_value());
}

TEST(ReadJson, MillionOpeningBracketsAreRejectedQuicklyAndSafely) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(read_json(std::string(1'000'000, '[')).has_value());
  EXPECT_FALSE(read_json(std::string(1'000'000, '{')).has_value());
  // Not a benchmark: only guards against the check turning recursive or quadratic.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ReadJson, NumbersKeepTheirKind) {
  struct Case {
    const char* text;
    Json::value_t kind;
  };
  const Case cases[] = {
      {"0", Json::value_t::number_unsigned},
      {"1", Json::value_t::number_unsigned},
      {"18446744073709551615", Json::value_t::number_unsigned},
      {"18446744073709551616", Json::value_t::number_float},
      {"-1", Json::value_t::number_integer},
      {"-0", Json::value_t::number_unsigned},  // not negative: written back as 0
      {"-0.0", Json::value_t::number_float},
      {"-9223372036854775808", Json::value_t::number_integer},
      {"-9223372036854775809", Json::value_t::number_float},
      {"1.0", Json::value_t::number_float},
      {"1e2", Json::value_t::number_float},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto value = read_json(c.text);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type(), c.kind);
  }
}

TEST(ReadJson, RepeatedMemberKeepsLastValueAtFirstPosition) {
  const auto value = read_json(R"({"method":"x","id":1,"method":"y"})");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(write_json(*value), R"({"method":"y","id":1})");
}

TEST(WriteJson, CompactWithExactEscaping) {
  struct Case {
    Json value;
    const char* text;
  };
  const Case cases[] = {
      {Json("a\"b\\c"), R"("a\"b\\c")"},
      {Json("\b\t\n\f\r"), R"("\b\t\n\f\r")"},
      {Json(std::string("\x01\x1f\x00", 3)), R"("\u0001\u001f\u0000")"},
      {Json("\x1b"), R"("\u001b")"},
      {Json("/\x7f"), "\"/\x7f\""},
      {Json("Settings \u2192 MCP \u00e9"), "\"Settings \u2192 MCP \u00e9\""},
      {Json::parse(R"({"b" : [1, -2, 3.5, true, null], "a" : {}})"),
       R"({"b":[1,-2,3.5,true,null],"a":{}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(write_json(c.value), c.text);
  }
}

TEST(WriteJson, NumbersReadBackUnchanged) {
  for (const char* text : {"1", "-3", "3.5", "1.0", "0.1", "1e+300", "-0.0", "18446744073709551615",
                           "-9223372036854775808", "1.7976931348623157e+308"}) {
    SCOPED_TRACE(text);
    const auto value = read_json(text);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(write_json(*value), text);
  }
}

TEST(JsonEqual, NumbersDifferAcrossKindsAndObjectsIgnoreOrder) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"1", "1", true},
      {"1", "1.0", false},
      {"1", "\"1\"", false},
      {"1.0", "1.0", true},
      {"-1", "-1", true},
      {"-1", "-1.0", false},
      {"null", "null", true},
      {"null", "false", false},
      {"true", "true", true},
      {"true", "false", false},
      {"\"a7\"", "\"a7\"", true},
      {"\"a\"", "\"A\"", false},
      {R"({"a":1,"b":2})", R"({"b":2,"a":1})", true},
      {R"({"a":1,"b":2})", R"({"a":1})", false},
      {R"({"a":1})", R"({"a":1.0})", false},
      {R"({"a":[1,{"x":null}]})", R"({"a":[1,{"x":null}]})", true},
      {"[1,2]", "[2,1]", false},
      {"[1,2]", "[1,2,3]", false},
      {"[]", "{}", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const auto a = read_json(c.a);
    const auto b = read_json(c.b);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(json_equal(*a, *b), c.equal);
    EXPECT_EQ(json_equal(*b, *a), c.equal);
    if (c.equal) {
      EXPECT_EQ(json_hash(*a), json_hash(*b));
    }
  }
}

}  // namespace
}  // namespace mcp_wire
