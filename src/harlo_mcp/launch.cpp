#include "harlo_mcp/launch.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "harlo_paths/harlo_paths.h"
#include "mcp_wire/utf8.h"
#include "platform/fatal.h"
#include "platform/platform.h"

extern char** environ;

namespace harlo_mcp::launch {
namespace {

constexpr const char* kNullDevice = "/dev/null";

// `path` without trailing separators and "." components; the root stays.
std::string_view trim_end(std::string_view path) {
  while (path.size() > 1) {
    if (path.back() == '/') {
      path.remove_suffix(1);
    } else if (path.ends_with("/.")) {
      path.remove_suffix(1);
    } else {
      break;
    }
  }
  return path;
}

// The last component of `path`; nothing for the root, an empty path, or a
// path ending in "." or "..".
std::optional<std::string_view> final_component(std::string_view path) {
  path = trim_end(path);
  if (path.empty() || path == "/") return std::nullopt;
  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name == "." || name == "..") return std::nullopt;
  return name;
}

// `path` without its last component; nothing for the root or an empty path.
// A bare name's parent is the empty path.
std::optional<std::string_view> parent(std::string_view path) {
  path = trim_end(path);
  if (path.empty() || path == "/") return std::nullopt;
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string_view();
  if (slash == 0) return path.substr(0, 1);
  return trim_end(path.substr(0, slash));
}

// The text after the last "." of a file name; nothing when there is no
// ".", or the only one begins the name.
std::optional<std::string_view> extension(std::string_view name) {
  if (name == "..") return std::nullopt;
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

// The bundle directory when `executable` is <bundle>.app/Contents/MacOS/<x>.
std::optional<std::string_view> bundle_of(std::string_view executable) {
  const auto macos = parent(executable);
  if (!macos) return std::nullopt;
  const auto contents = parent(*macos);
  if (!contents) return std::nullopt;
  const auto bundle = parent(*contents);
  if (!bundle) return std::nullopt;
  if (final_component(*macos) != "MacOS" || final_component(*contents) != "Contents") {
    return std::nullopt;
  }
  const auto bundle_name = final_component(*bundle);
  if (!bundle_name || extension(*bundle_name) != "app") return std::nullopt;
  return bundle;
}

bool is_regular_file(const std::string& path) {
  struct stat status {};
  int rc;
  do {
    rc = stat(path.c_str(), &status);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 && S_ISREG(status.st_mode);
}

// Creates the lock file exclusively and closes it at once: 0, or the error.
int create_exclusively(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  close(fd);  // nothing was written; an error here loses nothing
  return 0;
}

// 0, or the error of the deletion.
int remove_file(const std::string& path) {
  int rc;
  do {
    rc = unlink(path.c_str());
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

std::optional<std::string> working_directory() {
  std::string dir(256, '\0');
  while (getcwd(dir.data(), dir.size()) == nullptr) {
    if (errno != ERANGE) return std::nullopt;
    dir.resize(dir.size() * 2);
  }
  dir.resize(dir.find('\0'));
  return dir;
}

// Owns the spawn attributes and file actions for the length of one start.
class SpawnSetup {
 public:
  SpawnSetup() {
    attributes_ok_ = posix_spawnattr_init(&attributes_) == 0;
    actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attributes_ok_) posix_spawnattr_destroy(&attributes_);
    if (actions_ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Null standard streams, a new process group, SIGPIPE at its default
  // action, no blocked signals, no other inherited descriptor: 0, or the
  // error of the call that failed.
  int prepare() {
    if (!attributes_ok_ || !actions_ok_) return ENOMEM;
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);  // the bridge ignores it for itself
    sigset_t no_signals;
    sigemptyset(&no_signals);
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    int rc = 0;
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 0, kNullDevice, O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 1, kNullDevice, O_WRONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 2, kNullDevice, O_WRONLY, 0);
    if (rc == 0) rc = posix_spawnattr_setflags(&attributes_, flags);
    if (rc == 0) rc = posix_spawnattr_setpgroup(&attributes_, 0);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes_, &default_signals);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attributes_, &no_signals);
    if (rc == 0) rc = harlo_platform::close_other_descriptors_on_spawn(&attributes_, &actions_);
    return rc;
  }

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
  bool attributes_ok_ = false;
  bool actions_ok_ = false;
};

// Body of the detached thread that owns one child: waits for it, which
// reaps it, and ends. The exit status and any error are of no interest.
void* reap_child(void* child) {
  const auto pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(child));
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return nullptr;
}

}  // namespace

