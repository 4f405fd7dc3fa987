// The bridge's own answers while the desktop app is not running: enough for
// an AI client to finish the MCP opening exchange and list the tools.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "harlo_mcp/classify.h"

namespace harlo_mcp::offline {

// What the offline answers remember between calls. Owned by the session;
// starts empty and lasts as long as the session.
struct OfflineMemory {
  // The version agreed at the last successful offline "initialize"; only
  // a successful "initialize" writes it, only "tools/list" reads it.
  std::optional<std::string> protocol_version;
};

// Answers the AI client's `request`, classified from `line`, if its method
// is "ping", "initialize" or "tools/list", matched byte for byte. Returns the
// compact response line, without terminator, or nothing to decline it,
// which the caller then handles itself. Declines every other method,
// "tools/call" included. Only "initialize" reads `line` again, for its
// params; the other answers need nothing but the method and the id.
//   ping        {"result":{}}
//   initialize  the server identity with the agreed protocol version, which
//               it also stores in `memory`; unreadable params give error
//               -32602 with the reader's message, a version that cannot be
//               agreed gives error -32022; neither touches `memory`
//   tools/list  the whole catalog for the version in `memory`; its params,
//               a cursor included, are ignored
// Never fails otherwise, writes nothing and touches nothing but `memory`.
std::optional<std::string> answer(const Request& request, std::string_view line,
                                  OfflineMemory& memory);

}  // namespace harlo_mcp::offline
