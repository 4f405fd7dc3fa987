// The link between a bridge and the desktop app: the one-line handshake
// that opens every connection, and the version comparison both sides use.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harlo_mcp_protocol::ipc {

// The bridge's version, sent in the handshake and given as the server's
// version. HARLO_MCP_VERSION is the project's version in CMakeLists.txt, the
// one place it is written.
inline constexpr std::string_view kBridgeVersion = HARLO_MCP_VERSION;

// The bridge's first line on every connection, with its line feed.
inline constexpr std::string_view kHandshakeLine = "{\"harlo\":\"" HARLO_MCP_VERSION "\"}\n";

// The longest handshake reply the bridge reads, not counting its line feed.
inline constexpr size_t kMaxHandshakeReply = 512;

// The app's answer to the handshake.
struct HandshakeReply {
  enum class Kind {
    kAccepted,  // an object whose "ok" is true
    kRejected,  // otherwise an object with an "error" member
    kUnusable,  // anything else
  };
  Kind kind = Kind::kUnusable;
  // The app's version when a rejection names one as a string.
  std::optional<std::string> version;
  // Why an unusable reply is unusable; never shown to anyone.
  std::string_view problem;
};

// Judges the bytes of a complete reply line (without its line feed). A CR
// before the line feed is JSON whitespace and does no harm.
HandshakeReply judge_handshake_reply(std::string_view reply);

// Whether version `a` is newer than `b`: both are split at "." into
// numbers (the leading ASCII digits of each part; none, or a value beyond
// 64 bits, reads as 0), compared position by position with missing
// positions read as 0.
bool is_newer(std::string_view a, std::string_view b);

}  // namespace harlo_mcp_protocol::ipc
