#include <fcntl.h>
#include <mach-o/dyld.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace harlo_platform {

std::optional<std::string> system_temp_dir() {
  // confstr() answers with the size the value needs, its NUL included, or 0
  // when there is none; an empty value names no directory either.
  std::string dir;
  size_t size = confstr(_CS_DARWIN_USER_TEMP_DIR, nullptr, 0);
  while (size > dir.size()) {
    dir.assign(size, '\0');
    size = confstr(_CS_DARWIN_USER_TEMP_DIR, dir.data(), dir.size());
  }
  if (size <= 1) return std::nullopt;
  dir.resize(size - 1);  // drop the terminating NUL
  return dir;
}

std::optional<std::string> executable_path() {
  // The path the program was started by, which dyld does not resolve through
  // symbolic links. A buffer too small makes the call fail and store the
  // size needed, NUL included; a deep directory can need more than PATH_MAX.
  uint32_t size = PATH_MAX;
  std::string path;
  do {
    path.assign(size, '\0');
  } while (_NSGetExecutablePath(path.data(), &size) != 0 && size > path.size());
  path.resize(std::strlen(path.c_str()));
  if (path.empty()) return std::nullopt;
  return path;
}

std::optional<std::chrono::system_clock::time_point> file_modification_time(
    const std::string& path) {
  struct stat status {};
  int rc;
  do {
    rc = stat(path.c_str(), &status);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return std::nullopt;
  const auto since_epoch = std::chrono::seconds(status.st_mtimespec.tv_sec) +
                           std::chrono::nanoseconds(status.st_mtimespec.tv_nsec);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(since_epoch));
}

int close_other_descriptors_on_spawn(posix_spawnattr_t* attributes,
                                     posix_spawn_file_actions_t* /*actions*/) {
  // With this flag every descriptor that no file action names is closed in
  // the child, close-on-exec or not.
  short flags = 0;
  if (const int rc = posix_spawnattr_getflags(attributes, &flags); rc != 0) return rc;
  return posix_spawnattr_setflags(attributes,
                                  static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT));
}

// poll() does not serve terminals here; select() does.
int wait_for(std::span<Watch> watches, int timeout_ms) {
  return wait_with_select(watches, timeout_ms);
}

int unix_stream_socket() {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::optional<unsigned> peer_user_id(int fd) {
  uid_t user = 0;
  gid_t group = 0;
  if (getpeereid(fd, &user, &group) != 0) return std::nullopt;
  return user;
}

}  // namespace harlo_platform
