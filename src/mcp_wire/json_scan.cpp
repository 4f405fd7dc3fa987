#include "mcp_wire/json_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mcp_wire/json.h"
#include "mcp_wire/scan_kernels.h"
#include "mcp_wire/utf8.h"

namespace mcp_wire {
namespace {

using kernels::Byte;
using kernels::bytes_before_first_mark;
using kernels::kHighBits;
using kernels::kLowBits;
using kernels::kOnes;
using kernels::load_word;

// How a scan reads the end of its bytes and a line feed.
enum class Mode {
  // The bytes are a whole text: its end is the end of the value, and a line
  // feed is whitespace like any other.
  kText,
  // The bytes are what has arrived of a line: where they end, more may
  // follow, and the line ends at its first line feed.
  kStream,
};

// Marks the bytes of `word` that are not ASCII digits.
constexpr uint64_t non_digits(uint64_t word) {
  // A digit is a byte whose value minus '0' (here: xor, exact for 0x30 to
  // 0x3F) is below ten; the sum sets the high bit from ten on.
  const uint64_t offset = word ^ (kOnes * '0');
  return (((offset & kLowBits) + kOnes * (0x80 - 10)) | offset) & kHighBits;
}

// ---- Tokens --------------------------------------------------------------------
//
// Each reader takes the position of its token and returns the position just
// behind it, or nullptr when the text is not valid there. None reads at or
// beyond `end`. The common forms of each token are handled by a short
// inline path, the rest by a full reader out of line.

bool is_digit(Byte c) { return c >= '0' && c <= '9'; }

template <Mode kMode>
bool is_whitespace(Byte c) {
  if constexpr (kMode == Mode::kStream) return c == ' ' || c == '\r' || c == '\t';
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

template <Mode kMode>
const Byte* skip_whitespace(const Byte* p, const Byte* end) {
  while (p != end && is_whitespace<kMode>(*p)) ++p;
  return p;
}

int hex_value(Byte c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at `p`, or -1.
int hex4(const Byte* p, const Byte* end) {
  if (end - p < 4) return -1;
  int value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_value(p[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// An escape from its backslash. A \u escape of a high surrogate must be
// followed by one of a low surrogate; a lone low surrogate is invalid.
const Byte* escape(const Byte* p, const Byte* end) {
  ++p;
  if (p == end) return nullptr;
  switch (*p++) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
      return p;
    case 'u': {
      const int unit = hex4(p, end);
      if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return nullptr;
      p += 4;
      if (unit < 0xD800 || unit > 0xDBFF) return p;
      if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return nullptr;
      const int low = hex4(p + 2, end);
      if (low < 0xDC00 || low > 0xDFFF) return nullptr;
      return p + 6;
    }
    default:
      return nullptr;
  }
}

// Where the bytes from `run` to `end`, cut off inside a string, stop being
// whole UTF-8 sequences: `end`, or the lead byte of a sequence cut off;
// nullptr when they are not UTF-8 however they go on.
const Byte* end_of_whole_sequences(const Byte* run, const Byte* end) {
  const uint64_t state = utf8_states::after(utf8_states::kAccept, run, end);
  if ((state & 63) == utf8_states::kAccept) return end;
  if ((state & 63) == utf8_states::kReject) return nullptr;
  const Byte* lead = end - 1;
  while ((*lead & 0xC0) == 0x80) --lead;
  return lead;
}

// Below this length, a run is checked as UTF-8 one step per byte.
constexpr ptrdiff_t kShortRun = 64;

// Whether the bytes of a run, which holds non-ASCII bytes, are whole UTF-8
// sequences. Most runs are a few words; longer ones skip ASCII a vector at
// a time.
inline bool whole_sequences(const Byte* run, const Byte* end) {
  const uint64_t state = end - run < kShortRun
                             ? utf8_states::after_each(utf8_states::kAccept, run, end)
                             : utf8_states::after(utf8_states::kAccept, run, end);
  return (state & 63) == utf8_states::kAccept;
}

// A string's contents from just after its opening quotation mark, run by
// run: a run goes up to the next quotation mark, backslash or control
// character, non-ASCII bytes included, and one that had any non-ASCII byte
// is then checked as UTF-8 as a whole. A multi-byte sequence cannot span
// two runs: the bytes that end a run are ASCII.
//
// In a stream, bytes that end inside the string set `*resume` to where
// its scan goes on once more have arrived: a point between two runs, or
// between two UTF-8 sequences of one, so that nothing before it needs to
// be seen again.
template <Mode kMode>
const Byte* string_full(const Byte* p, const Byte* end, const Byte** resume) {
  for (;;) {
    const Byte* const run = p;
    bool non_ascii = false;
    p = kernels::string_stop(p, end, non_ascii);
    if (p == end) {
      if constexpr (kMode == Mode::kStream)
        *resume = non_ascii ? end_of_whole_sequences(run, end) : end;
      return nullptr;
    }
    if (non_ascii && !whole_sequences(run, p)) return nullptr;
    if (*p == '"') return p + 1;
    if (*p != '\\') return nullptr;  // a control character
    const Byte* const backslash = p;
    p = escape(p, end);
    if (p == nullptr) {
      // An escape is at most twelve bytes (a surrogate pair); one cut off
      // by the end of the bytes, with no line feed in it, is read again.
      if constexpr (kMode == Mode::kStream) {
        const auto left = static_cast<size_t>(end - backslash);
        if (left < 12 && std::memchr(backslash, '\n', left) == nullptr) *resume = backslash;
      }
      return nullptr;
    }
  }
}

// The same; inline for the common case of a short string of plain ASCII.
template <Mode kMode>
inline const Byte* string_body(const Byte* p, const Byte* end, const Byte** resume) {
  const int length = kernels::plain_string_length(p, end);
  if (length >= 0) return p + length + 1;
  return string_full<kMode>(p, end, resume);
}

// Digits from `p` on, eight at a time while the text has eight left.
inline const Byte* skip_digits(const Byte* p, const Byte* end) {
  while (end - p >= 8) {
    const uint64_t stops = non_digits(load_word(p));
    if (stops != 0) return p + bytes_before_first_mark(stops);
    p += 8;
  }
  while (p != end && is_digit(*p)) ++p;
  return p;
}

// Whether the number from `p` to `end`, already known to be well-formed,
// fits a double. The value is below 10^(order + exponent), where the order
// is the count of integer digits or, for a value below one, minus the
// count of zeros after the point before the first non-zero digit; it is at
// least a tenth of that. So up to 10^308 it fits for sure, from 10^310 on
// it cannot; in between it is converted as the reader does. Zero and
// underflow always fit.
bool number_fits(const Byte* p, const Byte* end) {
  const Byte* const start = p;
  if (*p == '-') ++p;
  int64_t order = 0;
  bool nonzero = false;
  if (*p == '0') {
    ++p;
  } else {
    nonzero = true;
    while (p != end && is_digit(*p)) {
      ++p;
      ++order;
    }
  }
  if (p != end && *p == '.') {
    ++p;
    for (; p != end && is_digit(*p); ++p) {
      if (nonzero) continue;
      if (*p != '0') {
        nonzero = true;
      } else {
        --order;
      }
    }
  }
  int64_t exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Past 10^17 the exponent outweighs any order that a text in memory
    // can have; it stops growing there, far from overflow.
    for (; p != end && is_digit(*p); ++p) {
      if (exponent < 100'000'000'000'000'000) exponent = exponent * 10 + (*p - '0');
    }
    if (negative) exponent = -exponent;
  }
  if (!nonzero || order + exponent <= 308) return true;
  if (order + exponent >= 310) return false;
  const std::string token(start, p);
  return std::isfinite(std::strtod(token.c_str(), nullptr));
}

// The exponent of a number, from its 'e' or 'E'; `start` is where the
// number starts and `integer_digits` the count of its integer digits.
const Byte* number_exponent(const Byte* start, const Byte* p, const Byte* end,
                            int64_t integer_digits) {
  ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end || !is_digit(*p)) return nullptr;
  // Past 10^5 the exponent stops growing: enough to tell "far below
  // 10^308" from "maybe not".
  int64_t exponent = 0;
  for (; p != end && is_digit(*p); ++p) {
    if (exponent < 100'000) exponent = exponent * 10 + (*p - '0');
  }
  if (negative) exponent = -exponent;
  // Below 10^308 for sure: the common case. Otherwise the value may be
  // near the limit of a double (or its fraction may start with zeros that
  // bring it back down), which the exact check settles.
  if (integer_digits + exponent <= 308) return p;
  return number_fits(start, p) ? p : nullptr;
}

// A number from its first character, which is '-' or a digit.
inline const Byte* number(const Byte* p, const Byte* end) {
  const Byte* const start = p;
  const Byte* const digits = p + (*p == '-');
  p = skip_digits(digits, end);
  // The count of integer digits bounds the order of the value (a lone
  // leading zero counts too, which only loosens the bound by one).
  const int64_t integer_digits = p - digits;
  if (integer_digits == 0 || (*digits == '0' && integer_digits > 1)) return nullptr;
  if (p != end && *p == '.') {
    const Byte* const fraction = ++p;
    p = skip_digits(p, end);
    if (p == fraction) return nullptr;
  }
  if (p != end && (*p | 0x20) == 'e') return number_exponent(start, p, end, integer_digits);
  if (integer_digits <= 308) return p;
  return number_fits(start, p) ? p : nullptr;
}

// A literal from its first letter.
inline const Byte* literal(const Byte* p, const Byte* end, std::string_view word) {
  if (static_cast<size_t>(end - p) < word.size() || std::memcmp(p, word.data(), word.size()) != 0) {
    return nullptr;
  }
  return p + word.size();
}

// Which of `names` the member name `raw` (with its quotation marks) is.
int match_name(std::string_view raw, std::span<const std::string_view> names) {
  std::string decoded;
  std::string_view name = raw.substr(1, raw.size() - 2);
  if (name.find('\\') != std::string_view::npos) {
    decoded = read_json(raw)->get<std::string>();
    name = decoded;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// Whether the bytes from `p` to `end` could all belong to a number, which
// may then go on in bytes still to come.
bool only_number_bytes(const Byte* p, const Byte* end) {
  for (; p != end; ++p) {
    if (!is_digit(*p) && *p != '-' && *p != '+' && *p != '.' && (*p | 0x20) != 'e') return false;
  }
  return true;
}

// Whether the bytes from `p` to `end` are the start of `word`, cut off.
bool cut_off_literal(const Byte* p, const Byte* end, std::string_view word) {
  const auto left = static_cast<size_t>(end - p);
  return left < word.size() && std::memcmp(p, word.data(), left) == 0;
}

// The scanner's states where a scan that ran out of bytes goes on.
enum Resume : uint8_t {
  kTopValue,
  kObjectFirst,
  kMemberName,
  kColon,
  kMemberValue,
  kObjectAfterValue,
  kArrayFirst,
  kArrayValue,
  kArrayNext,
  kDone,
  kInString,
};

// What follows a string that was cut off.
enum AfterString : uint8_t { kAfterName, kAfterMember, kAfterElement, kAfterTop };

enum class Outcome {
  kValid,    // the value is readable (in a stream: and its line has ended)
  kInvalid,  // it is not, whatever follows
  kMore,     // in a stream: the bytes ended, and the state is saved
};

void start_scan(ScanState& state) {
  state.resume = kTopValue;
  state.after_string = kAfterTop;
  state.depth = 0;
  state.member = -1;
  state.pos = 0;
  state.number_checked = 0;
  for (auto& found : state.found) found = {0, ScanState::kNone};
}

// Scans from where `state` stopped up to `end`; `begin` is where the text
// (the line) starts. In a stream, a valid line's end is `*line_end`.
template <Mode kMode>
Outcome scan(ScanState& state, std::span<const std::string_view> names, const Byte* const begin,
             const Byte* const end, size_t* line_end) {
  const Byte* p = begin + state.pos;
  int depth = state.depth;
  int member = state.member;
  const Byte* resume = nullptr;  // where a string that was cut off goes on
  const Byte* token;             // where the value being read starts

  // Each state of the scanner is a label. Values inside objects and inside
  // arrays have states of their own, so that what follows a value is known
  // without a look at the stack, and each kind of place has branches of its
  // own for the processor to predict. Whitespace is looked for only where
  // the expected character is not found, as compact lines have none.

// Saves the state to go on at `label`, from `at`.
#define SUSPEND(label, at)                       \
  do {                                           \
    state.resume = label;                        \
    state.pos = static_cast<size_t>((at)-begin); \
    state.depth = depth;                         \
    state.member = member;                       \
    return Outcome::kMore;                       \
  } while (0)

// The bytes ended at `p`, in the state `label`.
#define AT_END(label)                                        \
  do {                                                       \
    if constexpr (kMode == Mode::kStream) SUSPEND(label, p); \
    return Outcome::kInvalid;                                \
  } while (0)

// A string that failed: cut off, or not valid.
#define STRING_FAILED(after)                           \
  do {                                                 \
    if (kMode == Mode::kStream && resume != nullptr) { \
      state.after_string = after;                      \
      SUSPEND(kInString, resume);                      \
    }                                                  \
    return Outcome::kInvalid;                          \
  } while (0)

// A number at `token` that may have been cut off by the end of the bytes,
// whose bytes before `from` are known to be number bytes: it is read again
// once more bytes arrive, but only the new bytes are looked at until one
// of them ends the number, so that a long number costs no more than once.
#define NUMBER_CUT_OFF(label, from)                            \
  do {                                                         \
    if (only_number_bytes(from, end)) {                        \
      state.number_checked = static_cast<size_t>(end - begin); \
      SUSPEND(label, token);                                   \
    }                                                          \
  } while (0)

// A literal at `p`, which is `token`.
#define SCAN_LITERAL(label, word)                                                  \
  p = literal(p, end, word);                                                       \
  if (kMode == Mode::kStream && p == nullptr && cut_off_literal(token, end, word)) \
  SUSPEND(label, token)

// One value, from its first character at `p` (not at `end`), in the state
// `label`; goes on at `next` behind it.
#define SCAN_VALUE(label, after, next)                                                      \
  token = p;                                                                                \
  if (*p == '"') {                                                                          \
    p = string_body<kMode>(p + 1, end, &resume);                                            \
    if (p == nullptr) STRING_FAILED(after);                                                 \
  } else if (static_cast<Byte>(*p - '0') < 10 || *p == '-') {                               \
    if (kMode == Mode::kStream && state.number_checked > static_cast<size_t>(p - begin))    \
      NUMBER_CUT_OFF(label, begin + state.number_checked);                                  \
    p = number(p, end);                                                                     \
    if (kMode == Mode::kStream && (p == nullptr || p == end)) NUMBER_CUT_OFF(label, token); \
  } else if (*p == '{') {                                                                   \
    goto open_object;                                                                       \
  } else if (*p == '[') {                                                                   \
    goto open_array;                                                                        \
  } else if (*p == 't') {                                                                   \
    SCAN_LITERAL(label, "true");                                                            \
  } else if (*p == 'f') {                                                                   \
    SCAN_LITERAL(label, "false");                                                           \
  } else if (*p == 'n') {                                                                   \
    SCAN_LITERAL(label, "null");                                                            \
  } else {                                                                                  \
    return Outcome::kInvalid;                                                               \
  }                                                                                         \
  if (p == nullptr) return Outcome::kInvalid;                                               \
  goto next

  switch (state.resume) {
    case kObjectFirst:
      goto object_first;
    case kMemberName:
      goto member_name;
    case kColon:
      goto colon;
    case kMemberValue:
      goto member_value;
    case kObjectAfterValue:
      goto object_after_value;
    case kArrayFirst:
      goto array_first;
    case kArrayValue:
      goto array_value;
    case kArrayNext:
      goto array_next;
    case kDone:
      goto done;
    case kInString:
      goto in_string;
    default:
      break;
  }

  p = skip_whitespace<kMode>(p, end);
  if (p == end) AT_END(kTopValue);
  SCAN_VALUE(kTopValue, kAfterTop, done);

open_object:
  if (depth == kMaxNesting) return Outcome::kInvalid;
  state.is_object[depth++] = true;
  ++p;
  if (p != end && *p == '"') goto member_name_string;
object_first:
  p = skip_whitespace<kMode>(p, end);
  if (p == end) AT_END(kObjectFirst);
  if (*p == '}') {
    ++p;
    goto closed;
  }
  if (*p != '"') return Outcome::kInvalid;
  goto member_name_string;

open_array:
  if (depth == kMaxNesting) return Outcome::kInvalid;
  state.is_object[depth++] = false;
  ++p;
  if (p != end && *p > ' ' && *p != ']') goto array_element;
array_first:
  p = skip_whitespace<kMode>(p, end);
  if (p == end) AT_END(kArrayFirst);
  if (*p == ']') {
    ++p;
    goto closed;
  }
  goto array_element;

closed:  // a container has just ended, at `p`
  --depth;
  if (depth == 0) goto done;
  if (state.is_object[depth - 1]) goto object_next;
  goto array_next;

member_name:  // behind a comma
  if (p == end || *p != '"') {
    p = skip_whitespace<kMode>(p, end);
    if (p == end) AT_END(kMemberName);
    if (*p != '"') return Outcome::kInvalid;
  }
member_name_string:  // at its quotation mark
  // A top-level member: its name and where its value starts matter.
  if (depth == 1) state.name_start = static_cast<size_t>(p - begin);
  p = string_body<kMode>(p + 1, end, &resume);
  if (p == nullptr) STRING_FAILED(kAfterName);
after_name:
  if (depth == 1) {
    const auto name_start = static_cast<size_t>(state.name_start);
    member = match_name({reinterpret_cast<const char*>(begin) + name_start,
                         static_cast<size_t>(p - begin) - name_start},
                        names);
  }
colon:
  if (p == end || *p != ':') {
    p = skip_whitespace<kMode>(p, end);
    if (p == end) AT_END(kColon);
    if (*p != ':') return Outcome::kInvalid;
  }
  ++p;
member_value:
  if (p == end || *p <= ' ') {
    p = skip_whitespace<kMode>(p, end);
    if (p == end) AT_END(kMemberValue);
  }
  if (depth == 1) state.member_start = static_cast<size_t>(p - begin);
  SCAN_VALUE(kMemberValue, kAfterMember, object_next);

object_next:  // a member's value has just ended, at `p`
  if (member >= 0 && depth == 1) {
    state.found[static_cast<size_t>(member)] = {
        state.member_start, static_cast<size_t>(p - begin) - state.member_start};
    member = -1;
  }
object_after_value:
  if (p == end || (*p != ',' && *p != '}')) {
    p = skip_whitespace<kMode>(p, end);
    if (p == end) AT_END(kObjectAfterValue);
  }
  if (*p == ',') {
    ++p;
    goto member_name;
  }
  if (*p != '}') return Outcome::kInvalid;
  ++p;
  goto closed;

array_value:
  if (p == end || *p <= ' ') {
    p = skip_whitespace<kMode>(p, end);
    if (p == end) AT_END(kArrayValue);
  }
array_element:
  SCAN_VALUE(kArrayValue, kAfterElement, array_next);

array_next:  // an element has just ended, at `p`
  if (p == end || (*p != ',' && *p != ']')) {
    p = skip_whitespace<kMode>(p, end);
    if (p == end) AT_END(kArrayNext);
  }
  if (*p == ',') {
    ++p;
    goto array_value;
  }
  if (*p != ']') return Outcome::kInvalid;
  ++p;
  goto closed;

in_string:  // going on inside a string that was cut off
  p = string_full<kMode>(p, end, &resume);
  if (p == nullptr) STRING_FAILED(state.after_string);
  switch (state.after_string) {
    case kAfterName:
      goto after_name;
    case kAfterMember:
      goto object_next;
    case kAfterElement:
      goto array_next;
    default:
      goto done;
  }

done:  // the value has ended, at `p`
  p = skip_whitespace<kMode>(p, end);
  if constexpr (kMode == Mode::kStream) {
    if (p == end) SUSPEND(kDone, p);
    if (*p != '\n') return Outcome::kInvalid;
    *line_end = static_cast<size_t>(p - begin);
    return Outcome::kValid;
  }
  return p == end ? Outcome::kValid : Outcome::kInvalid;

#undef SCAN_VALUE
#undef SCAN_LITERAL
#undef NUMBER_CUT_OFF
#undef STRING_FAILED
#undef AT_END
#undef SUSPEND
}

const Byte* bytes_of(std::string_view text) { return reinterpret_cast<const Byte*>(text.data()); }

}  // namespace

bool scan_json(std::string_view text, std::span<const std::string_view> names,
               std::span<std::optional<std::string_view>> found) {
  for (auto& value : found) value.reset();
  ScanState state;
  start_scan(state);
  const Byte* const begin = bytes_of(text);
  if (scan<Mode::kText>(state, names.first(std::min(names.size(), kMaxMembers)), begin,
                        begin + text.size(), nullptr) != Outcome::kValid) {
    return false;
  }
  for (size_t i = 0; i < found.size() && i < kMaxMembers; ++i) {
    const auto [offset, length] = state.found[i];
    if (length != ScanState::kNone) found[i] = text.substr(offset, length);
  }
  return true;
}

LineScanner::LineScanner(std::span<const std::string_view> names)
    : names_(names.first(std::min(names.size(), kMaxMembers))) {
  next_line();
}

void LineScanner::next_line() {
  start_scan(state_);
  verdict_ = ScannedLine::Verdict::kJson;
  json_failed_ = false;
}

void LineScanner::fall_back() {
  json_failed_ = true;
  // The scan that failed began where the one before it stopped: every byte
  // before that point is whole UTF-8 sequences and holds no LF, so the
  // check goes on from there rather than from the line's start.
  utf8_checked_ = state_.pos;
  utf8_state_ = utf8_states::kAccept;
}

std::optional<size_t> LineScanner::feed(std::string_view bytes) {
  const Byte* const begin = bytes_of(bytes);
  const Byte* const end = begin + bytes.size();
  if (!json_failed_) {
    size_t line_end = 0;
    switch (scan<Mode::kStream>(state_, names_, begin, end, &line_end)) {
      case Outcome::kValid:
        verdict_ = ScannedLine::Verdict::kJson;
        return line_end;
      case Outcome::kMore:
        return std::nullopt;
      case Outcome::kInvalid:
        fall_back();
        break;
    }
  }
  // Not JSON: only the line's end and whether it is UTF-8 are left to find.
  const Byte* const from = begin + utf8_checked_;
  const auto* newline = static_cast<const Byte*>(std::memchr(from, '\n', end - from));
  const Byte* const upto = newline != nullptr ? newline : end;
  utf8_state_ = utf8_states::after(utf8_state_, from, upto);
  utf8_checked_ = static_cast<size_t>(upto - begin);
  if (newline == nullptr) return std::nullopt;
  verdict_ = (utf8_state_ & 63) == utf8_states::kAccept ? ScannedLine::Verdict::kNotJson
                                                        : ScannedLine::Verdict::kNotUtf8;
  return utf8_checked_;
}

void LineScanner::finish(std::string_view line) {
  const Byte* const begin = bytes_of(line);
  const Byte* const end = begin + line.size();
  if (!json_failed_) {
    // The line is whole: what was cut off is read to its end as a text.
    if (scan<Mode::kText>(state_, names_, begin, end, nullptr) == Outcome::kValid) {
      verdict_ = ScannedLine::Verdict::kJson;
      return;
    }
    fall_back();
  }
  utf8_state_ = utf8_states::after(utf8_state_, begin + utf8_checked_, end);
  utf8_checked_ = line.size();
  verdict_ = (utf8_state_ & 63) == utf8_states::kAccept ? ScannedLine::Verdict::kNotJson
                                                        : ScannedLine::Verdict::kNotUtf8;
}

ScannedLine LineScanner::line(std::string_view line) const {
  ScannedLine scanned;
  scanned.verdict = verdict_;
  if (verdict_ != ScannedLine::Verdict::kJson) return scanned;
  for (size_t i = 0; i < names_.size(); ++i) {
    const auto [offset, length] = state_.found[i];
    if (length != ScanState::kNone) scanned.members[i] = line.substr(offset, length);
  }
  return scanned;
}

}  // namespace mcp_wire
