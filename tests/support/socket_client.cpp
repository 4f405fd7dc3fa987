#include "support/socket_client.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace harlo_test {

std::optional<SocketClient> SocketClient::connect(const std::string& path, std::string* error) {
  const auto fail = [error](std::string why) -> std::optional<SocketClient> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  ignore_sigpipe();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return fail("socket path too long: " + path);
  std::memcpy(address.sun_path, path.data(), path.size());

  Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd.valid()) return fail(std::string("socket: ") + std::strerror(errno));
  set_cloexec(fd.get());
  int connected;
  do {
    connected = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (connected != 0 && errno == EINTR);
  if (connected != 0) return fail("connect " + path + ": " + std::strerror(errno));
  set_nonblocking(fd.get());
  Fd reader(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!reader.valid()) return fail(std::string("dup: ") + std::strerror(errno));
  return SocketClient(std::move(fd), std::move(reader));
}

bool SocketClient::send(std::string_view data, Deadline deadline) {
  if (!writer_.valid()) return false;
  return write_all(writer_.get(), data, {&inbox_}, deadline);
}

bool SocketClient::send_line(std::string_view line, Deadline deadline) {
  std::string text(line);
  text += '\n';
  return send(text, deadline);
}

std::optional<std::string> SocketClient::read_line(Deadline deadline) {
  pump({&inbox_}, deadline, [this] { return inbox_.has_line(); });
  return inbox_.take_line();
}

std::optional<std::string> SocketClient::read_until_eof(Deadline deadline) {
  if (!pump({&inbox_}, deadline, [this] { return inbox_.ended(); })) return std::nullopt;
  return inbox_.take_all();
}

void SocketClient::close() {
  if (writer_.valid()) ::shutdown(writer_.get(), SHUT_RDWR);
  writer_.reset();
  inbox_ = Inbox();
}

}  // namespace harlo_test
