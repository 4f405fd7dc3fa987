#include "harlo_mcp_protocol/paths.h"

#include <sys/stat.h>

#include <cstdlib>

#include "harlo_paths/harlo_paths.h"
#include "platform/platform.h"

namespace harlo_mcp_protocol::paths {
namespace {

std::string temp_dir() {
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr) return tmpdir;
  if (auto dir = harlo_platform::system_temp_dir()) return *dir;
  return "/tmp";
}

}  // namespace

std::optional<std::string> endpoint() {
  const auto home = harlo_paths::home_dir();
  if (!home) return std::nullopt;
  const std::string primary = harlo_paths::join(harlo_paths::data_dir_in(*home), kSocketFileName);
  struct stat status {};
  if (stat(home->c_str(), &status) != 0) return std::nullopt;
  if (primary.size() <= kMaxSocketPath) return primary;
  std::string name(harlo_paths::kAppDirName);
  name += '-';
  name += std::to_string(static_cast<uint32_t>(status.st_uid));
  name += ".sock";
  return harlo_paths::join(temp_dir(), name);
}

}  // namespace harlo_mcp_protocol::paths
