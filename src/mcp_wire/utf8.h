#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace mcp_wire {

// Whether `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence at the end.
bool is_valid_utf8(std::string_view bytes);

// A UTF-8 checker as a state machine whose states are bit offsets: the
// table entry of a byte holds, at the offset of each state, the offset of
// the state that the byte leads to. One step is a load and a shift, with
// no branch, however the bytes are mixed. The reject state is offset 0 and
// every byte keeps it there.
namespace utf8_states {
inline constexpr int kReject = 0;
inline constexpr int kAccept = 6;
inline constexpr int kNeedOne = 12;    // one more continuation byte
inline constexpr int kNeedTwo = 18;    // two more
inline constexpr int kNeedThree = 24;  // three more
// After a lead byte that narrows the range of the next byte: E0 (no
// overlong form), ED (no surrogate), F0 (no overlong form), F4 (nothing
// above U+10FFFF).
inline constexpr int kAfterE0 = 30;
inline constexpr int kAfterED = 36;
inline constexpr int kAfterF0 = 42;
inline constexpr int kAfterF4 = 48;

constexpr std::array<uint64_t, 256> make_table() {
  std::array<uint64_t, 256> table{};
  const auto on = [&table](int first, int last, int from, int to) {
    for (int byte = first; byte <= last; ++byte) {
      table[static_cast<size_t>(byte)] |= static_cast<uint64_t>(to) << from;
    }
  };
  on(0x00, 0x7F, kAccept, kAccept);
  on(0xC2, 0xDF, kAccept, kNeedOne);
  on(0xE0, 0xE0, kAccept, kAfterE0);
  on(0xE1, 0xEC, kAccept, kNeedTwo);
  on(0xED, 0xED, kAccept, kAfterED);
  on(0xEE, 0xEF, kAccept, kNeedTwo);
  on(0xF0, 0xF0, kAccept, kAfterF0);
  on(0xF1, 0xF3, kAccept, kNeedThree);
  on(0xF4, 0xF4, kAccept, kAfterF4);
  on(0x80, 0xBF, kNeedOne, kAccept);
  on(0x80, 0xBF, kNeedTwo, kNeedOne);
  on(0x80, 0xBF, kNeedThree, kNeedTwo);
  on(0xA0, 0xBF, kAfterE0, kNeedOne);
  on(0x80, 0x9F, kAfterED, kNeedOne);
  on(0x90, 0xBF, kAfterF0, kNeedTwo);
  on(0x80, 0x8F, kAfterF4, kNeedTwo);
  return table;
}

inline constexpr std::array<uint64_t, 256> kTable = make_table();

// The state after the bytes from `p` up to `end`, from `state`; runs of
// ASCII in the accept state are skipped a vector at a time. Only the low
// six bits of a state are the state; the rest is ignored.
uint64_t after(uint64_t state, const unsigned char* p, const unsigned char* end);

// The same, one step per byte with no branch on the bytes: for short
// stretches that mix ASCII and other characters, where each switch between
// skipping ASCII and stepping would cost a mispredicted branch.
inline uint64_t after_each(uint64_t state, const unsigned char* p, const unsigned char* end) {
  for (; p != end; ++p) state = kTable[*p] >> (state & 63);
  return state;
}
}  // namespace utf8_states

}  // namespace mcp_wire
