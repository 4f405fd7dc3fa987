// One session: the whole life of a bridge with one AI client. Relays lines
// between the client (standard input and output) and the desktop app,
// connecting lazily, and answers what the app cannot.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "harlo_mcp/classify.h"
#include "harlo_mcp/host.h"
#include "harlo_mcp/link.h"
#include "harlo_mcp/offline.h"
#include "harlo_mcp_protocol/line_reader.h"

namespace harlo_mcp {

struct SessionConfig {
  // Where the app listens; nothing means the app can never be reached.
  std::optional<std::string> socket_path;
  LinkTimeouts timeouts;
  // After starting the app for a tool call: the pause before each renewed
  // connection attempt, and how many attempts at most.
  std::chrono::milliseconds launch_pause{250};
  int launch_attempts = 80;
  // The launch lock, deleted once the app is reached after a launch.
  std::optional<std::string> launch_lock;
  // Where the app's preferences are; asked each time a tool call may start
  // the app. Nothing means MCP counts as switched off.
  std::function<std::optional<std::string>()> preferences_file;
};

class Session {
 public:
  // Reads the client's lines from `input_fd` and writes to `output_fd`;
  // neither is owned. `host` starts the app and must outlive the session.
  Session(int input_fd, int output_fd, const Host& host, SessionConfig config);

  // Runs until standard input ends, a read of it fails (a line that is not
  // UTF-8 included) or a write to standard output fails. Every one of
  // these is a normal end; a link still open is then closed without any
  // further reply.
  void run();

 private:
  enum class Flow { kGoOn, kEnd };

  Flow handle_client_line(std::string_view line);
  Flow handle_app_line(std::string_view line);
  Flow forward(std::string_view line, const Incoming& incoming);
  Flow fail_pending();
  // Relays the app's lines that have already arrived, without waiting.
  Flow relay_what_the_app_sent();
  Flow write_out(std::string_view line);

  // Tries to reach the app for a client line that found no link.
  ConnectOutcome connect_for(const Incoming& incoming);
  // A tool call that found the app not running: start it if MCP is on,
  // then wait for it to come up. Never ends in NotRunning.
  ConnectOutcome start_app_and_wait();
  // The answer to a request that cannot reach the app.
  std::string unreachable_answer(std::string_view line, const Json& id, OfflineReason reason);

  ConnectOutcome connect_with_replay();

  // Picks one of two ready sources at random, so neither starves the other.
  bool coin_flip();

  int output_fd_;
  const Host& host_;
  SessionConfig config_;
  harlo_mcp_protocol::ipc::LineReader input_;
  std::optional<Link> link_;
  std::optional<std::string> initialize_line_;
  std::optional<std::string> initialized_line_;
  offline::OfflineMemory offline_memory_;
  uint64_t random_state_;
};

}  // namespace harlo_mcp
