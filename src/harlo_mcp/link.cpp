#include "harlo_mcp/link.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "harlo_mcp/write_line.h"
#include "harlo_mcp_protocol/ipc.h"
#include "mcp_wire/json.h"
#include "platform/platform.h"

namespace harlo_mcp {
namespace {

namespace ipc = harlo_mcp_protocol::ipc;

// Waits until `fd` has something to read or `deadline` passes.
bool wait_readable(int fd, Clock::TimePoint deadline, Clock& clock) {
  harlo_platform::Watch watch{.fd = fd, .want_read = true};
  return clock.wait(std::span(&watch, 1), deadline) > 0 && watch.readable;
}

std::optional<harlo_platform::UniqueFd> connect_socket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.data(), path.size());
  harlo_platform::UniqueFd socket(harlo_platform::unix_stream_socket());
  if (!socket.valid()) return std::nullopt;
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return std::nullopt;
  }
  // The socket may live in a temporary directory that every user shares:
  // only a listener of this very user is the app, anyone else would
  // receive the client's requests.
  if (harlo_platform::peer_user_id(socket.get()) != geteuid()) return std::nullopt;
  const int flags = fcntl(socket.get(), F_GETFL);
  if (flags < 0 || fcntl(socket.get(), F_SETFL, flags | O_NONBLOCK) != 0) return std::nullopt;
  return socket;
}

// Reads the handshake reply one byte at a time, so that nothing the app
// sends after it is taken from the socket before the Link's reader exists.
// Nothing when the stream ends, fails or times out before the line feed;
// more than kMaxHandshakeReply bytes are read no further.
std::optional<std::string> read_handshake_reply(int fd, Clock::TimePoint deadline, Clock& clock) {
  std::string reply;
  for (;;) {
    char byte;
    const ssize_t n = read(fd, &byte, 1);
    if (n == 1) {
      if (byte == '\n') return reply;
      reply += byte;
      if (reply.size() > ipc::kMaxHandshakeReply) return reply;  // judged too long
      continue;
    }
    if (n == 0) return std::nullopt;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return std::nullopt;
    if (!wait_readable(fd, deadline, clock)) return std::nullopt;
  }
}

OfflineReason reason_for_rejection(const ipc::HandshakeReply& reply) {
  if (reply.version && ipc::is_newer(*reply.version, ipc::kBridgeVersion)) {
    return OfflineReason::BridgeOutdated;
  }
  return OfflineReason::AppOutdated;
}

// Replays the client's initialize request on `link` and waits for the
// app's answer to it. Only a response (the remembered id, no "method")
// is that answer: the app numbers its own requests independently and may
// well send one with the same id. True when the answer is not an error.
bool replay_initialize(Link& link, const StoredInitialize& initialize,
                       std::chrono::milliseconds timeout, Clock& clock) {
  if (!link.send_line(initialize.line)) return false;
  const Clock::TimePoint deadline = clock.now() + timeout;
  ipc::LineReader& reader = link.reader();
  for (;;) {
    std::string_view line;
    switch (reader.next(line)) {
      case ipc::LineReader::Next::kLine: {
        const std::optional<Incoming> incoming = classify_line(reader.scanned());
        if (!incoming) return false;  // not UTF-8: a read error
        const auto* answer = std::get_if<Response>(&*incoming);
        if (answer != nullptr && mcp_wire::json_equal(answer->id, initialize.id)) {
          return !answer->has_error;
        }
        break;
      }
      case ipc::LineReader::Next::kNeedMore:
        if (!wait_readable(link.fd(), deadline, clock)) return false;
        if (reader.fill() == ipc::LineReader::Fill::kError) return false;
        break;
      case ipc::LineReader::Next::kEnd:
      case ipc::LineReader::Next::kError:
        return false;
    }
  }
}

}  // namespace

Link::Link(harlo_platform::UniqueFd socket) : socket_(std::move(socket)), reader_(socket_.get()) {}

bool Link::send_line(std::string_view line) { return write_line(socket_.get(), line, &reader_); }

size_t Link::send_lines(std::span<const std::string_view> lines) {
  return write_lines(socket_.get(), lines, &reader_);
}

ConnectOutcome connect_link(const std::optional<std::string>& socket_path,
                            const StoredInitialize* initialize, const std::string* initialized_line,
                            Clock::TimePoint handshake_deadline,
                            std::chrono::milliseconds replay_timeout, Clock& clock) {
  if (!socket_path) return OfflineReason::NotRunning;
  auto socket = connect_socket(*socket_path);
  if (!socket) return OfflineReason::NotRunning;

  const std::string_view handshake = ipc::kHandshakeLine.substr(0, ipc::kHandshakeLine.size() - 1);
  if (!write_line(socket->get(), handshake)) return OfflineReason::NotRunning;
  const auto reply_bytes = read_handshake_reply(socket->get(), handshake_deadline, clock);
  if (!reply_bytes) return OfflineReason::NotRunning;
  const ipc::HandshakeReply reply = ipc::judge_handshake_reply(*reply_bytes);
  switch (reply.kind) {
    case ipc::HandshakeReply::Kind::kUnusable:
      return OfflineReason::NotRunning;
    case ipc::HandshakeReply::Kind::kRejected:
      return reason_for_rejection(reply);
    case ipc::HandshakeReply::Kind::kAccepted:
      break;
  }

  Link link(std::move(*socket));
  if (initialize == nullptr) return link;
  if (!replay_initialize(link, *initialize, replay_timeout, clock)) {
    return OfflineReason::NotRunning;
  }
  if (initialized_line != nullptr && !link.send_line(*initialized_line)) {
    return OfflineReason::NotRunning;
  }
  return link;
}

}  // namespace harlo_mcp
