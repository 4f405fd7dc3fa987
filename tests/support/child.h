// A program started by a test, with its standard streams on pipes (or on a
// pseudo-terminal) and a deadline on every wait.
#pragma once

#include <sys/types.h>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/stream.h"

namespace harlo_test {

// Where the child's standard input comes from.
enum class StdinMode {
  kPipe,     // a pipe fed by Child::write
  kDevNull,  // /dev/null
  kClosed,   // descriptor 0 closed in the child
};

struct ChildOptions {
  // argv[0] is the program's path; it is not looked up in PATH.
  std::vector<std::string> argv;
  // The child's whole environment, "NAME=value" each; nothing is inherited.
  std::vector<std::string> env;
  // Working directory; the test's own when absent.
  std::optional<std::string> working_dir;
  StdinMode stdin_mode = StdinMode::kPipe;
  // Descriptor 1 closed in the child; read_line then sees the end at once.
  bool stdout_closed = false;
  // Standard input and output both on one pseudo-terminal (stdin_mode and
  // stdout_closed are then ignored), so that the child finds a terminal on
  // descriptor 0. The terminal passes bytes unchanged in both directions
  // (no echo, no CR insertion, no signal characters) but keeps line
  // editing, so one line written to it is limited to about 4 KiB and
  // close_stdin() sends the end-of-file character rather than closing.
  // Standard error stays a pipe.
  bool terminal = false;
};

// How a child ended: by exit with `code`, or by `signal` (then code is 0).
struct ExitStatus {
  int code = 0;
  int signal = 0;

  static ExitStatus exited(int code) { return {code, 0}; }
  static ExitStatus killed_by(int signal) { return {0, signal}; }
  bool operator==(const ExitStatus&) const = default;
};

// "exit 3" or "signal 9", for test failure messages.
std::ostream& operator<<(std::ostream& out, const ExitStatus& status);

// The sanitizer settings of the test process (ASAN_OPTIONS and the like)
// as "NAME=value", for children's explicit environments.
std::vector<std::string> sanitizer_env();

class Child {
 public:
  // Starts the program. On failure (no program, exec refused, no pipes)
  // returns nothing and, when `error` is given, says why there. Makes the
  // test process ignore SIGPIPE (see ignore_sigpipe); the child itself
  // starts with default signal dispositions and an empty signal mask.
  static std::optional<Child> spawn(const ChildOptions& options, std::string* error = nullptr);

  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Kills (SIGKILL) and reaps the child if it has not been reaped yet.
  ~Child();

  pid_t pid() const { return pid_; }

  // Writes `data` to the child's standard input, all of it; while the
  // input is full, reads the child's output so that neither side blocks.
  // False when the input is closed, the child stopped reading (EPIPE), or
  // the deadline passes first.
  bool write(std::string_view data, Deadline deadline = deadline_after());

  // Closes the child's standard input, so that it reads the end of the
  // stream. On a terminal, sends the end-of-file character instead (it
  // ends input when it comes at the start of a line).
  void close_stdin();

  // The next line of standard output without its LF (nothing else is
  // removed). Nothing when the deadline passes or standard output ended
  // before a complete line; stdout_ended() tells the two apart. Bytes after
  // the last LF are left for read_stdout_until_eof.
  std::optional<std::string> read_line(Deadline deadline = deadline_after());
  bool stdout_ended() const { return out_.ended(); }

  // Everything not yet taken from standard output (or error), once the
  // stream has ended; nothing when the deadline passes first.
  std::optional<std::string> read_stdout_until_eof(Deadline deadline = deadline_after());
  std::optional<std::string> read_stderr_until_eof(Deadline deadline = deadline_after());

  // Standard error received so far, without waiting and without taking it:
  // for failure messages.
  std::string stderr_so_far();

  // Waits for the child to end and reaps it; reads its output meanwhile.
  // Nothing when the deadline passes first. Once reaped, returns the same
  // status again at once.
  std::optional<ExitStatus> wait(Deadline deadline = deadline_after());

  // Sends `signal_number` to the child; false once it has been reaped.
  bool signal(int signal_number);

 private:
  Child(pid_t pid, Fd in, Fd out, Fd err, bool terminal);
  void kill_and_reap();

  pid_t pid_ = -1;
  std::optional<ExitStatus> status_;
  Fd in_;
  Inbox out_;
  Inbox err_;
  bool terminal_ = false;
};

}  // namespace harlo_test
