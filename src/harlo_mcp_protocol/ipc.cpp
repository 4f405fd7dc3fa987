#include "harlo_mcp_protocol/ipc.h"

#include <cstdint>
#include <vector>

#include "mcp_wire/json.h"
#include "mcp_wire/utf8.h"

namespace harlo_mcp_protocol::ipc {
namespace {

std::vector<uint64_t> version_numbers(std::string_view version) {
  std::vector<uint64_t> numbers;
  for (;;) {
    const size_t dot = version.find('.');
    const std::string_view part = version.substr(0, dot);
    uint64_t number = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') break;
      const uint64_t digit = static_cast<uint64_t>(c - '0');
      if (number > (UINT64_MAX - digit) / 10) {
        number = 0;  // beyond 64 bits
        break;
      }
      number = number * 10 + digit;
    }
    numbers.push_back(number);
    if (dot == std::string_view::npos) return numbers;
    version.remove_prefix(dot + 1);
  }
}

}  // namespace

HandshakeReply judge_handshake_reply(std::string_view reply) {
  using Kind = HandshakeReply::Kind;
  if (reply.size() > kMaxHandshakeReply) return {Kind::kUnusable, {}, "handshake line too long"};
  if (!mcp_wire::is_valid_utf8(reply)) return {Kind::kUnusable, {}, "handshake is not UTF-8"};
  const auto value = mcp_wire::read_json(reply);
  if (!value) return {Kind::kUnusable, {}, "reply is not JSON"};
  if (value->is_object()) {
    if (const auto ok = value->find("ok");
        ok != value->end() && ok->is_boolean() && ok->get<bool>()) {
      return {Kind::kAccepted, {}, {}};
    }
    if (value->contains("error")) {
      HandshakeReply rejected{Kind::kRejected, {}, {}};
      if (const auto version = value->find("version");
          version != value->end() && version->is_string()) {
        rejected.version = version->get<std::string>();
      }
      return rejected;
    }
  }
  return {Kind::kUnusable, {}, "unexpected handshake reply"};
}

bool is_newer(std::string_view a, std::string_view b) {
  const std::vector<uint64_t> left = version_numbers(a);
  const std::vector<uint64_t> right = version_numbers(b);
  for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    const uint64_t x = i < left.size() ? left[i] : 0;
    const uint64_t y = i < right.size() ? right[i] : 0;
    if (x != y) return x > y;
  }
  return false;
}

}  // namespace harlo_mcp_protocol::ipc
