// The bridge's own answers to requests that the app cannot take, and the
// one-sentence texts that tell the user what to do.
#pragma once

#include <string>
#include <string_view>

#include "mcp_wire/json.h"

namespace harlo_mcp {

// Why a request could not be passed to the desktop app.
enum class OfflineReason {
  NotRunning,      // socket unreachable or the connection could not be set up
  BridgeOutdated,  // the app refused the handshake and is newer than the bridge
  AppOutdated,     // the app refused the handshake and is not newer
  Disabled,        // MCP is switched off in the app's preferences
  LaunchFailed,    // the app could not be started or did not come up in time
};

// The user-facing text for each reason.
std::string_view message_for(OfflineReason reason);

// Sent for every request still pending when the link to the app breaks.
inline constexpr std::string_view kClosedConnectionMessage =
    "Harlo closed the connection (MCP was turned off or Harlo quit). Try again.";

// {"jsonrpc":"2.0","id":<id>,"error":{"code":-32000,"message":<message>}}
// as one compact line without terminator.
std::string error_reply(const mcp_wire::Json& id, std::string_view message);

}  // namespace harlo_mcp
