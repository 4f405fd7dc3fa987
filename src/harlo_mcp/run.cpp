#include "harlo_mcp/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "harlo_mcp/launch.h"
#include "harlo_mcp/session.h"
#include "harlo_mcp_protocol/paths.h"
#include "harlo_paths/harlo_paths.h"

namespace harlo_mcp {
namespace {

// For a person who started the bridge by hand.
constexpr std::string_view kBanner =
    "Harlo MCP server (stdio). AI tools start it on their own; set it up in Harlo \u2192 Settings "
    "\u2192 MCP. Press Ctrl+D to exit.\n";

constexpr std::string_view kCannotStart = "Harlo MCP bridge: cannot start runtime: ";

void write_to_stderr(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

// The runtime is the two standard streams the session waits on and writes
// to; it cannot run without them. Returns 0 or the error number.
int check_runtime() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO}) {
    if (fcntl(fd, F_GETFL) < 0) return errno;
  }
  return 0;
}

}  // namespace

int run() {
  if (isatty(STDIN_FILENO)) write_to_stderr(kBanner);
  if (const int error = check_runtime(); error != 0) {
    write_to_stderr(std::string(kCannotStart) + std::strerror(error) + "\n");
    return 1;
  }

  SessionConfig config;
  config.socket_path = harlo_mcp_protocol::paths::endpoint();
  config.preferences_file = harlo_paths::preferences_file;
  const launch::Launch launch = launch::Launch::current();
  Session(STDIN_FILENO, STDOUT_FILENO, launch, system_clock(), std::move(config)).run();
  return 0;
}

}  // namespace harlo_mcp
