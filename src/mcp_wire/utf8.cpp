#include "mcp_wire/utf8.h"

#include <cstdint>
#include <cstring>

namespace mcp_wire {

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    // Fast path: eight ASCII bytes at a time.
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const int length = utf8_sequence_length(p, end);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

}  // namespace mcp_wire
