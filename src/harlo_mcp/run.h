#pragma once

namespace harlo_mcp {

// Runs the bridge for one AI client on standard input and output until
// the client goes away. Returns the process's exit status: 0 whenever the
// session ends, 1 only when the runtime cannot be built.
int run();

}  // namespace harlo_mcp
