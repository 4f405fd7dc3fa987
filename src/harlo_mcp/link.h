// The bridge's connection to the desktop app: connecting, the handshake,
// and the replay of the client's opening messages on a new connection.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "harlo_mcp/classify.h"
#include "harlo_mcp/clock.h"
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

  // Sends `line` and a line feed, completely, blocking for as long as the
  // app takes no bytes. Meanwhile what the app sends is read into reader()
  // (its fill() is called), to be handled afterwards in order; so views
  // that reader().next() handed out before may no longer be used. False
  // when the write fails.
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

// The client's initialize request as the session keeps it for replays: the
// line as it came, and the id it was classified with.
struct StoredInitialize {
  std::string line;
  Json id;
};

using ConnectOutcome = std::variant<Link, OfflineReason>;

// Connects to the app's socket at `socket_path`, makes sure the listener
// runs as the bridge's own user (anyone else is not the app), sends the
// handshake and judges the reply, waiting for it until `handshake_deadline`.
// Then, when `initialize` is given, replays its line and waits up to
// `replay_timeout` from then for the app's answer, which is swallowed (the
// client had its answer long ago), skipping every other line meanwhile;
// then sends `initialized_line` if given. Without `initialize`,
// `initialized_line` is not sent. Outcomes: a ready Link, or NotRunning,
// BridgeOutdated or AppOutdated. Blocks until one of these is known: at
// most until `handshake_deadline` plus `replay_timeout`, and for as long as
// a write to the app blocks. No line is lost or shown to anyone meanwhile.
ConnectOutcome connect_link(const std::optional<std::string>& socket_path,
                            const StoredInitialize* initialize, const std::string* initialized_line,
                            Clock::TimePoint handshake_deadline,
                            std::chrono::milliseconds replay_timeout, Clock& clock);

}  // namespace harlo_mcp
