#pragma once

#include <string_view>

namespace mcp_wire {

// Whether `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence at the end.
bool is_valid_utf8(std::string_view bytes);

// The length of the well-formed multi-byte sequence that starts at `p`
// (whose first byte is 0x80 or above) and ends before `end`, or 0 when
// there is none.
inline int utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
  // The allowed range of the second byte is where overlong forms,
  // surrogates and values past U+10FFFF show.
  const unsigned char lead = *p;
  int length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (end - p < length || p[1] < low || p[1] > high) return 0;
  for (int i = 2; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace mcp_wire
