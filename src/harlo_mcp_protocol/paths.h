// The path of the desktop app's MCP socket, computed by the same rule as the
// app itself computes it: both sides must agree byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harlo_mcp_protocol::paths {

inline constexpr std::string_view kSocketFileName = "mcp.sock";

// Longest socket path used as is; longer ones move to the temporary
// directory (a socket address holds little more than 100 bytes).
inline constexpr size_t kMaxSocketPath = 100;

// <data dir>/mcp.sock when that is at most kMaxSocketPath bytes, else
// <temporary dir>/Harlo-<uid>.sock, where <uid> is the owner of the home
// directory (not the process's user) and the temporary directory is
// $TMPDIR whenever it is set (even empty), else the one the system reports,
// else "/tmp". Nothing when the home directory is unknown or its status
// cannot be read. Reads the environment and the file system afresh on each
// call and creates nothing.
std::optional<std::string> endpoint();

}  // namespace harlo_mcp_protocol::paths
