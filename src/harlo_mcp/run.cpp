#include "harlo_mcp/run.h"

namespace harlo_mcp {

int run() { return 0; }

}  // namespace harlo_mcp
