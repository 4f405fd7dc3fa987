// JSON-RPC responses that the bridge writes itself, and their error object.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mcp_wire/json.h"

namespace mcp_wire {

// The only error codes the bridge produces.
inline constexpr int32_t kUserFacingError = -32000;  // the session's error replies
inline constexpr int32_t kUnsupportedProtocolVersion = -32022;
inline constexpr int32_t kInvalidParams = -32602;  // unreadable initialize params
inline constexpr int32_t kInternalError = -32603;  // a result that cannot be written

// A JSON-RPC error object: {"code":…,"message":…[,"data":…]}. Without data
// there is no "data" member at all, never "data":null.
struct ErrorData {
  int32_t code = 0;
  std::string message;
  std::optional<Json> data;

  // The refusal of an initialize request whose protocol version cannot be
  // agreed: code kUnsupportedProtocolVersion, "Unsupported protocol version",
  // data {"requested":<requested>,"supported":[<supported, in order>]}.
  static ErrorData unsupported_protocol_version(std::string_view requested,
                                                std::span<const std::string_view> supported);

  Json to_json() const;
};

// {"jsonrpc":"2.0","id":<id>,"result":<result>}, members in this order.
Json success_response(const Json& id, Json result);

// {"jsonrpc":"2.0","id":<id>,"error":<error>}, members in this order.
Json error_response(const Json& id, const ErrorData& error);

}  // namespace mcp_wire
