#include "harlo_paths/harlo_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace harlo_paths {

std::optional<std::string> home_dir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home);
  }
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested < 0 ? 512 : static_cast<size_t>(suggested));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || *found->pw_dir == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

std::string join(std::string_view base, std::string_view name) {
  std::string path(base);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string data_dir_in(std::string_view home) { return join(join(home, kDataArea), kAppDirName); }

std::optional<std::string> data_dir() {
  const auto home = home_dir();
  if (!home) return std::nullopt;
  return data_dir_in(*home);
}

std::optional<std::string> preferences_file() {
  const auto dir = data_dir();
  if (!dir) return std::nullopt;
  return join(*dir, kPreferencesFileName);
}

}  // namespace harlo_paths
