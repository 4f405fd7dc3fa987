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

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Marks (high bit set) the bytes of `word` that are zero; the lowest mark
// is always exact, marks above it may be spurious.
constexpr uint64_t zero_bytes(uint64_t word) { return (word - kOnes) & ~word & kHighBits; }

// Marks the bytes of `word` that end a plain run inside a string: a
// quotation mark, a backslash, a control character or a byte of a
// multi-byte UTF-8 sequence. The first marked byte in memory is exact.
constexpr uint64_t attention_bytes(uint64_t word) {
  return zero_bytes(word ^ (kOnes * '"')) | zero_bytes(word ^ (kOnes * '\\')) |
         ((word - kOnes * 0x20) & ~word & kHighBits) | (word & kHighBits);
}

// How many bytes of `word`, in memory order, come before its first mark.
int bytes_before_first_mark(uint64_t marks) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::countr_zero(marks) / 8;
  } else {
    return std::countl_zero(marks) / 8;
  }
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

class Scanner {
 public:
  explicit Scanner(std::string_view text)
      : p_(reinterpret_cast<const unsigned char*>(text.data())), end_(p_ + text.size()) {}

  const unsigned char* position() const { return p_; }
  bool at_end() const { return p_ == end_; }
  unsigned char peek() const { return *p_; }
  void advance() { ++p_; }

  void skip_whitespace() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  // A string from its opening quotation mark; notes whether it has escapes.
  bool string(bool* escaped) {
    ++p_;
    for (;;) {
      // Plain bytes are skipped eight at a time, up to the first one that
      // needs a look.
      if (end_ - p_ >= 8) {
        uint64_t word;
        std::memcpy(&word, p_, sizeof word);
        const uint64_t marks = attention_bytes(word);
        if (marks == 0) {
          p_ += 8;
          continue;
        }
        p_ += bytes_before_first_mark(marks);
      } else if (p_ == end_) {
        return false;
      }
      const unsigned char c = *p_;
      if (c == '"') {
        ++p_;
        return true;
      }
      if (c == '\\') {
        *escaped = true;
        if (!escape()) return false;
      } else if (c < 0x20) {
        return false;
      } else if (c < 0x80) {
        ++p_;
      } else if (!utf8_sequence()) {
        return false;
      }
    }
  }

  // A number from its first character, which is '-' or a digit.
  bool number() {
    const unsigned char* const start = p_;
    if (*p_ == '-') ++p_;
    if (p_ == end_) return false;
    // The decimal order of the first significant digit, for the check
    // below: the count of integer digits, or minus the count of zeros
    // after the point before a non-zero fraction digit.
    long order = 0;
    bool nonzero = false;
    if (*p_ == '0') {
      ++p_;
    } else if (is_digit(*p_)) {
      nonzero = true;
      while (p_ != end_ && is_digit(*p_)) {
        ++p_;
        ++order;
      }
    } else {
      return false;
    }
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      if (p_ == end_ || !is_digit(*p_)) return false;
      while (p_ != end_ && is_digit(*p_)) {
        if (!nonzero) {
          if (*p_ != '0') {
            nonzero = true;
          } else {
            --order;
          }
        }
        ++p_;
      }
    }
    long exponent = 0;
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      bool negative = false;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) negative = *p_++ == '-';
      if (p_ == end_ || !is_digit(*p_)) return false;
      while (p_ != end_ && is_digit(*p_)) {
        if (exponent < 100'000) exponent = exponent * 10 + (*p_ - '0');
        ++p_;
      }
      if (negative) exponent = -exponent;
    }
    // The value is below 10^(order + exponent): up to 10^308 it fits a
    // double for sure, from 10^310 on it cannot; in between, convert it
    // as the reader does. Zero and underflow always fit.
    if (!nonzero || order + exponent <= 308) return true;
    if (order + exponent >= 310) return false;
    const std::string token(start, p_);
    return std::isfinite(std::strtod(token.c_str(), nullptr));
  }

  bool literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
      return false;
    }
    p_ += word.size();
    return true;
  }

 private:
  // An escape from its backslash. A \u escape of a high surrogate must be
  // followed by one of a low surrogate; a lone low surrogate is invalid.
  bool escape() {
    ++p_;
    if (p_ == end_) return false;
    switch (*p_++) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't':
        return true;
      case 'u': {
        const int unit = hex4();
        if (unit < 0) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit < 0xD800 || unit > 0xDBFF) return true;
        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
        p_ += 2;
        const int low = hex4();
        return low >= 0xDC00 && low <= 0xDFFF;
      }
      default:
        return false;
    }
  }

  int hex4() {
    if (end_ - p_ < 4) return -1;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(p_[i]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    p_ += 4;
    return value;
  }

  // One well-formed multi-byte UTF-8 sequence from its lead byte.
  bool utf8_sequence() {
    const int length = utf8_sequence_length(p_, end_);
    p_ += length;
    return length != 0;
  }

  const unsigned char* p_;
  const unsigned char* const end_;
};

