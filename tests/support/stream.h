// Descriptors, deadlines and the buffered reading that every wait of the
// test harness is built on.
//
// Every wait takes a Deadline and gives up when it passes, so that a hang
// fails the test at once instead of stalling the run. Descriptors made by
// the harness are close-on-exec and non-blocking on the harness's side.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace harlo_test {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// How long a wait lasts when a test names no deadline: ample on a loaded
// machine, short enough that a hang shows quickly.
inline constexpr std::chrono::milliseconds kDefaultWait{5000};

inline Deadline deadline_after(std::chrono::milliseconds wait = kDefaultWait) {
  return Clock::now() + wait;
}

// Owns one descriptor and closes it exactly once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd = -1);
  int release();

 private:
  int fd_ = -1;
};

// Sets FD_CLOEXEC on `fd`. Descriptors are made and marked in two steps
// (macOS has no pipe2); the harness starts children from one thread only,
// so no exec can slip in between.
void set_cloexec(int fd);
void set_nonblocking(int fd);

// A pipe with both ends close-on-exec; false (errno set) on failure.
bool make_pipe(Fd* read_end, Fd* write_end);

// A connected pair of Unix domain stream sockets, both close-on-exec, in
// `fds`; the caller closes them. False (errno set) on failure.
bool make_socket_pair(int (&fds)[2]);

// A new pseudo-terminal: its controlling side in `master` and the terminal
// itself in `slave`, both close-on-exec; the slave does not become the
// controlling terminal of the test process. False (errno set) on failure.
bool open_terminal(Fd* master, Fd* slave);

// Makes the test process ignore SIGPIPE (done once; idempotent), so that
// writing to a child or socket that has gone away fails with EPIPE instead
// of killing the test. Children started by the harness get the default
// disposition back before they run.
void ignore_sigpipe();

// What has been read from one non-blocking descriptor and not yet taken.
// The descriptor stays open until the Inbox is destroyed; the end of the
// stream, a read error and EIO (a terminal whose other side is gone) all
// count as the end.
class Inbox {
 public:
  Inbox() = default;  // no descriptor: at the end from the start
  explicit Inbox(Fd fd) : fd_(std::move(fd)), ended_(!fd_.valid()) {}

  int fd() const { return fd_.get(); }
  bool ended() const { return ended_; }
  bool has_line() const { return buffer_.find('\n') != std::string::npos; }

  // One complete line without its LF (a CR before it is kept), or nothing
  // when no complete line is buffered.
  std::optional<std::string> take_line();
  // Everything buffered, complete lines or not.
  std::string take_all();
  // Everything buffered, left in place.
  const std::string& buffered() const { return buffer_; }
  // Reads whatever the descriptor has now, without blocking.
  void read_available();

 private:
  Fd fd_;
  std::string buffer_;
  bool ended_ = true;
};

// Waits until `done()` holds or `deadline` passes, reading whatever arrives
// on `inboxes` meanwhile. Returns done(); returns early, false, when every
// inbox has ended and `done()` still does not hold.
bool pump(std::initializer_list<Inbox*> inboxes, Deadline deadline,
          const std::function<bool()>& done);

// Reads whatever arrives on `inboxes` until `until`; sleeps when all have
// ended.
void drain_until(std::initializer_list<Inbox*> inboxes, Deadline until);

// Writes all of `data` to the non-blocking descriptor `fd`. While `fd` is
// full it keeps reading `inboxes`, so that a child blocked on its own
// output cannot block us in turn. False on a write error (EPIPE when the
// reader is gone) or when `deadline` passes first.
bool write_all(int fd, std::string_view data, std::initializer_list<Inbox*> inboxes,
               Deadline deadline);

}  // namespace harlo_test
