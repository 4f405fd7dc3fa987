#include "support/child.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <utility>

namespace harlo_test {
namespace {

constexpr char kEndOfFile = '\x04';  // ^D, the terminal's VEOF

// How often wait() looks for the child's end.
constexpr std::chrono::milliseconds kReapInterval{5};

// The standard descriptors the child gets; -1 closes that number.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Gives `fd` the number `target` without close-on-exec, in the child.
void install(int fd, int target) {
  if (fd < 0) {
    ::close(target);
  } else if (fd == target) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
  } else {
    while (::dup2(fd, target) < 0 && errno == EINTR) {
    }
  }
}

// Moves `fd` above the standard numbers, so that installing one stream
// cannot overwrite another; keeps -1.
int lift(int fd) { return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 10); }

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void exec_child(ChildStreams streams, const char* working_dir, char* const* argv,
                             char* const* envp, int report_fd) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(SIGPIPE, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  const ChildStreams lifted{lift(streams.in), lift(streams.out), lift(streams.err)};
  install(lifted.in, STDIN_FILENO);
  install(lifted.out, STDOUT_FILENO);
  install(lifted.err, STDERR_FILENO);
  if (working_dir == nullptr || ::chdir(working_dir) == 0) ::execve(argv[0], argv, envp);
  const int error = errno;
  ssize_t written;
  do {
    written = ::write(report_fd, &error, sizeof error);
  } while (written < 0 && errno == EINTR);
  ::_exit(127);
}

// Makes the terminal pass bytes unchanged while keeping line input, so
// that the end-of-file character still ends the child's input.
void make_transparent(int terminal_fd) {
  termios settings;
  if (::tcgetattr(terminal_fd, &settings) != 0) return;
  settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | IXOFF);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ISIG | IEXTEN);
  settings.c_lflag |= ICANON;
  settings.c_cc[VEOF] = kEndOfFile;
  ::tcsetattr(terminal_fd, TCSANOW, &settings);
}

std::vector<char*> c_strings(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

std::string describe_errno(std::string_view what) {
  std::string text(what);
  text += ": ";
  text += std::strerror(errno);
  return text;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
  if (status.signal != 0) return out << "signal " << status.signal;
  return out << "exit " << status.code;
}

std::vector<std::string> sanitizer_env() {
  std::vector<std::string> env;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

std::optional<Child> Child::spawn(const ChildOptions& options, std::string* error) {
  const auto fail = [error](std::string why) -> std::optional<Child> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  if (options.argv.empty()) return fail("no program given");
  ignore_sigpipe();

  // The harness's ends (in, out, err) and the child's (child_*).
  Fd in, out, err, child_in, child_out, child_err;
  if (options.terminal) {
    if (!open_terminal(&out, &child_in)) return fail(describe_errno("pseudo-terminal"));
    make_transparent(child_in.get());
    in.reset(::fcntl(out.get(), F_DUPFD_CLOEXEC, 0));
    if (!in.valid()) return fail(describe_errno("dup"));
  } else {
    switch (options.stdin_mode) {
      case StdinMode::kPipe:
        if (!make_pipe(&child_in, &in)) return fail(describe_errno("pipe"));
        break;
      case StdinMode::kDevNull:
        child_in.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!child_in.valid()) return fail(describe_errno("/dev/null"));
        break;
      case StdinMode::kClosed:
        break;
    }
    if (!options.stdout_closed && !make_pipe(&out, &child_out)) {
      return fail(describe_errno("pipe"));
    }
  }
  if (!make_pipe(&err, &child_err)) return fail(describe_errno("pipe"));
  Fd report, child_report;
  if (!make_pipe(&report, &child_report)) return fail(describe_errno("pipe"));

  const std::vector<char*> argv = c_strings(options.argv);
  const std::vector<char*> envp = c_strings(options.env);
  const char* working_dir = options.working_dir ? options.working_dir->c_str() : nullptr;
  const ChildStreams streams{child_in.get(), options.terminal ? child_in.get() : child_out.get(),
                             child_err.get()};

  const pid_t pid = ::fork();
  if (pid < 0) return fail(describe_errno("fork"));
  if (pid == 0) exec_child(streams, working_dir, argv.data(), envp.data(), child_report.get());

  child_in.reset();
  child_out.reset();
  child_err.reset();
  child_report.reset();
  // The report pipe closes on a successful exec and carries errno otherwise.
  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(report.get(), &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    errno = exec_error;
    return fail(describe_errno("cannot run " + options.argv[0]));
  }
  for (const Fd* fd : {&in, &out, &err}) {
    if (fd->valid()) set_nonblocking(fd->get());
  }
  return Child(pid, std::move(in), std::move(out), std::move(err), options.terminal);
}

Child::Child(pid_t pid, Fd in, Fd out, Fd err, bool terminal)
    : pid_(pid),
      in_(std::move(in)),
      out_(std::move(out)),
      err_(std::move(err)),
      terminal_(terminal) {}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      status_(other.status_),
      in_(std::move(other.in_)),
      out_(std::move(other.out_)),
      err_(std::move(other.err_)),
      terminal_(other.terminal_) {}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    kill_and_reap();
    pid_ = std::exchange(other.pid_, -1);
    status_ = other.status_;
    in_ = std::move(other.in_);
    out_ = std::move(other.out_);
    err_ = std::move(other.err_);
    terminal_ = other.terminal_;
  }
  return *this;
}

Child::~Child() { kill_and_reap(); }

void Child::kill_and_reap() {
  if (pid_ < 0 || status_) return;
  ::kill(pid_, SIGKILL);
  int status;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  status_ = ExitStatus::killed_by(SIGKILL);
}

bool Child::write(std::string_view data, Deadline deadline) {
  if (!in_.valid()) return false;
  return write_all(in_.get(), data, {&out_, &err_}, deadline);
}

void Child::close_stdin() {
  if (terminal_ && in_.valid()) {
    const char end_of_file[] = {kEndOfFile};
    write_all(in_.get(), std::string_view(end_of_file, 1), {&out_, &err_}, deadline_after());
  }
  in_.reset();
}

std::optional<std::string> Child::read_line(Deadline deadline) {
  pump({&out_, &err_}, deadline, [this] { return out_.has_line(); });
  return out_.take_line();
}

std::optional<std::string> Child::read_stdout_until_eof(Deadline deadline) {
  if (!pump({&out_, &err_}, deadline, [this] { return out_.ended(); })) return std::nullopt;
  return out_.take_all();
}

std::optional<std::string> Child::read_stderr_until_eof(Deadline deadline) {
  if (!pump({&out_, &err_}, deadline, [this] { return err_.ended(); })) return std::nullopt;
  return err_.take_all();
}

std::string Child::stderr_so_far() {
  err_.read_available();
  return err_.buffered();
}

std::optional<ExitStatus> Child::wait(Deadline deadline) {
  while (!status_) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
    if (reaped < 0 && errno == EINTR) continue;
    if (reaped < 0) return std::nullopt;  // not our child: cannot happen
    if (reaped == pid_) {
      status_ = WIFSIGNALED(status) ? ExitStatus::killed_by(WTERMSIG(status))
                                    : ExitStatus::exited(WEXITSTATUS(status));
      break;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    drain_until({&out_, &err_}, std::min(deadline, Clock::now() + kReapInterval));
  }
  return status_;
}

bool Child::signal(int signal_number) {
  if (pid_ < 0 || status_) return false;
  return ::kill(pid_, signal_number) == 0;
}

}  // namespace harlo_test