// Which of `names` the member name `raw` (with its quotation marks) is.
int match_name(std::string_view raw, bool escaped, std::span<const std::string_view> names) {
  std::string decoded;
  std::string_view name = raw.substr(1, raw.size() - 2);
  if (escaped) {
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
  Scanner in(text);
  const auto view_from = [&text](const unsigned char* from, const unsigned char* to) {
    return text.substr(
        static_cast<size_t>(from - reinterpret_cast<const unsigned char*>(text.data())),
        static_cast<size_t>(to - from));
  };

  // Whether each open container is an object; the depth is its size.
  bool is_object[kMaxNesting];
  int depth = 0;
  // The top-level member whose value is being read, and where it began.
  int member = -1;
  const unsigned char* member_start = nullptr;

  enum class Want { kValue, kMemberName, kAfterValue } want = Want::kValue;
  for (;;) {
    // After a value, its end is noted before the whitespace behind it.
    if (want != Want::kAfterValue) in.skip_whitespace();
    switch (want) {
      case Want::kValue: {
        if (in.at_end()) return false;
        switch (in.peek()) {
          case '{':
          case '[': {
            if (depth == kMaxNesting) return false;
            const bool object = in.peek() == '{';
            is_object[depth++] = object;
            in.advance();
            in.skip_whitespace();
            if (!in.at_end() && in.peek() == (object ? '}' : ']')) {
              in.advance();
              --depth;
              want = Want::kAfterValue;
            } else {
              want = object ? Want::kMemberName : Want::kValue;
            }
            continue;
          }
          case '"': {
            bool escaped = false;
            if (!in.string(&escaped)) return false;
            break;
          }
          case 't':
            if (!in.literal("true")) return false;
            break;
          case 'f':
            if (!in.literal("false")) return false;
            break;
          case 'n':
            if (!in.literal("null")) return false;
            break;
          default:
            if (in.peek() != '-' && !is_digit(in.peek())) return false;
            if (!in.number()) return false;
            break;
        }
        want = Want::kAfterValue;
        continue;
      }

      case Want::kMemberName: {
        if (in.at_end() || in.peek() != '"') return false;
        const unsigned char* const name_start = in.position();
        bool escaped = false;
        if (!in.string(&escaped)) return false;
        const unsigned char* const name_end = in.position();
        in.skip_whitespace();
        if (in.at_end() || in.peek() != ':') return false;
        in.advance();
        if (depth == 1) {
          member = match_name(view_from(name_start, name_end), escaped, names);
          in.skip_whitespace();
          member_start = in.position();
        }
        want = Want::kValue;
        continue;
      }

      case Want::kAfterValue: {
        if (depth == 1 && member >= 0) {
          found[static_cast<size_t>(member)] = view_from(member_start, in.position());
          member = -1;
        }
        in.skip_whitespace();
        if (depth == 0) return in.at_end();
        if (in.at_end()) return false;
        const unsigned char c = in.peek();
        in.advance();
        if (c == ',') {
          want = is_object[depth - 1] ? Want::kMemberName : Want::kValue;
        } else if (c == (is_object[depth - 1] ? '}' : ']')) {
          --depth;
          want = Want::kAfterValue;
        } else {
          return false;
        }
        continue;
      }
    }
  }
}

}  // namespace mcp_wire
