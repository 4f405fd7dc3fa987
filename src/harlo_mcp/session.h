// One session: the whole life of a bridge with one AI client. Relays lines
// between the client (standard input and output) and the desktop app,
// connecting lazily, and answers what the app cannot.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "harlo_mcp/classify.h"
#include "harlo_mcp/clock.h"
#include "harlo_mcp/host.h"
#include "harlo_mcp/link.h"
#include "harlo_mcp/offline.h"
#include "harlo_mcp_protocol/line_reader.h"
#include "platform/platform.h"

namespace harlo_mcp {

struct SessionConfig {
  // Where the app listens; nothing means the app can never be reached.
  std::optional<std::string> socket_path;
  LinkTimeouts timeouts;
  // After starting the app for a tool call: the pause before each renewed
  // connection attempt, and how many attempts at most. Together they make
  // the window in which the app may come up (20 s); every attempt starts
  // and waits for its handshake reply within it, so the whole start ends
  // by the window's end plus one replay wait (timeouts.replay) at most.
  std::chrono::milliseconds launch_pause{250};
  int launch_attempts = 80;
  // Where the app's preferences are; asked each time a tool call may start
  // the app. Nothing means MCP counts as switched off.
  std::function<std::optional<std::string>()> preferences_file;
};

class Session {
 public:
  // Reads the client's lines from `input_fd` and writes to `output_fd`;
  // neither is owned. `host` starts the app and `clock` keeps the time;
  // both must outlive the session.
  Session(int input_fd, int output_fd, const Host& host, Clock& clock, SessionConfig config);

  // Runs until standard input ends, a read of it fails (a line that is not
  // UTF-8 included) or a write to standard output fails. Every one of
  // these is a normal end; a link still open is then closed without any
  // further reply. Blocks throughout: waiting for input, writing to a
  // reader that does not read, and while a line connects to the app
  // (connect_link, and the start of the app for a tool call).
  void run();

 private:
  enum class Flow { kGoOn, kEnd };

  // One line from the client with what classifying it found.
  struct ClientLine {
    std::string_view line;  // in input_'s buffer: valid until input_ reads
    Incoming incoming;
  };

  // How long a reader keeps a buffer grown for a long line once the
  // session is idle.
  static constexpr std::chrono::seconds kSpareMemoryHold{1};

  // Waits for the sources in `watches` with no limit, as Clock::wait does,
  // giving back the readers' spare memory when idle for kSpareMemoryHold.
  int wait_for_input(std::span<harlo_platform::Watch> watches);

  // Handles every complete line the client has sent, reading once first
  // when none is in hand; the lines for the app go in one write.
  Flow take_client_lines();
  Flow handle_client_line(ClientLine client_line);
  // Puts a line to the app in the next write; a request's id becomes
  // pending once the line is sent.
  void queue_for_app(ClientLine client_line);
  // Writes the queued lines to the app. When a write fails, the link is
  // dropped (the app's last lines relayed, the pending requests answered)
  // and the lines behind the failed one go to the front of
  // behind_failed_send_, to be handled as lines that found no link.
  Flow send_to_app();

  // Relays every complete line the app has sent, reading once first when
  // none is in hand.
  Flow take_app_lines();
  enum class AppLines {
    kRelayed,     // every complete line in hand went to the client
    kLinkDown,    // and then the app's stream ended or failed
    kClientGone,  // writing to the client failed
  };
  // Relays the app's complete lines in hand in one write, without reading.
  AppLines relay_app_lines();
  // Relays the app's lines that have already arrived, without waiting.
  Flow relay_what_the_app_sent();
  // Discards the link and answers each request still pending on it with
  // the closed-connection error.
  Flow drop_link_and_answer_pending();
  Flow write_out(std::string_view line);

  // Tries to reach the app for a client line that found no link.
  ConnectOutcome connect_for(const Incoming& incoming);
  // A tool call that found the app not running: start it if MCP is on,
  // then wait for it to come up. Never ends in NotRunning.
  ConnectOutcome start_app_and_wait();
  // Connects, replaying the stored opening lines, with the handshake reply
  // awaited until `until` at the latest.
  ConnectOutcome connect_with_replay(std::optional<Clock::TimePoint> until = std::nullopt);
  // The answer to a request that cannot reach the app.
  std::string unreachable_answer(const ClientLine& client_line, OfflineReason reason);

  // Picks one of two ready sources at random, so neither starves the other.
  bool coin_flip();

  int output_fd_;
  const Host& host_;
  Clock& clock_;
  SessionConfig config_;
  harlo_mcp_protocol::ipc::LineReader input_;
  // A client line was not UTF-8: the input counts as failed from there on.
  bool input_unreadable_ = false;
  std::optional<Link> link_;
  // Client lines for the app, waiting for one write: the lines (views into
  // input_'s buffer) and, side by side, what each was classified as.
  struct ToApp {
    std::vector<std::string_view> lines;
    std::vector<Incoming> incoming;
  };
  ToApp to_app_;
  // Client lines that were behind a line whose send failed: handled, in
  // order, before any line read after them.
  std::deque<ClientLine> behind_failed_send_;
  // App lines for the client, gathered for one write.
  std::vector<std::string_view> to_client_;
  // The opening lines a new link replays.
  std::optional<StoredInitialize> initialize_;
  std::optional<std::string> initialized_line_;
  offline::OfflineMemory offline_memory_;
  uint64_t random_state_;
};

}  // namespace harlo_mcp
