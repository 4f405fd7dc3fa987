#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace harlo_bench {
namespace {

std::function<void()>& failure_cleanup() {
  static std::function<void()> cleanup;
  return cleanup;
}

void set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) fatal(errno_text("fcntl"));
}

// A pipe whose two ends close on exec; the spawn actions give the child
// its end under a standard number.
void make_pipe(int ends[2]) {
  if (pipe(ends) != 0) fatal(errno_text("pipe"));
  for (int i = 0; i < 2; ++i) {
    if (fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) fatal(errno_text("fcntl"));
  }
}

int milliseconds_until(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// Waits until `fd` is ready for `events`; false when `deadline` passes.
bool wait_ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd watch{fd, events, 0};
    const int timeout = milliseconds_until(deadline);
    const int ready = poll(&watch, 1, timeout);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) fatal(errno_text("poll"));
    if (ready == 0 && timeout == 0) return false;
  }
}

}  // namespace

void fatal(const std::string& what) {
  std::cerr << "relay_bench: " << what << std::endl;
  if (failure_cleanup()) failure_cleanup()();
  std::exit(1);
}

void on_failure(std::function<void()> cleanup) { failure_cleanup() = std::move(cleanup); }

std::string errno_text(std::string_view what) {
  return std::string(what) + ": " + std::strerror(errno);
}

void send_all(int fd, std::string_view data, std::string_view who) {
  const Clock::time_point deadline = Clock::now() + kPatience;
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_ready(fd, POLLOUT, deadline)) fatal(std::string(who) + " stopped reading");
      continue;
    }
    fatal(errno_text(std::string(who) + ": write"));
  }
}

Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int in[2];
  int out[2];
  make_pipe(in);
  make_pipe(out);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> vars;
  for (const std::string& var : env) vars.push_back(const_cast<char*>(var.c_str()));
  vars.push_back(nullptr);

  Child child;
  const int error =
      posix_spawn(&child.pid, args[0], &actions, &attributes, args.data(), vars.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (error != 0) {
    errno = error;
    fatal(errno_text("cannot start " + argv[0]));
  }
  child.in = in[1];
  child.out = out[0];
  set_nonblocking(child.in);
  set_nonblocking(child.out);
  return child;
}

void finish(Child& child, std::string_view who) {
  if (child.pid < 0) return;
  close(child.in);
  const Clock::time_point deadline = Clock::now() + kPatience;
  char sink[65536];
  for (;;) {
    const ssize_t n = read(child.out, sink, sizeof sink);
    if (n > 0) continue;
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (!wait_ready(child.out, POLLIN, deadline)) {
      kill(child.pid, SIGKILL);
      fatal(std::string(who) + " did not end after its input closed");
    }
  }
  close(child.out);
  int status;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  child.pid = -1;
}

Inbox::Inbox(int fd, std::string who) : fd_(fd), who_(std::move(who)), buffer_(1 << 20) {}

std::string_view Inbox::line() {
  const Clock::time_point deadline = Clock::now() + kPatience;
  for (;;) {
    const char* begin = buffer_.data() + start_;
    const auto* newline =
        static_cast<const char*>(std::memchr(begin + scanned_, '\n', end_ - start_ - scanned_));
    if (newline != nullptr) {
      const auto length = static_cast<size_t>(newline - begin);
      start_ += length + 1;
      scanned_ = 0;
      return {begin, length};
    }
    scanned_ = end_ - start_;
    fill(deadline);
  }
}

size_t Inbox::skip_line(std::string& head) {
  const Clock::time_point deadline = Clock::now() + kPatience;
  head.clear();
  size_t length = 0;
  for (;;) {
    const char* begin = buffer_.data() + start_;
    const size_t buffered = end_ - start_;
    if (head.size() < 64) head.append(begin, std::min(buffered, 64 - head.size()));
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', buffered));
    if (newline != nullptr) {
      const auto taken = static_cast<size_t>(newline - begin) + 1;
      start_ += taken;
      return length + taken;
    }
    length += buffered;
    start_ = end_ = 0;
    fill(deadline);
  }
}

size_t Inbox::skip_lines(size_t lines) {
  const Clock::time_point deadline = Clock::now() + kPatience;
  size_t bytes = 0;
  while (lines > 0) {
    const char* begin = buffer_.data() + start_;
    const char* end = buffer_.data() + end_;
    const char* at = begin;
    while (lines > 0) {
      const auto* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
      if (newline == nullptr) break;
      at = newline + 1;
      --lines;
    }
    bytes += static_cast<size_t>(at - begin);
    start_ += static_cast<size_t>(at - begin);
    if (lines > 0) fill(deadline);
  }
  return bytes;
}

void Inbox::fill(Clock::time_point deadline) {
  if (start_ == end_) {
    start_ = end_ = 0;
  } else if (end_ == buffer_.size()) {
    if (start_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    } else {
      buffer_.resize(buffer_.size() * 2);
    }
  }
  for (;;) {
    const ssize_t n = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      return;
    }
    if (n == 0) fatal(who_ + " closed its output");
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) fatal(errno_text(who_ + ": read"));
    if (!wait_ready(fd_, POLLIN, deadline)) fatal(who_ + " gave no answer in time");
  }
}

}  // namespace harlo_bench
