#include "harlo_mcp/classify.h"

#include <array>

#include "mcp_wire/json_scan.h"

namespace harlo_mcp {
namespace {

constexpr std::array<std::string_view, 2> kMembers = {"method", "id"};

// The method text: the string's contents, or "" for any other value.
std::string method_text(std::string_view raw) {
  if (raw.front() != '"') return {};
  if (raw.find('\\') == std::string_view::npos) return std::string(raw.substr(1, raw.size() - 2));
  return mcp_wire::read_json(raw)->get<std::string>();
}

}  // namespace

Incoming classify(std::string_view line) {
  // A relayed line may be huge; only its two members are ever built.
  std::array<std::optional<std::string_view>, kMembers.size()> found;
  if (!mcp_wire::scan_json(line, kMembers, found)) return Other{};
  const auto& [method, id] = found;
  if (method && id) return Request{method_text(*method), *mcp_wire::read_json(*id)};
  if (method) return Notification{method_text(*method)};
  if (id) return Response{*mcp_wire::read_json(*id)};
  return Other{};
}

}  // namespace harlo_mcp
