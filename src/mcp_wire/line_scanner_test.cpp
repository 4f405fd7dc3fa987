#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mcp_wire/json_scan.h"
#include "mcp_wire/utf8.h"

namespace mcp_wire {
namespace {

using Verdict = ScannedLine::Verdict;

constexpr std::array<std::string_view, 2> kNames = {"method", "id"};

// A line's verdict and members as text, for comparing and printing.
struct Judged {
  Verdict verdict;
  std::optional<std::string> method;
  std::optional<std::string> id;
  bool operator==(const Judged&) const = default;
};

void PrintTo(const Judged& judged, std::ostream* out) {
  static constexpr const char* kVerdicts[] = {"JSON", "not JSON", "not UTF-8"};
  *out << kVerdicts[static_cast<int>(judged.verdict)] << " method "
       << ::testing::PrintToString(judged.method) << " id " << ::testing::PrintToString(judged.id);
}

std::optional<std::string> text_of(const std::optional<std::string_view>& view) {
  return view ? std::optional<std::string>(*view) : std::nullopt;
}

// What a whole line is, by scan_json and the UTF-8 check.
Judged reference(std::string_view line) {
  std::array<std::optional<std::string_view>, 2> found;
  if (scan_json(line, kNames, found)) return {Verdict::kJson, text_of(found[0]), text_of(found[1])};
  return {is_valid_utf8(line) ? Verdict::kNotJson : Verdict::kNotUtf8, {}, {}};
}

// The line `line` + LF (or without LF, ending the stream) fed to a scanner
// in two reads cut at `cut`. The bytes are copied to a new buffer for the
// second read, so that they move as in the reader's buffer.
Judged scanned_in_two_reads(std::string_view line, size_t cut, bool with_newline) {
  LineScanner scanner(kNames);
  const std::string whole = std::string(line) + (with_newline ? "\n" : "");
  const std::string first = whole.substr(0, cut);
  const std::optional<size_t> early = scanner.feed(first);
  if (early) ADD_FAILURE() << "a line ended before its line feed, at " << *early;
  const std::string both = whole;
  const std::optional<size_t> length = scanner.feed(both);
  std::string_view got(both);
  if (with_newline) {
    if (length != line.size()) ADD_FAILURE() << "the line's end was not found at its line feed";
    got = got.substr(0, line.size());
  } else {
    if (length) ADD_FAILURE() << "a line without a line feed ended";
    scanner.finish(got);
  }
  const ScannedLine scanned = scanner.line(got);
  return {scanned.verdict, text_of(scanned.members[0]), text_of(scanned.members[1])};
}

// Every line is judged as the whole line is, wherever the bytes are cut:
// inside strings, escapes, UTF-8 sequences, numbers and literals, and in
// the whitespace between them.
TEST(LineScanner, AgreesWithTheWholeLineWhereverTheBytesAreCut) {
  const std::string lines[] = {
      R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"a":[1,-2.5e3,true,false,null]}})",
      R"( { "id" : "a\"b\\c" , "method" : "x\u00e9\uD83D\uDE00y" } )",
      "{\"method\":\"caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80 long enough to fill a vector\"}",
      R"({"m\u0065thod":"escaped name","id":null})",
      R"([{"id":1},{"method":2}])",
      "-12.5e+7",
      "\"a string of some length, to pass sixteen bytes\"",
      "\t1.0\r",
      std::string(127, '[') + std::string(127, ']'),
      std::string(128, '[') + std::string(128, ']'),
      // not JSON
      R"({"id":1,"method":"x")",
      R"({"id":1,})",
      R"({"a":"\u12x4"})",
      R"({"a":"\uD83D"})",
      R"({"a":tru})",
      R"({"a":01})",
      R"({"a":1.})",
      R"({"a":1e})",
      "1e999",
      "\"control \x01 char\"",
      "",
      "\r",
      // not UTF-8, inside and outside strings
      "{\"a\":\"\xC3\x28\"}",
      "{\"a\":\"\xED\xA0\x80\"}",
      "\"\xF0\x9F\x98\"",
      "\xFF{}",
      R"({"a":x})"
      "\xE2\x86",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(::testing::PrintToString(line));
    const Judged want = reference(line);
    for (const bool with_newline : {true, false}) {
      for (size_t cut = 0; cut <= line.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut) +
                     (with_newline ? ", with LF" : ", last line"));
        ASSERT_EQ(scanned_in_two_reads(line, cut, with_newline), want);
      }
    }
  }
}

