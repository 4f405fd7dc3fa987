// The harlo-mcp executable: prepares the process and runs the bridge.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "harlo_mcp/run.h"

namespace {

// Makes sure descriptors 0, 1 and 2 exist, so that nothing the bridge opens
// later lands on a standard stream number.
void open_missing_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd > fd) close(null_fd);  // cannot happen: the lowest free number is fd
  }
}

}  // namespace

int main() {
  open_missing_standard_streams();
  // A client that goes away turns writes to stdout into ordinary errors,
  // which end the session, instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::_Exit(harlo_mcp::run());
}
