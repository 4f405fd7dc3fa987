#pragma once

#include <string_view>

namespace harlo_platform {

// Ends the process on a broken internal invariant: writes `message` and a
// line feed to standard error, then aborts. Ordinary input never gets here.
[[noreturn]] void fatal(std::string_view message);

}  // namespace harlo_platform
