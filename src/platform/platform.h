// The few operating-system calls that differ between macOS and Linux.
// CMake compiles exactly one of platform_darwin.cpp and platform_linux.cpp;
// nothing else in the tree asks which system it runs on.
#pragma once

#include <spawn.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>

namespace harlo_platform {

// The per-user temporary directory that the system itself reports, without
// a terminating NUL; nothing when the system has no such notion (Linux).
// Callers fall back to "/tmp".
std::optional<std::string> system_temp_dir();

// The path by which this program was started, as it was given to the
// system: symbolic links are not resolved, and the path may be relative to
// the directory the process started in. Nothing when the system reports
// none.
std::optional<std::string> executable_path();

// The modification time of the file at `path`, symbolic links followed, at
// the full precision the file system keeps. Nothing when the status cannot
// be read.
std::optional<std::chrono::system_clock::time_point> file_modification_time(
    const std::string& path);

// Arranges that a child started with `attributes` and `actions` keeps no
// descriptor above 2: each is closed in the child, even one the bridge holds
// without close-on-exec. Descriptors 0, 1 and 2 must be set up by file
// actions (an open or a dup2 into place), or the child may lose them too.
// Call it after the flags of `attributes` are set, since it may add one.
// Returns 0, or the error number of the call that failed.
int close_other_descriptors_on_spawn(posix_spawnattr_t* attributes,
                                     posix_spawn_file_actions_t* actions);

// One descriptor to wait on: what is wanted, and what was found.
struct Watch {
  int fd = -1;
  bool want_read = false;
  bool want_write = false;
  bool readable = false;  // also set on hang-up and error: the next read tells
  bool writable = false;  // also set on error: the next write tells
};

// Blocks until at least one watched descriptor is ready, or `timeout_ms`
// milliseconds pass (negative: no limit). Works for pipes, sockets, regular
// files, /dev/null and terminals alike, and for any descriptor number.
// Returns the number of ready descriptors, 0 on timeout or interruption, -1
// with errno on failure.
int wait_for(std::span<Watch> watches, int timeout_ms);

// wait_for() done with select() over descriptor sets sized for the highest
// descriptor watched, so that numbers at or above FD_SETSIZE work too. It is
// what wait_for() is on macOS, where poll() does not serve terminals; it
// builds everywhere so that every system's tests run it.
int wait_with_select(std::span<Watch> watches, int timeout_ms);

// A new close-on-exec Unix domain stream socket, or -1 with errno.
int unix_stream_socket();

// The effective user id of the process at the other end of the connected
// Unix domain socket `fd`; nothing when the system cannot tell.
std::optional<unsigned> peer_user_id(int fd);

}  // namespace harlo_platform
