// The benchmark's side of a child process: starting it with pipes on its
// standard input and output, writing to it, reading its lines, and ending
// it. Every failure here is fatal to the run: a relay that stops answering
// has nothing left to measure.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace harlo_bench {

using Clock = std::chrono::steady_clock;

// The longest wait for any one answer, write or exit before the run is
// abandoned.
inline constexpr std::chrono::seconds kPatience{120};

// Ends the benchmark with status 1: writes "relay_bench: <what>" to
// standard error, then runs the cleanup given to on_failure, if any.
[[noreturn]] void fatal(const std::string& what);
void on_failure(std::function<void()> cleanup);

// `what`, a colon and the text of errno.
std::string errno_text(std::string_view what);

// A child process with its standard input and output on pipes; standard
// error is shared with the benchmark.
struct Child {
  pid_t pid = -1;
  int in = -1;   // non-blocking, writes to the child's standard input
  int out = -1;  // non-blocking, reads the child's standard output
};

// Starts argv[0] (a path, not looked up) with exactly the environment
// `env` ("NAME=value" each). The child starts with SIGPIPE at its default
// and no signal blocked, as from a shell, and gets no other descriptor of
// the benchmark: every descriptor the benchmark opens closes on exec.
Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env);

// Writes all of `data` to the child's input; `who` names the child in
// failure messages.
void send_all(int fd, std::string_view data, std::string_view who);

// Closes the child's input, reads its output to the end, reaps it and
// closes the output. Does nothing for a child already finished.
void finish(Child& child, std::string_view who);

// Reads lines from a child's standard output, in large reads. Does not own
// the descriptor. The end of the stream before a complete line is fatal.
class Inbox {
 public:
  Inbox(int fd, std::string who);

  // The next line without its LF; valid until the next call.
  std::string_view line();

  // Takes the next line without keeping it and returns its length with
  // the LF. Its first bytes (up to 64, possibly running into the next
  // line) go to `head`.
  size_t skip_line(std::string& head);

  // Takes `lines` lines without keeping them; returns their bytes, LFs
  // included.
  size_t skip_lines(size_t lines);

 private:
  void fill(Clock::time_point deadline);

  int fd_;
  std::string who_;
  std::vector<char> buffer_;
  size_t start_ = 0;
  size_t end_ = 0;
  size_t scanned_ = 0;  // bytes after start_ known to hold no LF
};

}  // namespace harlo_bench
