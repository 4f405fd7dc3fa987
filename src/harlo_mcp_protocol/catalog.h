// The fixed description of the service: the server's identity and
// instructions, and the ten tools with their input schemas. The desktop app
// and the bridge describe the same service from these calls.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harlo_mcp_protocol/ipc.h"
#include "mcp_wire/initialize.h"
#include "mcp_wire/tools_list.h"

namespace harlo_mcp_protocol::catalog {

inline constexpr std::string_view kServerName = "Harlo";
inline constexpr std::string_view kServerVersion = ipc::kBridgeVersion;

// The result of "initialize": protocol version mcp_wire::kLatestProtocolVersion
// (the caller puts the agreed version in its place), capabilities with only
// an empty tools capability, server info kServerName and kServerVersion, and the
// instructions; nothing else. A fresh value on each call; touches no shared
// state.
mcp_wire::InitializeResult server_info();

// The ten tools in their fixed order, each with name, description, input
// schema and annotations. The list is new on each call; the schemas inside
// are shared, and on one thread they are the same objects every time.
// A parameter record whose schema is refused ends the process.
std::vector<mcp_wire::Tool> tools();

// The answer to "tools/list" for the given protocol version: the ten tools
// and, when the version compares at or above mcp_wire::kLatestProtocolVersion
// byte by byte, resultType "complete", ttlMs 0 and cacheScope "public".
// With no version, or an earlier one, only the tools. Never a cursor.
mcp_wire::ListToolsResult list_tools_result(std::optional<std::string> protocol_version);

}  // namespace harlo_mcp_protocol::catalog
