// A desktop app played by the test itself, byte for byte, for the faults
// the stand-in app cannot produce: lines cut at any byte, bytes that are
// not UTF-8, a close in the middle of a line, very long lines, and an app
// that writes a whole answer before it reads again.
//
// Nothing happens on a thread of its own: the test calls accept(), read
// and write itself (usually from a thread it starts for the app's side),
// and every wait takes a Deadline.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/stream.h"

namespace harlo_test {

// One connection accepted by a RawApp, past the handshake. It reads only
// when asked to, so the test decides when the app takes the bridge's bytes.
class RawConnection {
 public:
  RawConnection(RawConnection&&) = default;
  RawConnection& operator=(RawConnection&&) = default;

  // The next line the bridge sent, without its LF (a CR before it is
  // kept). Nothing when the deadline passes or the bridge closed first;
  // ended() tells the two apart.
  std::optional<std::string> read_line(Deadline deadline = deadline_after());

  // Waits until the bridge has sent bytes that no read_line took yet,
  // without reading them: the bridge's send stays as stuck as it was.
  // False when the deadline passes first; true also when the bridge closed
  // (the next read tells).
  bool wait_for_bytes(Deadline deadline = deadline_after());

  // Waits until the bridge closes its end, reading and keeping whatever
  // comes before. False when the deadline passes first.
  bool wait_for_end(Deadline deadline = deadline_after());
  bool ended() const { return inbox_.ended(); }

  // Writes `bytes` exactly as given, reading nothing meanwhile, as an app
  // does that writes a whole answer before it reads again. False on a
  // write error (the bridge is gone) or when the deadline passes first.
  bool write(std::string_view bytes, Deadline deadline = deadline_after());

  // Closes the connection; the bridge reads the end of the stream.
  void close();

 private:
  friend class RawApp;
  RawConnection(Fd writer, Fd reader) : writer_(std::move(writer)), inbox_(std::move(reader)) {}

  // Two descriptors for one socket: the Inbox owns the reading one.
  Fd writer_;
  Inbox inbox_;
};

class RawApp {
 public:
  // Listens at `socket_path`, creating its directory as needed and
  // replacing a socket file left there. On failure returns nothing and,
  // when `error` is given, says why there.
  static std::optional<RawApp> listen(const std::string& socket_path, std::string* error = nullptr);

  RawApp(RawApp&& other) noexcept = default;
  RawApp& operator=(RawApp&& other) noexcept = default;
  // Stops listening.
  ~RawApp() { stop_listening(); }

  // Accepts the next connection, reads the bridge's first line and, when it
  // is `expected_handshake`, answers {"ok":true} and returns the connection.
  // Nothing when the deadline passes, the bridge hangs up first, or the
  // line is another one (then `error`, when given, holds it).
  std::optional<RawConnection> accept(std::string_view expected_handshake,
                                      Deadline deadline = deadline_after(),
                                      std::string* error = nullptr);

  // Closes the listening socket and removes the socket file, so that a
  // bridge trying to connect finds the app not running. Connections
  // already accepted stay open.
  void stop_listening();

 private:
  RawApp(Fd listener, std::string socket_path)
      : listener_(std::move(listener)), socket_path_(std::move(socket_path)) {}

  Fd listener_;
  std::string socket_path_;
};

}  // namespace harlo_test
