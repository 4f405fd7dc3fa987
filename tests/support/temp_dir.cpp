#include "support/temp_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "support/stream.h"

namespace harlo_test {
namespace {

namespace fs = std::filesystem;

// Removes `path` and everything below it. A test may leave a directory
// without permissions (to make the home directory unexaminable, say), so
// each directory is opened up before its entries are removed.
void force_remove(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error) return;
  if (fs::is_directory(status)) {
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
      force_remove(it->path());
    }
  }
  fs::remove(path, error);
}

}  // namespace

TempDir::TempDir() {
  char pattern[] = "/tmp/harlo-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  path_ = pattern;
}

TempDir::TempDir(TempDir&& other) noexcept : path_(std::exchange(other.path_, {})) {}

TempDir& TempDir::operator=(TempDir&& other) noexcept {
  if (this != &other) {
    if (!path_.empty()) force_remove(path_);
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

TempDir::~TempDir() {
  if (!path_.empty()) force_remove(path_);
}

std::string TempDir::file(std::string_view name) const {
  std::string joined = path_;
  joined += '/';
  joined += name;
  return joined;
}

bool make_dirs(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  return !error && fs::is_directory(path, error);
}

bool write_file(const std::string& path, std::string_view content) {
  const Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return false;
  while (!content.empty()) {
    const ssize_t n = ::write(fd.get(), content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::optional<std::string> read_file(const std::string& path) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string content;
  for (;;) {
    char chunk[8192];
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    content.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace harlo_test
