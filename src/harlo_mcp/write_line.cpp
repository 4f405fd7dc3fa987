#include "harlo_mcp/write_line.h"

#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/platform.h"

namespace harlo_mcp {
namespace {

// Lines per writev: two parts each (text and LF), within the system's
// limit on parts (IOV_MAX, 1024 on Linux and macOS).
constexpr size_t kLinesPerWrite = 512;

const char kNewline = '\n';

// Waits until `fd` takes bytes again, filling `incoming` meanwhile; clears
// `incoming` once it has nothing more to give. False when waiting fails.
bool wait_writable(int fd, harlo_mcp_protocol::ipc::LineReader*& incoming) {
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
  return true;
}

}  // namespace

size_t write_lines(int fd, std::span<const std::string_view> lines,
                   harlo_mcp_protocol::ipc::LineReader* incoming) {
  std::vector<iovec> parts;
  parts.reserve(2 * std::min(lines.size(), kLinesPerWrite));
  size_t written_lines = 0;
  while (written_lines < lines.size()) {
    const size_t count = std::min(lines.size() - written_lines, kLinesPerWrite);
    parts.clear();
    for (const std::string_view line : lines.subspan(written_lines, count)) {
      parts.push_back({const_cast<char*>(line.data()), line.size()});
      parts.push_back({const_cast<char*>(&kNewline), 1});
    }
    // Every second part is a line's LF: once it is out, the line is.
    iovec* part = parts.data();
    size_t left = parts.size();
    while (left > 0) {
      const ssize_t n = writev(fd, part, static_cast<int>(left));
      if (n < 0) {
        if (errno == EINTR) continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !wait_writable(fd, incoming)) {
          return written_lines + (parts.size() - left) / 2;
        }
        continue;
      }
      auto taken = static_cast<size_t>(n);
      while (left > 0 && taken >= part->iov_len) {
        taken -= part->iov_len;
        ++part;
        --left;
      }
      if (left > 0) {
        part->iov_base = static_cast<char*>(part->iov_base) + taken;
        part->iov_len -= taken;
      }
    }
    written_lines += count;
  }
  return written_lines;
}

}  // namespace harlo_mcp
