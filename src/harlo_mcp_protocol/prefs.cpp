#include "harlo_mcp_protocol/prefs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "mcp_wire/utf8.h"

namespace harlo_mcp_protocol::prefs {
namespace {

using mcp_wire::Json;

std::optional<std::string> read_whole_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string contents;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return contents;
}

bool read_flag(const Json& value, bool& out) {
  if (!value.is_boolean()) return false;
  out = value.get<bool>();
  return true;
}

// Parsed non-negative integers without fraction or exponent are exactly the
// unsigned kind; negatives are signed and everything else is a double.
bool read_count(const Json& value, uint64_t& out) {
  if (!value.is_number_unsigned()) return false;
  out = value.get<uint64_t>();
  return true;
}

}  // namespace

std::optional<McpPreferences> McpPreferences::from_json(const Json& value) {
  McpPreferences prefs;
  if (value.is_object()) {
    for (const auto& [name, field] : value.items()) {
      const bool ok = name == "enabled"        ? read_flag(field, prefs.enabled)
                      : name == "max_rows"     ? read_count(field, prefs.max_rows)
                      : name == "timeout_secs" ? read_count(field, prefs.timeout_secs)
                                               : true;
      if (!ok) return std::nullopt;
    }
    return prefs;
  }
  if (value.is_array()) {
    if (value.size() > 3) return std::nullopt;
    if (value.size() > 0 && !read_flag(value[0], prefs.enabled)) return std::nullopt;
    if (value.size() > 1 && !read_count(value[1], prefs.max_rows)) return std::nullopt;
    if (value.size() > 2 && !read_count(value[2], prefs.timeout_secs)) return std::nullopt;
    return prefs;
  }
  return std::nullopt;
}

bool mcp_enabled(const std::string& preferences_path) {
  const auto text = read_whole_file(preferences_path);
  if (!text || !mcp_wire::is_valid_utf8(*text)) return false;
  // An empty or all-whitespace text, a byte-order mark and trailing text
  // all fail to read as one JSON value.
  const auto document = mcp_wire::read_json(*text);
  if (!document || !document->is_object()) return false;
  const auto mcp = document->find("mcp");
  if (mcp == document->end() || mcp->is_null()) return false;
  const auto prefs = McpPreferences::from_json(*mcp);
  return prefs && prefs->enabled;
}

}  // namespace harlo_mcp_protocol::prefs
