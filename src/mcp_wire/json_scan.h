// Reading a relayed line without building it: the bridge only needs to
// know whether a line is readable JSON and what a few top-level members
// hold, and a line may be tens of megabytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "mcp_wire/json.h"

namespace mcp_wire {

// Checks `text` by exactly the rules of read_json (one value, JSON
// whitespace around it, nesting at most kMaxNesting, strings of valid
// UTF-8 with valid escapes, numbers that fit a double) in one pass and
// without allocating. Returns false when read_json would return nothing.
//
// When the value is an object, `found[i]` receives the raw text of the
// value of the last top-level member named `names[i]` (names compared
// after unescaping), or stays empty when there is none. The text is a
// view into `text`, and itself a readable JSON value.
bool scan_json(std::string_view text, std::span<const std::string_view> names,
               std::span<std::optional<std::string_view>> found);

// The most names a LineScanner looks for.
inline constexpr size_t kMaxMembers = 4;

// What the scanner made of one line.
struct ScannedLine {
  enum class Verdict {
    kJson,     // readable JSON, by the rules of scan_json
    kNotJson,  // well-formed UTF-8, but not readable JSON
    kNotUtf8,  // not well-formed UTF-8
  };
  Verdict verdict = Verdict::kNotJson;
  // For kJson, as scan_json's `found`: views into the line.
  std::array<std::optional<std::string_view>, kMaxMembers> members;
};

// Where a scan stopped for want of bytes: everything a scan needs to go on
// later exactly where it stopped, as offsets from the line's first byte,
// since the buffer that holds the line may move between reads.
struct ScanState {
  // ScanState has no user-provided constructor, so that a scan on the stack
  // initialises only the fields it uses.
  uint8_t resume;         // the scanner's state to enter
  uint8_t after_string;   // in a string: the state behind it
  int depth;              // open containers
  int member;             // which name the top-level member being read has, or -1
  size_t pos;             // where to go on
  size_t member_start;    // where that member's value starts
  size_t name_start;      // where the member name being read starts
  size_t number_checked;  // a number cut off: the bytes before this are its
  // Found members as (offset, length); the length is kNone when not found.
  static constexpr size_t kNone = ~size_t{0};
  std::array<std::array<size_t, 2>, kMaxMembers> found;
  bool is_object[kMaxNesting];  // of each open container
};

// Checks the lines of a stream as their bytes arrive, by the rules of
// scan_json, and finds their ends: one pass over each byte however the
// stream is cut into reads, so that a long line is checked while its
// bytes are still in cache and is known to be whole and readable (or not)
// as soon as its line feed arrives. A line ends at its first LF (at most
// `kMaxMembers` names).
class LineScanner {
 public:
  explicit LineScanner(std::span<const std::string_view> names);

  // Goes on with the current line. `bytes` holds every byte of it read so
  // far, from its first one, and may go on with later lines; the bytes of
  // earlier calls must be the same (they may have moved). Returns the
  // line's length up to its LF once that is read; the line's scan is then
  // line() (with the LF and anything behind it left out, and a CR before
  // the LF too, whose presence changes no verdict).
  std::optional<size_t> feed(std::string_view bytes);

  // Ends the current line at the end of the stream: `line` is all of it,
  // with no LF.
  void finish(std::string_view line);

  // The scan of the line that feed() or finish() has just ended, with the
  // members as views into `line`, the line as the reader delivers it.
  ScannedLine line(std::string_view line) const;

  // Starts the next line; its bytes begin right after the last LF.
  void next_line();

 private:
  // The line has failed the JSON check: from here on it is only framed
  // and checked as UTF-8.
  void fall_back();

  std::span<const std::string_view> names_;
  ScanState state_;
  ScannedLine::Verdict verdict_ = ScannedLine::Verdict::kJson;
  bool json_failed_ = false;
  // Once the JSON check has failed: bytes checked as UTF-8 (and found
  // free of LF), and the UTF-8 checker's state there.
  size_t utf8_checked_ = 0;
  uint64_t utf8_state_ = 0;
};

}  // namespace mcp_wire
