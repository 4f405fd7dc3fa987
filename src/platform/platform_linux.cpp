#include "platform/platform.h"

namespace harlo_platform {

std::optional<std::string> system_temp_dir() { return std::nullopt; }

}  // namespace harlo_platform
