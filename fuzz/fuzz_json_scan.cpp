// Treats the input as one line of text and checks scan_json against the
// reference reader, read_json:
//   - both accept or both reject the text;
//   - what scan_json accepts is well-formed UTF-8 (the bridge relies on
//     this to check the UTF-8 of a line only once);
//   - each member found is the last top-level member of its name in the
//     reader's object, as a readable JSON text of the same value and kind,
//     and a member the reader has is found.
// Then treats the input as a stream of lines and checks that LineScanner,
// fed the stream in reads cut at many places, frames and judges every line
// exactly as scan_json and the UTF-8 check judge the lines of a plain
// split: fed one byte at a time (so that every byte is a point where a
// scan stops and goes on), in reads whose sizes come from the input, and
// in one read.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "mcp_wire/json.h"
#include "mcp_wire/json_scan.h"
#include "mcp_wire/utf8.h"

namespace {

using harlo_fuzz::fail;
using harlo_fuzz::printable;
using mcp_wire::Json;

constexpr std::array<std::string_view, 3> kNames = {"method", "id", "a"};

using Verdict = mcp_wire::ScannedLine::Verdict;

// A line as the scanner judged it, or as the reference does: the verdict,
// and for JSON the members found, by their offsets in the line.
struct Judged {
  std::string line;
  Verdict verdict = Verdict::kNotJson;
  std::array<std::optional<std::pair<size_t, size_t>>, kNames.size()> members;
};

std::string describe(const Judged& judged) {
  static constexpr const char* kVerdicts[] = {"JSON", "not JSON", "not UTF-8"};
  std::string text = printable(judged.line) + ": " + kVerdicts[static_cast<int>(judged.verdict)];
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (!judged.members[i]) continue;
    text += ", " + std::string(kNames[i]) + " at " + std::to_string(judged.members[i]->first) +
            "+" + std::to_string(judged.members[i]->second);
  }
  return text;
}

// The members of `scanned` as offsets into `line`, which they view.
Judged judged(std::string_view line, Verdict verdict,
              std::span<const std::optional<std::string_view>> members) {
  Judged result{std::string(line), verdict, {}};
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (!members[i]) continue;
    if (members[i]->data() < line.data() ||
        members[i]->data() + members[i]->size() > line.data() + line.size()) {
      fail("a member found is not a view into its line", printable(line));
    }
    result.members[i] =
        std::pair{static_cast<size_t>(members[i]->data() - line.data()), members[i]->size()};
  }
  return result;
}

// The lines of `stream` (split at LF, one CR before it removed, a last
// line without LF kept), each judged by scan_json and is_valid_utf8.
std::vector<Judged> reference_lines(std::string_view stream) {
  std::vector<Judged> lines;
  size_t start = 0;
  while (start < stream.size()) {
    const size_t newline = std::min(stream.find('\n', start), stream.size());
    std::string_view line = stream.substr(start, newline - start);
    if (newline < stream.size() && line.ends_with('\r')) line.remove_suffix(1);
    std::array<std::optional<std::string_view>, kNames.size()> found;
    const Verdict verdict = mcp_wire::scan_json(line, kNames, found) ? Verdict::kJson
                            : mcp_wire::is_valid_utf8(line)          ? Verdict::kNotJson
                                                                     : Verdict::kNotUtf8;
    lines.push_back(judged(line, verdict, found));
    start = newline + 1;
  }
  return lines;
}

