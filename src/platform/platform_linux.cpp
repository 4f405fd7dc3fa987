#include <poll.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.h"

namespace harlo_platform {

std::optional<std::string> system_temp_dir() { return std::nullopt; }

std::optional<std::string> executable_path() {
  // The path handed to execve, kept by the kernel on the new stack; unlike
  // /proc/self/exe it is not resolved through symbolic links.
  const auto* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (path == nullptr || *path == '\0') return std::nullopt;
  return std::string(path);
}

std::optional<std::chrono::system_clock::time_point> file_modification_time(
    const std::string& path) {
  struct stat status {};
  int rc;
  do {
    rc = stat(path.c_str(), &status);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return std::nullopt;
  const auto since_epoch = std::chrono::seconds(status.st_mtim.tv_sec) +
                           std::chrono::nanoseconds(status.st_mtim.tv_nsec);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(since_epoch));
}

int close_other_descriptors_on_spawn(posix_spawnattr_t* /*attributes*/,
                                     posix_spawn_file_actions_t* actions) {
  return posix_spawn_file_actions_addclosefrom_np(actions, 3);
}

int wait_for(std::span<Watch> watches, int timeout_ms) {
  pollfd fds[8];
  if (watches.size() > std::size(fds)) {
    errno = EINVAL;
    return -1;
  }
  for (size_t i = 0; i < watches.size(); ++i) {
    fds[i] = {watches[i].fd,
              static_cast<short>((watches[i].want_read ? POLLIN : 0) |
                                 (watches[i].want_write ? POLLOUT : 0)),
              0};
  }
  const int ready = poll(fds, watches.size(), timeout_ms < 0 ? -1 : timeout_ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  for (size_t i = 0; i < watches.size(); ++i) {
    const short got = fds[i].revents;
    const bool failed = (got & (POLLERR | POLLNVAL)) != 0;
    watches[i].readable = watches[i].want_read && (got & (POLLIN | POLLHUP) || failed);
    watches[i].writable = watches[i].want_write && (got & POLLOUT || failed);
  }
  return ready;
}

int unix_stream_socket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

std::optional<unsigned> peer_user_id(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
  return credentials.uid;
}

}  // namespace harlo_platform
