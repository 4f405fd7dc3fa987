// A temporary directory for one test, removed with everything in it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harlo_test {

class TempDir {
 public:
  // Creates /tmp/harlo-XXXXXX (mode 0700). The path is kept short on
  // purpose: a HOME inside it leaves the app's socket path well below the
  // length at which the socket moves to the temporary directory. A failure
  // to create it is a broken test machine and aborts.
  TempDir();
  TempDir(TempDir&& other) noexcept;
  TempDir& operator=(TempDir&& other) noexcept;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Removes the directory and its contents, making unreadable directories
  // inside it readable first. Errors are ignored.
  ~TempDir();

  const std::string& path() const { return path_; }
  // path() joined with the relative `name`.
  std::string file(std::string_view name) const;

 private:
  std::string path_;
};

// Creates `path` and its missing parents; false on failure.
bool make_dirs(const std::string& path);

// Writes `content` to `path`, replacing it; false on failure.
bool write_file(const std::string& path, std::string_view content);

// The whole content of `path`, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

}  // namespace harlo_test
