// The stand-in desktop app (harlo-standin-app) as a test sees it: started
// under a given HOME, listening once start() returns, recording every line
// it receives.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/temp_dir.h"

namespace harlo_test {

// Paths of the programs under test, fixed at build time.
inline constexpr const char* kBridgeBinary = HARLO_MCP_BINARY;
inline constexpr const char* kStandinAppBinary = HARLO_STANDIN_APP;

struct StandinConfig {
  // HOME of the stand-in: it listens where a bridge with this HOME (and
  // TMPDIR) looks, creating the data directory as needed.
  std::string home;
  // TMPDIR of the stand-in; unset when absent.
  std::optional<std::string> tmpdir;
  // Further switches (see harlo-standin-app --help). --record is added by
  // StandinApp and must not be given here.
  std::vector<std::string> args;
};

class StandinApp {
 public:
  // Starts the stand-in and waits until it listens. On failure (it did not
  // start, exited, or printed no "listening" line before the deadline)
  // returns nothing and, when `error` is given, says why there, with the
  // stand-in's standard error.
  static std::optional<StandinApp> start(const StandinConfig& config, std::string* error = nullptr,
                                         Deadline deadline = deadline_after());

  // The socket it listens on.
  const std::string& socket_path() const { return socket_path_; }

  // The lines received so far, from all connections, in order of arrival,
  // each exactly as received without its LF; the handshake line included.
  std::vector<std::string> recorded_lines() const;
  // Waits until at least `count` lines are recorded, then returns them all;
  // at the deadline returns what there is.
  std::vector<std::string> wait_for_recorded_lines(size_t count,
                                                   Deadline deadline = deadline_after());

  // Sends SIGTERM and waits for the end; the stand-in removes its socket
  // file and exits 0. Nothing when the deadline passes first.
  std::optional<ExitStatus> stop(Deadline deadline = deadline_after());

  Child& process() { return child_; }

 private:
  StandinApp(TempDir work_dir, Child child, std::string socket_path);

  TempDir work_dir_;  // holds the record file
  Child child_;
  std::string socket_path_;
};

}  // namespace harlo_test
