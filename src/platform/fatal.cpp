#include "platform/fatal.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace harlo_platform {

void fatal(std::string_view message) {
  std::string text(message);
  text += '\n';
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  std::abort();
}

}  // namespace harlo_platform
