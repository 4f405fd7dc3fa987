// The scanner's hot loops over runs of bytes. Each has a portable form,
// eight bytes at a time in a 64-bit word, and a vector form of sixteen
// bytes at a time: SSE2 on x86_64 and NEON on arm64, both part of every
// processor of their architecture, so no choice is made at run time.
// `string_stop`, `ascii_end` and `plain_string_length` are the vector form
// where one exists and the portable one elsewhere; the tests hold both
// forms to each other.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define HARLO_SCAN_VECTOR "sse2"
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#define HARLO_SCAN_VECTOR "neon"
#endif

namespace mcp_wire::kernels {

using Byte = unsigned char;

// ---- Eight bytes at a time -------------------------------------------------
//
// A word is loaded so that its lowest byte is the first one in memory, on
// any host; the first marked byte is then the lowest mark. Every test below
// is exact per byte (no carry crosses from one byte into the next), so a
// mark is never spurious.

inline constexpr uint64_t kOnes = 0x0101010101010101ull;
inline constexpr uint64_t kHighBits = 0x8080808080808080ull;
inline constexpr uint64_t kLowBits = 0x7F7F7F7F7F7F7F7Full;

inline uint64_t load_word(const Byte* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Marks, by the high bit of its bytes, the bytes of `word` that end a run
// of string contents: '"', '\\' or a control character.
constexpr uint64_t string_stops(uint64_t word) {
  const uint64_t low = word & kLowBits;
  // Each sum has the high bit of a byte set when its low seven bits are not
  // the character in question (not below 0x20, for the control test); a
  // byte with its own high bit set is none of them.
  const uint64_t not_quote = (low ^ (kOnes * '"')) + kLowBits;
  const uint64_t not_backslash = (low ^ (kOnes * '\\')) + kLowBits;
  const uint64_t not_control = low + kOnes * 0x60;
  return ~((not_quote & not_backslash & not_control) | word) & kHighBits;
}

// How many bytes of a word come before its first mark; `marks` is not 0.
// (Setting the top bit lets the compiler drop its check for 0.)
inline size_t bytes_before_first_mark(uint64_t marks) {
  return static_cast<size_t>(std::countr_zero(marks | (uint64_t{1} << 63))) / 8;
}

// The lowest mark of `marks` alone (0 when there is none).
constexpr uint64_t first_mark(uint64_t marks) { return marks & (0 - marks); }

// The first byte from `p` on that is '"', '\\' or a control character, or
// `end`. Sets `non_ascii` when a byte before it is not ASCII (and leaves it
// alone otherwise).
inline const Byte* string_stop_portable(const Byte* p, const Byte* end, bool& non_ascii) {
  uint64_t high = 0;  // the bytes of the run, or-ed together
  for (; end - p >= 8; p += 8) {
    const uint64_t word = load_word(p);
    const uint64_t stops = string_stops(word);
    if (stops != 0) {
      high |= word & (first_mark(stops) - 1);
      p += bytes_before_first_mark(stops);
      non_ascii |= (high & kHighBits) != 0;
      return p;
    }
    high |= word;
  }
  for (; p != end && *p >= 0x20 && *p != '"' && *p != '\\'; ++p) high |= *p;
  non_ascii |= (high & kHighBits) != 0;
  return p;
}

// The first byte from `p` on that is not ASCII, or `end`.
inline const Byte* ascii_end_portable(const Byte* p, const Byte* end) {
  for (; end - p >= 8; p += 8) {
    const uint64_t high = load_word(p) & kHighBits;
    if (high != 0) return p + bytes_before_first_mark(high);
  }
  while (p != end && *p < 0x80) ++p;
  return p;
}

// The length of a short string's contents, from just after its opening
// quotation mark at `p`, when its closing one comes within the next eight
// bytes with only printable ASCII before it: most names and many values.
// Otherwise -1, and the string is read run by run. Needs eight bytes
// before `end`.
inline int plain_string_length_portable(const Byte* p, const Byte* end) {
  if (end - p < 8) return -1;
  const uint64_t word = load_word(p);
  const uint64_t low = word & kLowBits;
  const uint64_t quotes = ~(((low ^ (kOnes * '"')) + kLowBits) | word) & kHighBits;
  // Backslashes, control characters and non-ASCII bytes.
  const uint64_t others =
      (~(((low ^ (kOnes * '\\')) + kLowBits) & (low + kOnes * 0x60)) | word) & kHighBits;
  // None of the others before the first quotation mark; with no quotation
  // mark at all the top bit makes the test fail.
  if (((first_mark(quotes) - 1) & (others | (uint64_t{1} << 63))) != 0) return -1;
  return static_cast<int>(bytes_before_first_mark(quotes));
}

// ---- Sixteen bytes at a time ---------------------------------------------
//
// Each vector step ends in a bit mask of the sixteen bytes, first byte
// lowest: one bit per byte from SSE2's movemask, four bits per byte from
// NEON's narrowing shift (arm64 has no movemask).

#if defined(__SSE2__)

inline const Byte* string_stop_vector(const Byte* p, const Byte* end, bool& non_ascii) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // A byte is a control character when the unsigned minimum of it and
    // 0x1F is the byte itself.
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                     _mm_cmpeq_epi8(_mm_min_epu8(bytes, last_control), bytes));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    const auto stop_mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (stop_mask != 0) {
      non_ascii |= (high & ((stop_mask & (0 - stop_mask)) - 1)) != 0;
      return p + std::countr_zero(stop_mask);
    }
    non_ascii |= high != 0;
  }
  return string_stop_portable(p, end, non_ascii);
}

