#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "harlo_mcp_protocol/line_reader.h"

namespace harlo_mcp {

// Writes `lines` in order, each as its text and one LF, in as few writev
// calls as the system allows (lines already in hand share a write), and
// completely unless a write fails; a line is never left half written while
// the descriptor still takes bytes. When the descriptor is non-blocking and
// full, waits for it to drain; meanwhile, if `incoming` is given, takes
// whatever its descriptor has to read into its buffer, so that a peer that
// blocks writing to the bridge while the bridge writes to it cannot
// deadlock the two. Returns how many lines were written completely:
// lines.size(), or fewer when a write failed.
size_t write_lines(int fd, std::span<const std::string_view> lines,
                   harlo_mcp_protocol::ipc::LineReader* incoming = nullptr);

// Writes one line as write_lines does. False when the write fails.
inline bool write_line(int fd, std::string_view line,
                       harlo_mcp_protocol::ipc::LineReader* incoming = nullptr) {
  return write_lines(fd, std::span(&line, 1), incoming) == 1;
}

}  // namespace harlo_mcp
