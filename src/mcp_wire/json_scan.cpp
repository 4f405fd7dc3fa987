#include "mcp_wire/json_scan.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mcp_wire/json.h"
#include "mcp_wire/utf8.h"

namespace mcp_wire {
namespace {

// ---- Eight bytes at a time ---------------------------------------------------
//
// A word is loaded so that its lowest byte is the first one in memory, on
// any host; the first marked byte is then the lowest mark. Every test below
// is exact per byte (no carry crosses from one byte into the next), so a
// mark is never spurious.

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kLowBits = 0x7F7F7F7F7F7F7F7Full;

uint64_t load_word(const unsigned char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= ((word >> (8 * i)) & 0xFF) << (8 * (7 - i));
    word = swapped;
  }
  return word;
}

// The bytes of a word that matter inside a string, each set marked by the
// high bit of its bytes.
struct StringMarks {
  uint64_t stops;   // '"', '\\' or a control character: the end of a run
  uint64_t quotes;  // '"' only
};

constexpr StringMarks string_marks(uint64_t word) {
  const uint64_t low = word & kLowBits;
  // Each sum has the high bit of a byte set when its low seven bits are not
  // the character in question (not below 0x20, for the control test); a
  // byte with its own high bit set is none of them.
  const uint64_t not_quote = (low ^ (kOnes * '"')) + kLowBits;
  const uint64_t not_backslash = (low ^ (kOnes * '\\')) + kLowBits;
  const uint64_t not_control = low + kOnes * 0x60;
  return {~((not_quote & not_backslash & not_control) | word) & kHighBits,
          ~(not_quote | word) & kHighBits};
}

// Marks the bytes of `word` that are not ASCII digits.
constexpr uint64_t non_digits(uint64_t word) {
  // A digit is a byte whose value minus '0' (here: xor, exact for 0x30 to
  // 0x3F) is below ten; the sum sets the high bit from ten on.
  const uint64_t offset = word ^ (kOnes * '0');
  return (((offset & kLowBits) + kOnes * (0x80 - 10)) | offset) & kHighBits;
}

// How many bytes of a word come before its first mark; `marks` is not 0.
// (Setting the top bit lets the compiler drop its check for 0.)
size_t bytes_before_first_mark(uint64_t marks) {
  return static_cast<size_t>(std::countr_zero(marks | (uint64_t{1} << 63))) / 8;
}

// The lowest mark of `marks` alone (0 when there is none).
constexpr uint64_t first_mark(uint64_t marks) { return marks & (0 - marks); }

// ---- Tokens --------------------------------------------------------------------
//
// Each reader takes the position of its token and returns the position just
// behind it, or nullptr when the text is not valid there. None reads at or
// beyond `end`. The common forms of each token are handled by a short
// inline path, the rest by a full reader out of line.

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool is_whitespace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

const unsigned char* skip_whitespace(const unsigned char* p, const unsigned char* end) {
  while (p != end && is_whitespace(*p)) ++p;
  return p;
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at `p`, or -1.
int hex4(const unsigned char* p, const unsigned char* end) {
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
const unsigned char* escape(const unsigned char* p, const unsigned char* end) {
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

// Whether a run of string contents that has non-ASCII bytes is UTF-8. The
// state machine starts at the first word that is not all ASCII.
bool is_valid_utf8_run(const unsigned char* p, const unsigned char* end) {
  while (end - p >= 8 && (load_word(p) & kHighBits) == 0) p += 8;
  return is_valid_utf8(p, end);
}

// A string's contents from just after its opening quotation mark. They are
// skipped eight bytes at a time up to the next quotation mark, backslash
// or control character, non-ASCII bytes included; a run that had any
// non-ASCII byte is then checked as UTF-8 as a whole. A multi-byte
// sequence cannot span two runs: the bytes that end a run are ASCII.
const unsigned char* string_full(const unsigned char* p, const unsigned char* end) {
  const unsigned char* run = p;
  uint64_t high = 0;  // the high bits of the run's bytes, or-ed together
  for (;;) {
    if (end - p >= 8) {
      const uint64_t word = load_word(p);
      const uint64_t stops = string_marks(word).stops;
      if (stops == 0) {
        high |= word;
        p += 8;
        continue;
      }
      // Only the bytes before the first stop belong to the run.
      high |= word & (first_mark(stops) - 1);
      p += bytes_before_first_mark(stops);
    } else {
      // The last few bytes of the text, one at a time (non-ASCII bytes are
      // above 0x20 too).
      while (p != end && *p >= 0x20 && *p != '"' && *p != '\\') high |= *p++;
      if (p == end) return nullptr;
    }
    if ((high & kHighBits) != 0 && !is_valid_utf8_run(run, p)) return nullptr;
    if (*p == '"') return p + 1;
    if (*p != '\\') return nullptr;  // a control character
    p = escape(p, end);
    if (p == nullptr) return nullptr;
    run = p;
    high = 0;
  }
}

// The same; inline for the common case of a string that ends within its
// first eight bytes and is plain ASCII up to there.
inline const unsigned char* string_body(const unsigned char* p, const unsigned char* end) {
  if (end - p >= 8) {
    const uint64_t word = load_word(p);
    const uint64_t low = word & kLowBits;
    const uint64_t quotes = ~(((low ^ (kOnes * '"')) + kLowBits) | word) & kHighBits;
    // Backslashes, control characters and non-ASCII bytes.
    const uint64_t others =
        (~(((low ^ (kOnes * '\\')) + kLowBits) & (low + kOnes * 0x60)) | word) & kHighBits;
    const uint64_t first_quote = first_mark(quotes);
    // None of the others before the first quotation mark; with no quotation
    // mark at all the top bit makes the test fail.
    if (((first_quote - 1) & (others | (uint64_t{1} << 63))) == 0) {
      return p + bytes_before_first_mark(quotes) + 1;
    }
  }
  return string_full(p, end);
}

// Digits from `p` on, eight at a time while the text has eight left.
inline const unsigned char* skip_digits(const unsigned char* p, const unsigned char* end) {
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
bool number_fits(const unsigned char* p, const unsigned char* end) {
  const unsigned char* const start = p;
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
const unsigned char* number_exponent(const unsigned char* start, const unsigned char* p,
                                     const unsigned char* end, int64_t integer_digits) {
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
inline const unsigned char* number(const unsigned char* p, const unsigned char* end) {
  const unsigned char* const start = p;
  const unsigned char* const digits = p + (*p == '-');
  p = skip_digits(digits, end);
  // The count of integer digits bounds the order of the value (a lone
  // leading zero counts too, which only loosens the bound by one).
  const int64_t integer_digits = p - digits;
  if (integer_digits == 0 || (*digits == '0' && integer_digits > 1)) return nullptr;
  if (p != end && *p == '.') {
    const unsigned char* const fraction = ++p;
    p = skip_digits(p, end);
    if (p == fraction) return nullptr;
  }
  if (p != end && (*p | 0x20) == 'e') return number_exponent(start, p, end, integer_digits);
  if (integer_digits <= 308) return p;
  return number_fits(start, p) ? p : nullptr;
}

// A literal from its first letter.
inline const unsigned char* literal(const unsigned char* p, const unsigned char* end,
                                    std::string_view word) {
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

}  // namespace

bool scan_json(std::string_view text, std::span<const std::string_view> names,
               std::span<std::optional<std::string_view>> found) {
  for (auto& value : found) value.reset();
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = begin + text.size();
  const auto view_from = [&text, begin](const unsigned char* from, const unsigned char* to) {
    return text.substr(static_cast<size_t>(from - begin), static_cast<size_t>(to - from));
  };

  // Whether each open container is an object; the depth is its size.
  bool is_object[kMaxNesting];
  int depth = 0;
  // The top-level member whose value is being read, and where it began.
  int member = -1;
  const unsigned char* member_start = nullptr;
  const unsigned char* name_start;
  const unsigned char* p = skip_whitespace(begin, end);

  // Each state of the scanner is a label. Values inside objects and inside
  // arrays have states of their own, so that what follows a value is known
  // without a look at the stack, and each kind of place has branches of its
  // own for the processor to predict. Whitespace is looked for only where
  // the expected character is not found, as compact lines have none.

// One value, from its first character at `p` (not at `end`); goes on at
// `next` behind it.
#define SCAN_VALUE(next)                                               \
  if (*p == '"') {                                                     \
    p = string_body(p + 1, end);                                       \
  } else if (static_cast<unsigned char>(*p - '0') < 10 || *p == '-') { \
    p = number(p, end);                                                \
  } else if (*p == '{') {                                              \
    goto open_object;                                                  \
  } else if (*p == '[') {                                              \
    goto open_array;                                                   \
  } else if (*p == 't') {                                              \
    p = literal(p, end, "true");                                       \
  } else if (*p == 'f') {                                              \
    p = literal(p, end, "false");                                      \
  } else if (*p == 'n') {                                              \
    p = literal(p, end, "null");                                       \
  } else {                                                             \
    return false;                                                      \
  }                                                                    \
  if (p == nullptr) return false;                                      \
  goto next

  if (p == end) return false;
  SCAN_VALUE(done);

open_object:
  if (depth == kMaxNesting) return false;
  is_object[depth++] = true;
  ++p;
  if (p != end && *p == '"') goto member_name;
  p = skip_whitespace(p, end);
  if (p != end && *p == '}') {
    ++p;
    goto closed;
  }
  goto member_name;

open_array:
  if (depth == kMaxNesting) return false;
  is_object[depth++] = false;
  ++p;
  if (p == end) return false;
  if (*p > ' ' && *p != ']') goto array_element;
  p = skip_whitespace(p, end);
  if (p != end && *p == ']') {
    ++p;
    goto closed;
  }
  goto array_value;

closed:  // a container has just ended, at `p`
  --depth;
  if (depth == 0) goto done;
  if (is_object[depth - 1]) goto object_next;
  goto array_next;

member_name:
  if (p == end || *p != '"') {
    p = skip_whitespace(p, end);
    if (p == end || *p != '"') return false;
  }
  name_start = p;
  p = string_body(p + 1, end);
  if (p == nullptr) return false;
  if (depth == 1) {
    // A top-level member: its name and where its value starts matter.
    member = match_name(view_from(name_start, p), names);
    p = skip_whitespace(p, end);
    if (p == end || *p != ':') return false;
    p = skip_whitespace(p + 1, end);
    if (p == end) return false;
    member_start = p;
    goto member_value;
  }
  if (p == end || *p != ':') {
    p = skip_whitespace(p, end);
    if (p == end || *p != ':') return false;
  }
  ++p;
  if (p == end || *p <= ' ') {
    p = skip_whitespace(p, end);
    if (p == end) return false;
  }
member_value:
  SCAN_VALUE(object_next);

object_next:  // a member's value has just ended, at `p`
  if (member >= 0 && depth == 1) {
    found[static_cast<size_t>(member)] = view_from(member_start, p);
    member = -1;
  }
  if (p == end || (*p != ',' && *p != '}')) {
    p = skip_whitespace(p, end);
    if (p == end) return false;
  }
  if (*p == ',') {
    ++p;
    goto member_name;
  }
  if (*p != '}') return false;
  ++p;
  goto closed;

array_value:
  if (p == end || *p <= ' ') {
    p = skip_whitespace(p, end);
    if (p == end) return false;
  }
array_element:
  SCAN_VALUE(array_next);

array_next:  // an element has just ended, at `p`
  if (p == end || (*p != ',' && *p != ']')) {
    p = skip_whitespace(p, end);
    if (p == end) return false;
  }
  if (*p == ',') {
    ++p;
    goto array_value;
  }
  if (*p != ']') return false;
  ++p;
  goto closed;

#undef SCAN_VALUE

done:
  return skip_whitespace(p, end) == end;
}

}  // namespace mcp_wire
