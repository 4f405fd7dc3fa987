// harlo-standin-app: plays the desktop app's side of the MCP link for tests.
//
// It listens on the socket path that the bridge computes from HOME and
// TMPDIR (or on --socket PATH), prints one line "listening <path>" to stdout
// once the socket accepts connections, and serves every connection on a
// thread of its own:
//
//   1. reads the bridge's handshake line ({"harlo":"0.10.0"}) and answers it
//      as the handshake switches say (accepted by default);
//   2. writes the --on-connect lines;
//   3. reads JSON-RPC lines and answers requests: "initialize", "ping",
//      "tools/list" and "tools/call" with results, anything else with the
//      error -32601. Notifications and responses are only recorded.
//
// Lines end at LF; one CR before the LF is ignored when a line is
// interpreted, but kept in the record file. Written lines end in LF, or in
// CR LF with --crlf. Ids are copied back exactly as received (1, 1.0 and
// "1" stay apart). SIGTERM or SIGINT removes the socket file and exits 0.
// The switches are listed in kUsage (options.h); an unknown switch prints the
// usage to stderr and exits 2.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "harlo_mcp_protocol/paths.h"
#include "standin_app/connection.h"
#include "standin_app/options.h"

namespace {

using harlo_standin::Options;
using harlo_standin::ParseResult;
using harlo_standin::write_all;

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

void set_cloexec(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

void print_error(std::string_view what) {
  std::string text = "harlo-standin-app: ";
  text += what;
  text += '\n';
  write_all(STDERR_FILENO, text);
}

// Creates `dir` and its missing parents with mode 0700; false on failure.
bool make_dirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat status;
  if (::stat(dir.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A listening socket at `path`, or -1 with `error` set.
int listen_at(const std::string& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *error = "socket path too long: " + path;
    return -1;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  if (!make_dirs(parent_of(path))) {
    *error = "cannot create the directory of " + path + ": " + std::strerror(errno);
    return -1;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    *error = "cannot remove the old socket " + path + ": " + std::strerror(errno);
    return -1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  set_cloexec(fd);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// Waits for SIGTERM or SIGINT (blocked in every thread), then removes the
// socket file and ends the process.
void stop_on_signal(sigset_t signals, std::string socket_path) {
  int signal_number = 0;
  while (sigwait(&signals, &signal_number) != 0) {
  }
  ::unlink(socket_path.c_str());
  std::_Exit(0);
}
}  // namespace

int main(int argc, char** argv) {
  // Both live as long as the process: connection threads are never joined.
  static Options options;
  static harlo_standin::Recorder recorder;
  std::string error;
  switch (parse_options(argc, argv, &options, &error)) {
    case ParseResult::kHelp:
      write_all(STDOUT_FILENO, harlo_standin::kUsage);
      return 0;
    case ParseResult::kBad:
      print_error(error);
      write_all(STDERR_FILENO, harlo_standin::kUsage);
      return kExitUsage;
    case ParseResult::kRun:
      break;
  }

  // A bridge that goes away turns writes into errors instead of killing us.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  if (options.record_file && !recorder.open(*options.record_file)) {
    print_error("cannot open " + *options.record_file + ": " + std::strerror(errno));
    return kExitFailure;
  }
  const std::optional<std::string> path =
      options.socket_path ? options.socket_path : harlo_mcp_protocol::paths::endpoint();
  if (!path) {
    print_error("no socket path: the home directory is unknown or cannot be examined");
    return kExitFailure;
  }
  const int listener = listen_at(*path, &error);
  if (listener < 0) {
    print_error(error);
    return kExitFailure;
  }
  std::thread(stop_on_signal, stop_signals, *path).detach();
  if (!write_all(STDOUT_FILENO, "listening " + *path + "\n")) return kExitFailure;

  for (;;) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      print_error(std::string("accept: ") + std::strerror(errno));
      ::unlink(path->c_str());
      std::_Exit(kExitFailure);  // connection threads may still be running
    }
    set_cloexec(fd);
    std::thread(harlo_standin::serve_connection, std::cref(options), std::ref(recorder), fd)
        .detach();
  }
}