// A line ends at its line feed even where the bytes before it could still
// have gone on to be valid: nothing waits for bytes of the next line.
TEST(LineScanner, LineFeedEndsALineThatWasCutOff) {
  const std::string_view cut_off[] = {
      R"({"a":"\u12)", R"({"a":"\uD83D\u)", R"({"a":"\)", "{\"a\":\"\xE2\x86", R"({"a":tr)",
      R"({"a":-)",     R"({"a":1.)",        R"({"a")",    R"({"a":1,)",        R"([1)",
  };
  for (const std::string_view start : cut_off) {
    SCOPED_TRACE(std::string(start));
    LineScanner scanner(kNames);
    std::string bytes(start);
    ASSERT_FALSE(scanner.feed(bytes));
    bytes += "\n{}\n";
    ASSERT_EQ(scanner.feed(bytes), start.size());
    EXPECT_EQ(scanner.line(std::string_view(bytes).substr(0, start.size())).verdict,
              is_valid_utf8(start) ? Verdict::kNotJson : Verdict::kNotUtf8);
    scanner.next_line();
    EXPECT_EQ(scanner.feed(std::string_view(bytes).substr(start.size() + 1)), 2u);
    EXPECT_EQ(scanner.line("{}").verdict, Verdict::kJson);
  }
}

// Tokens far longer than a read, fed in many reads: each read is looked at
// once, and the verdict is the whole line's.
TEST(LineScanner, TokensLongerThanAReadSpanManyReads) {
  // `count` times `fill` between `before` and `after`.
  const auto long_line = [](std::string_view before, size_t count, char fill,
                            std::string_view after) {
    std::string line(before);
    line.append(count, fill);
    return line.append(after);
  };
  const std::string lines[] = {
      long_line("[0.", 100000, '0', "1]"),        // a number that fits a double
      long_line("[1", 400, '0', "]"),             // one that does not
      long_line("\"", 50000, 'a', "\xC3\xA9\""),  // a string, non-ASCII at its end
      long_line("\"", 50000, ' ', "\xC3\""),      // cut short by its quotation mark
      long_line("[", 100000, ' ', "]"),           // whitespace
  };

  for (const std::string& line : lines) {
    SCOPED_TRACE(line.substr(0, 8) + "... (" + std::to_string(line.size()) + " bytes)");
    const std::string bytes = line + "\n";
    LineScanner scanner(kNames);
    std::optional<size_t> length;
    for (size_t read = 997; !length && read < bytes.size() + 997; read += 997) {
      length = scanner.feed(std::string_view(bytes).substr(0, std::min(read, bytes.size())));
    }
    ASSERT_EQ(length, line.size());
    EXPECT_EQ(scanner.line(line).verdict, reference(line).verdict);
  }
}

// Lines one after another in one buffer, each fed from its first byte.
TEST(LineScanner, ScansLinesOneAfterAnother) {
  const std::string bytes = "{\"id\":1}\r\nnot json\n\xC3\x28\n\n[\"last\"]";
  LineScanner scanner(kNames);
  std::vector<Judged> got;
  std::string_view rest = bytes;
  while (const std::optional<size_t> length = scanner.feed(rest)) {
    std::string_view line = rest.substr(0, *length);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const ScannedLine scanned = scanner.line(line);
    got.push_back({scanned.verdict, text_of(scanned.members[0]), text_of(scanned.members[1])});
    scanner.next_line();
    rest.remove_prefix(*length + 1);
  }
  scanner.finish(rest);
  got.push_back({scanner.line(rest).verdict, {}, {}});
  const std::vector<Judged> want = {
      {Verdict::kJson, {}, "1"},   {Verdict::kNotJson, {}, {}}, {Verdict::kNotUtf8, {}, {}},
      {Verdict::kNotJson, {}, {}}, {Verdict::kJson, {}, {}},
  };
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace mcp_wire