Claim claim_lock(const std::string& lock_path, std::chrono::system_clock::time_point now) {
  const int created = create_exclusively(lock_path);
  if (created != EEXIST) return Claim::kGo;  // created, or no lock can be made

  const auto modified = harlo_platform::file_modification_time(lock_path);
  const bool fresh = modified && (*modified > now || now - *modified < kStaleLockAge);
  if (fresh) return Claim::kSkip;

  // A stale lock that stays would hold every bridge back for good; without
  // a lock to renew, start unguarded. Gone already means another bridge
  // removed it, and the retry below settles who recreates it.
  if (const int removed = remove_file(lock_path); removed != 0 && removed != ENOENT) {
    return Claim::kGo;
  }
  return create_exclusively(lock_path) == EEXIST ? Claim::kSkip : Claim::kGo;
}

Command command_for(std::string_view executable) {
  if (const auto bundle = bundle_of(executable)) {
    Command command{std::string(kOpenProgram), {}};
    command.arguments.assign(kOpenSwitches.begin(), kOpenSwitches.end());
    command.arguments.emplace_back(*bundle);
    command.arguments.emplace_back(kOpenArgsSeparator);
    command.arguments.emplace_back(kBackgroundSwitch);
    return command;
  }
  return Command{std::string(executable), {std::string(kBackgroundSwitch)}};
}

std::optional<LaunchError> spawn(const Command& command) {
  SpawnSetup setup;
  if (const int rc = setup.prepare(); rc != 0) return LaunchError{rc, {}};

  // posix_spawnp takes non-const strings but does not change them.
  std::vector<char*> argv;
  argv.reserve(command.arguments.size() + 2);
  argv.push_back(const_cast<char*>(command.program.c_str()));
  for (const auto& argument : command.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = 0;
  if (const int rc = posix_spawnp(&child, command.program.c_str(), setup.actions(),
                                  setup.attributes(), argv.data(), environ);
      rc != 0) {
    return LaunchError{rc, {}};
  }

  pthread_t reaper;
  if (const int rc = pthread_create(&reaper, nullptr, reap_child,
                                    reinterpret_cast<void*>(static_cast<intptr_t>(child)));
      rc != 0) {
    harlo_platform::fatal("failed to spawn thread: " +
                          std::error_code(rc, std::system_category()).message());
  }
  pthread_detach(reaper);
  return std::nullopt;
}

std::string absolute_path(std::string_view path, std::string_view working_dir) {
  if (path.starts_with('/')) return std::string(path);
  return harlo_paths::join(working_dir, path);
}

Launch::Launch(std::optional<std::string> executable, std::optional<std::string> lock)
    : executable(std::move(executable)), lock(std::move(lock)) {}

Launch Launch::locate(const std::optional<std::string>& own_path,
                      const std::optional<std::string>& data_dir) {
  std::optional<std::string> lock;
  if (data_dir) lock = harlo_paths::join(*data_dir, kLockFileName);

  if (!own_path) return Launch(std::nullopt, std::move(lock));
  const auto own_name = final_component(*own_path);
  if (!own_name || !mcp_wire::is_valid_utf8(*own_name))
    return Launch(std::nullopt, std::move(lock));
  if (*own_name != kBridgeFileName) return Launch(*own_path, std::move(lock));

  const auto dir = parent(*own_path);
  if (!dir) return Launch(std::nullopt, std::move(lock));
  for (const std::string_view name : kAppFileNames) {
    std::string candidate = harlo_paths::join(*dir, name);
    if (is_regular_file(candidate)) return Launch(std::move(candidate), std::move(lock));
  }
  return Launch(std::nullopt, std::move(lock));
}

Launch Launch::current() {
  std::optional<std::string> own_path = harlo_platform::executable_path();
  if (own_path && !own_path->starts_with('/')) {
    // The bridge never changes directory, so this is where it started.
    const auto dir = working_directory();
    own_path = dir ? std::optional(absolute_path(*own_path, *dir)) : std::nullopt;
  }
  return locate(own_path, harlo_paths::data_dir());
}

std::optional<LaunchError> Launch::launch() const {
  if (!executable) return LaunchError{0, std::string(kNotLocatedMessage)};
  if (lock && claim_lock(*lock, std::chrono::system_clock::now()) == Claim::kSkip) {
    return std::nullopt;
  }
  return spawn(command_for(*executable));
}

void Launch::app_reached() const {
  // A lock that cannot be deleted turns stale and is replaced by the next
  // claim; nothing else is to be done about it.
  if (lock) remove_file(*lock);
}

}  // namespace harlo_mcp::launch
