// The bridge's own answers while the desktop app is not running: enough for
// an AI client to finish the MCP opening exchange and list the tools.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harlo_mcp::offline {

// What the offline answers remember between calls. Owned by the session;
// starts empty and lasts as long as the session.
struct OfflineMemory {
  // The version agreed at the last successful offline "initialize"; only
  // a successful "initialize" writes it, only "tools/list" reads it.
  std::optional<std::string> protocol_version;
};

// Answers one line from the AI client if it is a request (an object with an
// "id", null included, and a string "method") for "ping", "initialize" or
// "tools/list", matched byte for byte. Returns the compact response line,
// without terminator, or nothing to decline the line, which the caller then
// handles itself. Declines everything else: unreadable lines,
// notifications, responses and every other method, "tools/call" included.
//   ping        {"result":{}}
//   initialize  the server identity with the agreed protocol version, which
//               it also stores in `memory`; unreadable params give error
//               -32602 with the reader's message, a version that cannot be
//               agreed gives error -32022; neither touches `memory`
//   tools/list  the whole catalog for the version in `memory`; its params,
//               a cursor included, are ignored
// Never fails otherwise, writes nothing and touches nothing but `memory`.
std::optional<std::string> answer(std::string_view line, OfflineMemory& memory);

}  // namespace harlo_mcp::offline
