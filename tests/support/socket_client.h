// One connection to a Unix domain stream socket, for tests that talk to the
// stand-in app themselves instead of through the bridge.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/stream.h"

namespace harlo_test {

class SocketClient {
 public:
  // Connects to the socket at `path`. On failure returns nothing and, when
  // `error` is given, says why there.
  static std::optional<SocketClient> connect(const std::string& path, std::string* error = nullptr);

  // Writes `data` exactly as given (add the LF yourself, or use
  // send_line). False on a write error or when the deadline passes.
  bool send(std::string_view data, Deadline deadline = deadline_after());
  // Writes `line` and one LF.
  bool send_line(std::string_view line, Deadline deadline = deadline_after());

  // The next line without its LF (a CR before it is kept). Nothing when the
  // deadline passes or the peer closed before a complete line; ended()
  // tells the two apart.
  std::optional<std::string> read_line(Deadline deadline = deadline_after());
  bool ended() const { return inbox_.ended(); }
  // Everything not yet taken, once the peer has closed; nothing when the
  // deadline passes first.
  std::optional<std::string> read_until_eof(Deadline deadline = deadline_after());

  // Shuts down both directions and closes the socket.
  void close();

 private:
  SocketClient(Fd writer, Fd reader) : writer_(std::move(writer)), inbox_(std::move(reader)) {}

  // Two descriptors for one socket: the Inbox owns the reading one.
  Fd writer_;
  Inbox inbox_;
};

}  // namespace harlo_test
