#include "harlo_mcp/write_line.h"

#include <sys/uio.h>

#include <cerrno>

#include "platform/platform.h"

namespace harlo_mcp {

bool write_line(int fd, std::string_view line, harlo_mcp_protocol::ipc::LineReader* incoming) {
  static const char kNewline = '\n';
  iovec parts[2] = {{const_cast<char*>(line.data()), line.size()},
                    {const_cast<char*>(&kNewline), 1}};
  iovec* part = parts;
  int count = 2;
  if (line.empty()) {
    part = parts + 1;
    count = 1;
  }
  while (count > 0) {
    const ssize_t n = writev(fd, part, count);
    if (n >= 0) {
      auto written = static_cast<size_t>(n);
      while (count > 0 && written >= part->iov_len) {
        written -= part->iov_len;
        ++part;
        --count;
      }
      if (count > 0) {
        part->iov_base = static_cast<char*>(part->iov_base) + written;
        part->iov_len -= written;
      }
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // Full: wait until it takes more, reading what comes the other way.
    const bool drain = incoming != nullptr && incoming->fd() != -1;
    harlo_platform::Watch watches[2] = {{.fd = fd, .want_write = true},
                                        {.fd = drain ? incoming->fd() : -1, .want_read = drain}};
    if (harlo_platform::wait_for(std::span(watches, drain ? 2 : 1), -1) < 0) return false;
    if (drain && watches[1].readable) {
      using Fill = harlo_mcp_protocol::ipc::LineReader::Fill;
      if (const Fill got = incoming->fill(); got == Fill::kEnd || got == Fill::kError) {
        incoming = nullptr;  // nothing more to take; the next write tells how the peer is
      }
    }
  }
  return true;
}

}  // namespace harlo_mcp
