// Finding the desktop app's executable, keeping several bridges from
// starting it at once, and starting it in the background.
//
// Paths are byte strings as the system gives them; none needs to be UTF-8
// except the bridge's own file name, which is compared with "harlo-mcp".
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harlo_mcp/host.h"

namespace harlo_mcp::launch {

// The launch lock: an empty file in the app's data directory whose
// existence and modification time say that a bridge started the app.
inline constexpr std::string_view kLockFileName = "mcp-launch.lock";
// From this age on a lock no longer holds other bridges back.
inline constexpr std::chrono::seconds kStaleLockAge{30};

// The bridge's own file name when it is installed beside the app, and the
// names of the app's executable looked for beside it, in order.
inline constexpr std::string_view kBridgeFileName = "harlo-mcp";
inline constexpr std::array<std::string_view, 2> kAppFileNames = {"Harlo", "harlo"};

// The one argument the app is started with.
inline constexpr std::string_view kBackgroundSwitch = "--background";
// The system command that starts an app bundle (found through PATH), and
// the switches given to it before the bundle's path: stay in the
// background, start hidden, name the application.
inline constexpr std::string_view kOpenProgram = "open";
inline constexpr std::array<std::string_view, 3> kOpenSwitches = {"-g", "-j", "-a"};
// What separates the arguments of "open" from those it passes to the app.
inline constexpr std::string_view kOpenArgsSeparator = "--args";

// The error of a launch without an executable.
inline constexpr std::string_view kNotLocatedMessage = "cannot locate the Harlo executable";

// The answer of a lock claim: start the app, or leave it to the bridge that
// started it less than kStaleLockAge ago.
enum class Claim { kGo, kSkip };

// Claims the launch lock at `lock_path` at the wall-clock time `now`.
// Creates the file exclusively (mode 0666 less the umask; nothing written)
// and answers kGo. When something by that name exists (a dangling symbolic
// link too), answers kSkip if its modification time is less than
// kStaleLockAge before `now` or later than `now`; otherwise the stale lock
// is deleted and the creation tried once more: kGo when created, kSkip when
// another bridge created it first. Every other failure (no directory, no
// permission, a stale lock that cannot be deleted) answers kGo, so a broken
// data directory never prevents a start. Blocks only for a few file-system
// calls; leaves no descriptor open.
Claim claim_lock(const std::string& lock_path, std::chrono::system_clock::time_point now);

// A program and the arguments after its name.
struct Command {
  std::string program;
  std::vector<std::string> arguments;

  bool operator==(const Command&) const = default;
};

// How the app at `executable` is started: through kOpenProgram when it lies
// in an app bundle (<bundle>.app/Contents/MacOS/<executable>, names compared
// exactly), with the bundle's path byte for byte; otherwise the executable
// itself. The app receives kBackgroundSwitch either way.
Command command_for(std::string_view executable);

// Starts `command` as a child process: the program is looked for through
// PATH when its name has no "/"; the environment and the working directory
// are the bridge's; standard input, output and error are the null device
// and no other descriptor of the bridge is inherited; the child leads a new
// process group, starts with SIGPIPE at its default action and no signal
// blocked. A detached thread then waits for the child, reaps it and ends.
// Returns at once, without waiting for the child to run: nothing on
// success, else the error number of the start (os_error, no message). Ends
// the process through harlo_platform::fatal when the thread cannot be made.
std::optional<LaunchError> spawn(const Command& command);

// `path` when absolute, else `path` below the directory `working_dir`.
std::string absolute_path(std::string_view path, std::string_view working_dir);

// Where the app and the launch lock are, fixed once per bridge process.
struct Launch : Host {
  // The program a launch starts; nothing when it cannot be located.
  std::optional<std::string> executable;
  // The launch lock file; nothing when the data directory is unknown, and
  // then launches are not coordinated between bridges.
  std::optional<std::string> lock;

  Launch(std::optional<std::string> executable, std::optional<std::string> lock);

  // The record for a bridge whose own executable is at `own_path` (absolute,
  // symbolic links not resolved) and whose app keeps its files in
  // `data_dir`. A bridge file named exactly kBridgeFileName looks for the
  // app's regular file (links followed) under kAppFileNames beside it; a
  // bridge under any other name starts itself, its path unchecked. A final
  // component that is missing or not UTF-8 locates nothing. Never fails.
  static Launch locate(const std::optional<std::string>& own_path,
                       const std::optional<std::string>& data_dir);

  // locate() with this process's own executable path, made absolute
  // against the current directory, and harlo_paths::data_dir().
  static Launch current();

  // Without an executable, the error kNotLocatedMessage and nothing else.
  // Otherwise claims the lock (when there is one) and, unless it answers
  // kSkip, spawns command_for(executable). A lock this call created stays in
  // place, also when the start fails, until app_reached() or until it turns
  // stale.
  std::optional<LaunchError> launch() const override;
  // Deletes the lock (when there is one), whoever created it, so that other
  // bridges may start the app again at once; a failure leaves it to age.
  void app_reached() const override;
};

}  // namespace harlo_mcp::launch
