#include "mcp_wire/utf8.h"

#include <cstdint>
#include <cstring>

namespace mcp_wire {

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  // Runs of ASCII are skipped eight bytes at a time; the state machine only
  // sees the stretches from a non-ASCII byte to the next ASCII word.
  uint64_t state = utf8_states::kAccept;
  while (p != end) {
    if ((state & 63) == utf8_states::kAccept) {
      if (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & 0x8080808080808080ull) == 0) {
          p += 8;
          continue;
        }
      }
    } else if ((state & 63) == utf8_states::kReject) {
      return false;
    }
    state = utf8_states::kTable[*p++] >> (state & 63);
  }
  return (state & 63) == utf8_states::kAccept;
}

}  // namespace mcp_wire
