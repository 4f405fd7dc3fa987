#include "mcp_wire/json_scan.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>

#include "mcp_wire/json.h"

namespace mcp_wire {
namespace {

constexpr std::array<std::string_view, 2> kNames = {"method", "id"};

// `depth` objects, each the value of the member "a" of the one around it.
std::string nested_objects(int depth) {
  std::string text;
  for (int i = 1; i < depth; ++i) text += "{\"a\":";
  text += "{}";
  return text + std::string(static_cast<size_t>(depth - 1), '}');
}

// The pieces one after the other.
std::string concat(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (const std::string_view piece : pieces) text.append(piece);
  return text;
}

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
      // numbers near the limit of a double, or brought back under it by
      // leading zeros of the fraction
      "1.5e308",
      "0.5e308",
      "0.0000000001e318",
      "0." + std::string(400, '0') + "1e400",
      "-0.0e999999",
      "123e-99999999999999999999999999",
      std::string(308, '9') + ".5",
      std::string(300, '1') + "e8",
      std::string(1'100'000, '1') + "e-99999999",  // more digits than the exponent's cap
      // digits across word boundaries, and numbers that end the text
      "1234567",
      "12345678",
      "123456789",
      "[1234567,12345678,123456789,1234567890123456,12345678901234567]",
      "[0.12345678,3.5344109104684933,46.250200,1.770e-07,1.0E+0005]",
      "{\"a\":-198397}",
      // strings: non-ASCII, escapes and DEL in one run or several
      "\"a\x7F\"",
      "\"\\n\xC3\xA9\"",
      "\"Rue de l'\xC3\x89glise 102\"",
      "\"\xE2\x86\x92 next step: \xE7\xA2\xBA\xE8\xAA\x8D\"",
      "\"Zo\xC3\xAB \\\"the tester\\\" M\xC3\xBCller\"",
      // whitespace wherever it may go
      " [ 1 , \"x\" , [ ] , { } ] ",
      "{ \"a\" :\t[ ]\r\n, \"b\" : { \"c\" : null } }",
      std::string(127, '[') + " " + std::string(127, ']'),
      nested_objects(127),
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
      "0.5e309",
      "0.0000000001e319",
      std::string(309, '9') + ".0",
      "01.5",
      "-01",
      "[-]",
      "[-",
      "[1.]",
      "[1.e5]",
      "[1e]",
      "[.5]",
      "[01]",
      "\"\\n\xC0\xAF\"",
      "\"abc\xE2\x86",
      "\"\xC3",
      "\"\xC3\"",
      "\"a\x1F\"",
      "[\v]",
      "{ }x",
      "{\"a\":1,\"b\"}",
      nested_objects(128),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.size() > 80 ? text.substr(0, 80) + "..." : text);
    EXPECT_EQ(scans(text), read_json(text).has_value());
  }
}

// Strings are read eight bytes at a time: each kind of byte that ends or
// interrupts a plain run is put at every offset of the first words, both
// where a whole word follows and where the text ends within a word.
TEST(ScanJson, AgreesWithTheReaderAtEveryOffsetInAWord) {
  const std::string inserts[] = {
      "",     // plain ASCII
      "\\n",  // an escape
      "\\u00e9\\ud83d\\ude00",
      "\xC3\xA9",  // two-byte, three-byte and four-byte sequences
      "\xE2\x86\x92",
      "\xF0\x9F\x98\x80",
      "\xC3",  // a sequence cut short by what follows
      "\xE2\x86",
      "\xF0\x9F\x98",
      "\xC0\xAF",  // overlong, surrogate, past U+10FFFF, lone continuation
      "\xED\xA0\x80",
      "\xF4\x90\x80\x80",
      "\x80",
      "\x01",  // a control character
      "\\x",   // an invalid escape
  };
  // The string with these contents, in several places, closed and not.
  const auto check_string = [](std::string_view contents) {
    const std::string string = concat({"\"", contents, "\""});
    for (const std::string& text :
         {string, concat({"[", string, ",1]"}), concat({"{\"k\":", string, "}"}),
          concat({"[", string}), string.substr(0, string.size() - 1)}) {
      SCOPED_TRACE(::testing::PrintToString(text));
      ASSERT_EQ(scans(text), read_json(text).has_value());
    }
  };
  for (size_t before = 0; before <= 17; ++before) {
    for (const std::string& insert : inserts) {
      const std::string contents = concat({std::string(before, 'a'), insert, "bcdefghij"});
      // Cut within or right after the insert, and whole.
      for (size_t kept = 0; kept <= before + insert.size(); ++kept) {
        check_string(std::string_view(contents).substr(0, kept));
      }
      check_string(contents);
    }
  }
  // Numbers: every length of integer part and fraction across the first
  // words, alone (ending the text) and followed by more.
  for (size_t integer = 1; integer <= 18; ++integer) {
    for (size_t fraction = 0; fraction <= 18; ++fraction) {
      std::string number = concat({"-", std::string(integer, '7')});
      if (fraction > 0) number += concat({".", std::string(fraction, '3')});
      for (const std::string& text : {number, concat({"[", number, "]"}), concat({number, "e-7"}),
                                      concat({"[", number, "e]"})}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(scans(text), read_json(text).has_value());
      }
    }
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
      {" {\"id\" : 7 ,\"method\":\"a \\u00e9 \xC3\xA9 long enough to span words\"} ",
       "\"a \\u00e9 \xC3\xA9 long enough to span words\"", "7"},
      {R"({"id":[1,{"id":2}],"x":{"method":3}})", nullptr, R"([1,{"id":2}])"},
      {R"({"id":12345678901234567890})", nullptr, "12345678901234567890"},
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
