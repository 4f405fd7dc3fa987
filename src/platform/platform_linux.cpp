#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

// glibc has had a file action that closes every descriptor from a number on
// since 2.34; musl (the static arm64 build) has none.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define HARLO_SPAWN_CLOSEFROM 1
#else
#define HARLO_SPAWN_CLOSEFROM 0

namespace {

// One close action for each descriptor above 2 that is open now: as
// /proc/self/fd lists them, or, without /proc, as fcntl finds them below the
// descriptor limit. What must not reach the child are descriptors the
// bridge inherited without close-on-exec, and those are all open by now; the
// bridge opens its own close-on-exec, so one that another thread opens after
// the list is made does not reach the child either.
int add_close_actions(posix_spawn_file_actions_t* actions) {
  if (DIR* dir = opendir("/proc/self/fd")) {
    const int listing = dirfd(dir);
    int rc = 0;
    while (const dirent* entry = readdir(dir)) {
      char* end = nullptr;
      const long fd = std::strtol(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0' || fd <= 2 || fd == listing) continue;
      rc = posix_spawn_file_actions_addclose(actions, static_cast<int>(fd));
      if (rc != 0) break;
    }
    closedir(dir);
    return rc;
  }
  const long limit = sysconf(_SC_OPEN_MAX);
  for (long fd = 3; fd < limit; ++fd) {
    if (fcntl(static_cast<int>(fd), F_GETFD) == -1) continue;
    if (const int rc = posix_spawn_file_actions_addclose(actions, static_cast<int>(fd)); rc != 0) {
      return rc;
    }
  }
  return 0;
}

}  // namespace
#endif

int close_other_descriptors_on_spawn(posix_spawnattr_t* /*attributes*/,
                                     posix_spawn_file_actions_t* actions) {
#if HARLO_SPAWN_CLOSEFROM
  return posix_spawn_file_actions_addclosefrom_np(actions, 3);
#else
  return add_close_actions(actions);
#endif
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