// The lines of `stream` as a LineScanner judges them when the stream comes
// in reads of the sizes `next_read` gives. The bytes of the line being
// read are kept in a string that grows, so they move between reads as in
// the bridge's buffer.
template <typename NextRead>
std::vector<Judged> scanned_lines(std::string_view stream, NextRead next_read) {
  mcp_wire::LineScanner scanner(kNames);
  std::vector<Judged> lines;
  std::string buffered;
  const auto take = [&](std::string_view line) {
    const mcp_wire::ScannedLine scanned = scanner.line(line);
    lines.push_back(judged(line, scanned.verdict, scanned.members));
    scanner.next_line();
  };
  for (size_t read = 0; read < stream.size();) {
    const size_t size = std::clamp<size_t>(next_read(), 1, stream.size() - read);
    buffered.append(stream.substr(read, size));
    read += size;
    while (const std::optional<size_t> length = scanner.feed(buffered)) {
      if (*length >= buffered.size() || buffered[*length] != '\n') {
        fail("LineScanner ended a line where there is no line feed",
             "at " + std::to_string(*length) + " of " + printable(buffered));
      }
      std::string_view line(buffered.data(), *length);
      if (line.ends_with('\r')) line.remove_suffix(1);
      take(line);
      buffered.erase(0, *length + 1);
    }
  }
  if (!buffered.empty()) {
    scanner.finish(buffered);
    take(buffered);
  }
  return lines;
}

void check_lines(std::string_view how, std::string_view stream, const std::vector<Judged>& want,
                 const std::vector<Judged>& got) {
  for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
    const bool same = i < want.size() && i < got.size() && want[i].line == got[i].line &&
                      want[i].verdict == got[i].verdict && want[i].members == got[i].members;
    if (same) continue;
    fail("LineScanner disagrees with scan_json, fed " + std::string(how),
         "line " + std::to_string(i) +
             "\nLineScanner: " + (i < got.size() ? describe(got[i]) : "(no line)") +
             "\nexpected:    " + (i < want.size() ? describe(want[i]) : "(no line)") +
             "\nstream: " + printable(stream));
  }
}

// Read sizes from an xorshift generator seeded by the FNV-1a hash of the
// input: mostly a few bytes, sometimes up to a few hundred.
class ReadSizes {
 public:
  explicit ReadSizes(std::string_view input) {
    for (const char c : input) state_ = (state_ ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  }

  size_t operator()() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return (state_ & 3) == 0 ? 1 + (state_ >> 2) % 512 : 1 + (state_ >> 2) % 16;
  }

 private:
  uint64_t state_ = 0xcbf29ce484222325ull;
};

void check_line_scanner(std::string_view stream) {
  const std::vector<Judged> want = reference_lines(stream);
  check_lines("one byte at a time", stream, want, scanned_lines(stream, [] { return 1; }));
  check_lines("in reads of varied sizes", stream, want, scanned_lines(stream, ReadSizes(stream)));
  check_lines("in one read", stream, want,
              scanned_lines(stream, [&stream] { return stream.size(); }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::array<std::optional<std::string_view>, kNames.size()> found;
  const bool accepted = mcp_wire::scan_json(text, kNames, found);
  const std::optional<Json> reference = mcp_wire::read_json(text);
  if (accepted != reference.has_value()) {
    fail(accepted ? "scan_json accepts what the reader rejects"
                  : "scan_json rejects what the reader accepts",
         "text: " + printable(text));
  }
  check_line_scanner(text);
  if (!accepted) return 0;
  if (!mcp_wire::is_valid_utf8(text))
    fail("scan_json accepts text that is not UTF-8", printable(text));

  for (size_t i = 0; i < kNames.size(); ++i) {
    std::optional<Json> want;
    if (reference->is_object()) {
      const auto member = reference->find(std::string(kNames[i]));
      if (member != reference->end()) want = *member;
    }
    if (want.has_value() != found[i].has_value()) {
      fail("scan_json and the reader disagree on a member's presence",
           "member " + std::string(kNames[i]) + "\ntext: " + printable(text));
    }
    if (!want) continue;
    const std::optional<Json> got = mcp_wire::read_json(*found[i]);
    if (!got || !mcp_wire::json_equal(*got, *want) ||
        mcp_wire::write_json(*got) != mcp_wire::write_json(*want)) {
      fail("scan_json found another value for a member", "member " + std::string(kNames[i]) +
                                                             "\nfound: " + printable(*found[i]) +
                                                             "\ntext: " + printable(text));
    }
  }
  return 0;
}
