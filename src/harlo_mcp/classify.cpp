#include "harlo_mcp/classify.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "harlo_mcp_protocol/line_reader.h"
#include "mcp_wire/json_scan.h"
#include "mcp_wire/utf8.h"

namespace harlo_mcp {
namespace {

using harlo_mcp_protocol::ipc::kEnvelopeMembers;
using mcp_wire::ScannedLine;

// The method text: the string's contents, or "" for any other value.
std::string method_text(std::string_view raw) {
  if (raw.front() != '"') return {};
  if (raw.find('\\') == std::string_view::npos) return std::string(raw.substr(1, raw.size() - 2));
  return mcp_wire::read_json(raw)->get<std::string>();
}

// The id as read_json builds it. Strings without escapes and integers of
// up to 18 digits, the ids clients use, are built directly: the full
// reader would cost more than the rest of a small line's classification.
Json id_value(std::string_view raw) {
  if (raw.front() == '"') {
    if (raw.find('\\') == std::string_view::npos) {
      return Json(std::string(raw.substr(1, raw.size() - 2)));
    }
  } else {
    const bool negative = raw.front() == '-';
    const std::string_view digits = raw.substr(negative ? 1 : 0);
    uint64_t value = 0;
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.size() <= 18 && error == std::errc() && stop == digits.data() + digits.size()) {
      // Like the reader: a number without a minus, or -0, is unsigned.
      if (!negative || value == 0) return Json(value);
      return Json(-static_cast<int64_t>(value));
    }
  }
  return *mcp_wire::read_json(raw);
}

// The kind of a readable JSON line from its envelope members.
Incoming from_members(const std::optional<std::string_view>& method,
                      const std::optional<std::string_view>& id,
                      const std::optional<std::string_view>& error) {
  if (method && id) return Request{method_text(*method), id_value(*id)};
  if (method) return Notification{method_text(*method)};
  if (id) return Response{id_value(*id), error.has_value()};
  return Other{};
}

}  // namespace

Incoming classify(std::string_view line) {
  // A relayed line may be huge; only its envelope members are ever built.
  std::array<std::optional<std::string_view>, kEnvelopeMembers.size()> found;
  if (!mcp_wire::scan_json(line, kEnvelopeMembers, found)) return Other{};
  return from_members(found[0], found[1], found[2]);
}

std::optional<Incoming> classify_line(std::string_view line) {
  Incoming incoming = classify(line);
  if (std::holds_alternative<Other>(incoming) && !mcp_wire::is_valid_utf8(line))
    return std::nullopt;
  return incoming;
}

std::optional<Incoming> classify_line(const ScannedLine& scanned) {
  switch (scanned.verdict) {
    case ScannedLine::Verdict::kJson:
      return from_members(scanned.members[0], scanned.members[1], scanned.members[2]);
    case ScannedLine::Verdict::kNotJson:
      return Other{};
    case ScannedLine::Verdict::kNotUtf8:
      break;
  }
  return std::nullopt;
}

}  // namespace harlo_mcp
