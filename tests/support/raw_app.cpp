#include "support/raw_app.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/temp_dir.h"

namespace harlo_test {
namespace {

constexpr std::string_view kAcceptedReply = "{\"ok\":true}\n";

// Milliseconds until `deadline` for poll(), rounded up; 0 once it passed.
int poll_timeout(Deadline deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
}

std::string describe_errno(std::string_view what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::optional<std::string> RawConnection::read_line(Deadline deadline) {
  pump({&inbox_}, deadline, [this] { return inbox_.has_line(); });
  return inbox_.take_line();
}

bool RawConnection::wait_for_bytes(Deadline deadline) {
  if (!inbox_.buffered().empty() || inbox_.ended()) return true;
  for (;;) {
    pollfd watch{inbox_.fd(), POLLIN, 0};
    const int ready = ::poll(&watch, 1, poll_timeout(deadline));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (Clock::now() >= deadline) return false;
  }
}

bool RawConnection::wait_for_end(Deadline deadline) {
  return pump({&inbox_}, deadline, [this] { return inbox_.ended(); });
}

bool RawConnection::write(std::string_view bytes, Deadline deadline) {
  if (!writer_.valid()) return false;
  return write_all(writer_.get(), bytes, {}, deadline);
}

void RawConnection::close() {
  writer_.reset();
  inbox_ = Inbox();
}

std::optional<RawApp> RawApp::listen(const std::string& socket_path, std::string* error) {
  const auto fail = [error](std::string why) -> std::optional<RawApp> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  ignore_sigpipe();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof address.sun_path) {
    return fail("socket path too long: " + socket_path);
  }
  std::memcpy(address.sun_path, socket_path.data(), socket_path.size());
  const size_t slash = socket_path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(socket_path.substr(0, slash))) {
    return fail(describe_errno("cannot create the directory of " + socket_path));
  }
  ::unlink(socket_path.c_str());

  Fd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!listener.valid()) return fail(describe_errno("socket"));
  set_cloexec(listener.get());
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail(describe_errno("bind " + socket_path));
  }
  if (::listen(listener.get(), 16) != 0) return fail(describe_errno("listen"));
  set_nonblocking(listener.get());
  return RawApp(std::move(listener), socket_path);
}

std::optional<RawConnection> RawApp::accept(std::string_view expected_handshake, Deadline deadline,
                                            std::string* error) {
  const auto fail = [error](std::string why) -> std::optional<RawConnection> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  if (!listener_.valid()) return fail("not listening");
  Fd socket;
  while (!socket.valid()) {
    socket.reset(::accept(listener_.get(), nullptr, nullptr));
    if (socket.valid()) break;
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
      return fail(describe_errno("accept"));
    }
    if (Clock::now() >= deadline) return fail("no connection before the deadline");
    pollfd watch{listener_.get(), POLLIN, 0};
    ::poll(&watch, 1, poll_timeout(deadline));
  }
  set_cloexec(socket.get());
  set_nonblocking(socket.get());  // the accepted socket need not inherit it
  Fd reader(::fcntl(socket.get(), F_DUPFD_CLOEXEC, 0));
  if (!reader.valid()) return fail(describe_errno("dup"));
  RawConnection connection(std::move(socket), std::move(reader));

  const std::optional<std::string> handshake = connection.read_line(deadline);
  if (!handshake) return fail("no handshake line before the deadline or the end");
  if (*handshake != expected_handshake) return fail("unexpected handshake: " + *handshake);
  if (!connection.write(kAcceptedReply, deadline)) return fail("cannot answer the handshake");
  return connection;
}

void RawApp::stop_listening() {
  if (!listener_.valid()) return;
  listener_.reset();
  ::unlink(socket_path_.c_str());
}

}  // namespace harlo_test
