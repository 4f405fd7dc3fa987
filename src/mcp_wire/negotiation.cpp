#include "mcp_wire/negotiation.h"

#include <algorithm>

namespace mcp_wire {
namespace {

// std::string_view compares through char_traits<char>, which orders bytes
// as unsigned values: exactly byte order.
bool available_over_initialize(std::string_view version) { return version < kHandshakeCutoff; }

}  // namespace

NegotiationOutcome negotiate_protocol_version(std::string_view requested,
                                              std::string_view preferred,
                                              std::span<const std::string_view> supported) {
  if (available_over_initialize(requested) &&
      std::find(supported.begin(), supported.end(), requested) != supported.end()) {
    return std::string(requested);
  }
  if (available_over_initialize(preferred)) return std::string(preferred);

  const std::string_view* greatest = nullptr;
  for (const std::string_view& version : supported) {
    if (available_over_initialize(version) && (greatest == nullptr || *greatest < version)) {
      greatest = &version;
    }
  }
  if (greatest != nullptr) return std::string(*greatest);

  return ErrorData::unsupported_protocol_version(requested, supported);
}

}  // namespace mcp_wire
