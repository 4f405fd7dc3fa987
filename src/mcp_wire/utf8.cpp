#include "mcp_wire/utf8.h"

#include <cstdint>

#include "mcp_wire/scan_kernels.h"

namespace mcp_wire {

uint64_t utf8_states::after(uint64_t state, const unsigned char* p, const unsigned char* end) {
  while (p != end) {
    if ((state & 63) == kAccept) {
      p = kernels::ascii_end(p, end);
      if (p == end) break;
    } else if ((state & 63) == kReject) {
      break;
    }
    state = kTable[*p++] >> (state & 63);
  }
  return state;
}

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return (utf8_states::after(utf8_states::kAccept, p, p + bytes.size()) & 63) ==
         utf8_states::kAccept;
}

}  // namespace mcp_wire
