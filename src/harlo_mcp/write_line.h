#pragma once

#include <string_view>

#include "harlo_mcp_protocol/line_reader.h"

namespace harlo_mcp {

// Writes `line` and one LF in a single writev where the descriptor takes
// it all, and completely in any case; never a partial line. When the
// descriptor is non-blocking and full, waits for it to drain; meanwhile,
// if `incoming` is given, takes whatever its descriptor has to read into
// its buffer, so that a peer that blocks writing to the bridge while the
// bridge writes to it cannot deadlock the two. Returns false when a write
// fails.
bool write_line(int fd, std::string_view line,
                harlo_mcp_protocol::ipc::LineReader* incoming = nullptr);

}  // namespace harlo_mcp
