#include <unistd.h>

#include "platform/platform.h"

namespace harlo_platform {

std::optional<std::string> system_temp_dir() {
  const size_t size = confstr(_CS_DARWIN_USER_TEMP_DIR, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::string dir(size, '\0');
  if (confstr(_CS_DARWIN_USER_TEMP_DIR, dir.data(), dir.size()) == 0) return std::nullopt;
  dir.resize(size - 1);  // drop the terminating NUL
  return dir;
}

}  // namespace harlo_platform