inline const Byte* ascii_end_vector(const Byte* p, const Byte* end) {
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    if (high != 0) return p + std::countr_zero(high);
  }
  return ascii_end_portable(p, end);
}

// As plain_string_length_portable, within the next sixteen bytes.
inline int plain_string_length_vector(const Byte* p, const Byte* end) {
  if (end - p < 16) return plain_string_length_portable(p, end);
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto quotes =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))));
  // Compared as signed bytes, both control characters and non-ASCII bytes
  // are below a space.
  const auto others = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
      _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')), _mm_cmplt_epi8(bytes, _mm_set1_epi8(' ')))));
  if (quotes == 0 || (((quotes & (0 - quotes)) - 1) & others) != 0) return -1;
  return std::countr_zero(quotes);
}

#elif defined(__ARM_NEON)

// Four bits per byte of a comparison's result, first byte lowest.
inline uint64_t nibble_mask(uint8x16_t marks) {
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(marks), 4)), 0);
}

inline const Byte* string_stop_vector(const Byte* p, const Byte* end, bool& non_ascii) {
  const uint8x16_t quote = vdupq_n_u8('"');
  const uint8x16_t backslash = vdupq_n_u8('\\');
  const uint8x16_t space = vdupq_n_u8(0x20);
  const uint8x16_t top = vdupq_n_u8(0x80);
  for (; end - p >= 16; p += 16) {
    const uint8x16_t bytes = vld1q_u8(p);
    const uint8x16_t stops = vorrq_u8(vorrq_u8(vceqq_u8(bytes, quote), vceqq_u8(bytes, backslash)),
                                      vcltq_u8(bytes, space));
    const uint64_t stop_mask = nibble_mask(stops);
    if (stop_mask != 0) {
      const uint64_t high = nibble_mask(vcgeq_u8(bytes, top));
      non_ascii |= (high & ((stop_mask & (0 - stop_mask)) - 1)) != 0;
      return p + std::countr_zero(stop_mask) / 4;
    }
    non_ascii |= vmaxvq_u8(bytes) >= 0x80;
  }
  return string_stop_portable(p, end, non_ascii);
}

inline const Byte* ascii_end_vector(const Byte* p, const Byte* end) {
  const uint8x16_t top = vdupq_n_u8(0x80);
  for (; end - p >= 16; p += 16) {
    const uint8x16_t bytes = vld1q_u8(p);
    if (vmaxvq_u8(bytes) < 0x80) continue;
    return p + std::countr_zero(nibble_mask(vcgeq_u8(bytes, top))) / 4;
  }
  return ascii_end_portable(p, end);
}

// As plain_string_length_portable, within the next sixteen bytes.
inline int plain_string_length_vector(const Byte* p, const Byte* end) {
  if (end - p < 16) return plain_string_length_portable(p, end);
  const uint8x16_t bytes = vld1q_u8(p);
  const uint64_t quotes = nibble_mask(vceqq_u8(bytes, vdupq_n_u8('"')));
  // Compared as signed bytes, both control characters and non-ASCII bytes
  // are below a space.
  const uint64_t others = nibble_mask(vorrq_u8(
      vceqq_u8(bytes, vdupq_n_u8('\\')), vcltq_s8(vreinterpretq_s8_u8(bytes), vdupq_n_s8(' '))));
  if (quotes == 0 || (((quotes & (0 - quotes)) - 1) & others) != 0) return -1;
  return std::countr_zero(quotes) / 4;
}

#endif

#if defined(HARLO_SCAN_VECTOR)
inline const Byte* string_stop(const Byte* p, const Byte* end, bool& non_ascii) {
  return string_stop_vector(p, end, non_ascii);
}
inline const Byte* ascii_end(const Byte* p, const Byte* end) { return ascii_end_vector(p, end); }
inline int plain_string_length(const Byte* p, const Byte* end) {
  return plain_string_length_vector(p, end);
}
#else
inline const Byte* string_stop(const Byte* p, const Byte* end, bool& non_ascii) {
  return string_stop_portable(p, end, non_ascii);
}
inline const Byte* ascii_end(const Byte* p, const Byte* end) { return ascii_end_portable(p, end); }
inline int plain_string_length(const Byte* p, const Byte* end) {
  return plain_string_length_portable(p, end);
}
#endif

}  // namespace mcp_wire::kernels
