#include "support/stream.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace harlo_test {
namespace {

// Milliseconds until `deadline` for poll(), rounded up so that a wait never
// ends just before it; 0 once it has passed.
int poll_timeout(Deadline deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 60'000));
}

// Polls the open inboxes (and `write_fd` for writing, when not -1) once,
// until something is ready or `deadline` passes, and reads every inbox that
// has data. Returns whether `write_fd` became writable.
bool poll_once(std::initializer_list<Inbox*> inboxes, int write_fd, Deadline deadline) {
  std::vector<pollfd> fds;
  std::vector<Inbox*> polled;
  for (Inbox* inbox : inboxes) {
    if (inbox->ended()) continue;
    fds.push_back({inbox->fd(), POLLIN, 0});
    polled.push_back(inbox);
  }
  if (write_fd >= 0) fds.push_back({write_fd, POLLOUT, 0});
  int ready;
  do {
    ready = ::poll(fds.data(), fds.size(), poll_timeout(deadline));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  for (size_t i = 0; i < polled.size(); ++i) {
    if (fds[i].revents != 0) polled[i]->read_available();
  }
  return write_fd >= 0 && fds.back().revents != 0;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);  // no retry on EINTR: the descriptor is gone either way
  fd_ = fd;
}

int Fd::release() { return std::exchange(fd_, -1); }

void set_cloexec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

bool make_pipe(Fd* read_end, Fd* write_end) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  read_end->reset(fds[0]);
  write_end->reset(fds[1]);
  set_cloexec(fds[0]);
  set_cloexec(fds[1]);
  return true;
}

bool make_socket_pair(int (&fds)[2]) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
  set_cloexec(fds[0]);
  set_cloexec(fds[1]);
  return true;
}

bool open_terminal(Fd* master, Fd* slave) {
  // The POSIX calls rather than openpty(), whose header differs between
  // systems. ptsname() is not thread-safe; the harness opens terminals from
  // one thread only.
  Fd controller(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!controller.valid()) return false;
  set_cloexec(controller.get());
  if (::grantpt(controller.get()) != 0 || ::unlockpt(controller.get()) != 0) return false;
  const char* name = ::ptsname(controller.get());
  if (name == nullptr) return false;
  Fd terminal(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.valid()) return false;
  *master = std::move(controller);
  *slave = std::move(terminal);
  return true;
}

void ignore_sigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

std::optional<std::string> Inbox::take_line() {
  const size_t lf = buffer_.find('\n');
  if (lf == std::string::npos) return std::nullopt;
  std::string line = buffer_.substr(0, lf);
  buffer_.erase(0, lf + 1);
  return line;
}

std::string Inbox::take_all() { return std::exchange(buffer_, {}); }

void Inbox::read_available() {
  while (!ended_) {
    char chunk[8192];
    const ssize_t n = ::read(fd_.get(), chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    ended_ = true;  // 0: end of stream; EIO: the terminal's other side is gone
  }
}

bool pump(std::initializer_list<Inbox*> inboxes, Deadline deadline,
          const std::function<bool()>& done) {
  for (;;) {
    if (done()) return true;
    const bool any_open =
        std::any_of(inboxes.begin(), inboxes.end(), [](Inbox* inbox) { return !inbox->ended(); });
    if (!any_open || Clock::now() >= deadline) return false;
    poll_once(inboxes, -1, deadline);
  }
}

void drain_until(std::initializer_list<Inbox*> inboxes, Deadline until) {
  while (Clock::now() < until) {
    const bool any_open =
        std::any_of(inboxes.begin(), inboxes.end(), [](Inbox* inbox) { return !inbox->ended(); });
    if (!any_open) {
      std::this_thread::sleep_until(until);
      return;
    }
    poll_once(inboxes, -1, until);
  }
}

bool write_all(int fd, std::string_view data, std::initializer_list<Inbox*> inboxes,
               Deadline deadline) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n >= 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (Clock::now() >= deadline) return false;
    poll_once(inboxes, fd, deadline);
  }
  return true;
}

}  // namespace harlo_test
