// The bridge's connection to the desktop app: connecting, the handshake,
// and the replay of the client's opening messages on a new connection.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "harlo_mcp/error_reply.h"
#include "harlo_mcp/pending_ids.h"
#include "harlo_mcp_protocol/line_reader.h"
#include "platform/unique_fd.h"

namespace harlo_mcp {

// One connection to the app: the socket, its line reader, and the ids of
// the requests forwarded on it that the app has not answered yet. Dropping
// the Link closes the socket.
class Link {
 public:
  explicit Link(harlo_platform::UniqueFd socket);
  Link(Link&&) = default;
  Link& operator=(Link&&) = default;

  int fd() const { return socket_.get(); }
  harlo_mcp_protocol::ipc::LineReader& reader() { return reader_; }
  PendingIds& pending() { return pending_; }

  // Sends `line` and a line feed, completely. While the app is not taking
  // bytes, what it sends is buffered in reader(), to be handled afterwards
  // in order. False when the write fails.
  bool send_line(std::string_view line);
  // Sends `lines` as send_line does, sharing writes; returns how many were
  // sent completely: all of them, or fewer when a write failed.
  size_t send_lines(std::span<const std::string_view> lines);

 private:
  harlo_platform::UniqueFd socket_;
  harlo_mcp_protocol::ipc::LineReader reader_;
  PendingIds pending_;
};

// How long connect_link waits for the app.
struct LinkTimeouts {
  // For the handshake reply: an app that accepts and never answers must
  // not hang the client. Expiry counts as not running.
  std::chrono::milliseconds handshake{10'000};
  // For the answer to a replayed initialize, from when it was sent.
  std::chrono::milliseconds replay{10'000};
};

using ConnectOutcome = std::variant<Link, OfflineReason>;

// Connects to the app's socket at `socket_path`, makes sure the listener
// runs as the bridge's own user (anyone else is not the app), sends the
// handshake and judges the reply. Then, when `initialize_line` is given, replays it and
// waits for the app's answer, which is swallowed (the client had its answer
// long ago), skipping every other line meanwhile; then sends
// `initialized_line` if given. Without `initialize_line`, `initialized_line`
// is not sent. Outcomes: a ready Link, or NotRunning, BridgeOutdated or
// AppOutdated. Blocks until one of these is known; no line is lost or
// shown to anyone while it runs.
ConnectOutcome connect_link(const std::optional<std::string>& socket_path,
                            const std::string* initialize_line, const std::string* initialized_line,
                            const LinkTimeouts& timeouts);

}  // namespace harlo_mcp
