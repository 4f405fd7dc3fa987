#include "harlo_mcp/session.h"

#include <unistd.h>

#include <thread>

#include "harlo_mcp/error_reply.h"
#include "harlo_mcp/write_line.h"
#include "harlo_mcp_protocol/prefs.h"
#include "platform/platform.h"

namespace harlo_mcp {
namespace {

using harlo_mcp_protocol::ipc::LineReader;

// The next line of a source that is ready: one already buffered, else
// what a single read brings.
LineReader::Next take_line(LineReader& reader, std::string_view& line) {
  const LineReader::Next next = reader.next(line);
  if (next != LineReader::Next::kNeedMore) return next;
  if (reader.fill() == LineReader::Fill::kWouldBlock) return next;
  return reader.next(line);
}

bool is_request(const Incoming& incoming, std::string_view method) {
  const auto* request = std::get_if<Request>(&incoming);
  return request != nullptr && request->method == method;
}

}  // namespace

Session::Session(int input_fd, int output_fd, const Host& host, SessionConfig config)
    : output_fd_(output_fd),
      host_(host),
      config_(std::move(config)),
      input_(input_fd),
      random_state_(
          static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
          (static_cast<uint64_t>(getpid()) << 32) ^ 0x9e3779b97f4a7c15ull) {}

bool Session::coin_flip() {
  // xorshift64: plenty for choosing between two sources.
  random_state_ ^= random_state_ << 13;
  random_state_ ^= random_state_ >> 7;
  random_state_ ^= random_state_ << 17;
  return (random_state_ & 1) != 0;
}

void Session::run() {
  for (;;) {
    bool input_ready = input_.ready();
    bool link_ready = link_ && link_->reader().ready();
    if (!input_ready && !link_ready) {
      harlo_platform::Watch watches[2] = {{.fd = input_.fd(), .want_read = true},
                                          {.fd = link_ ? link_->fd() : -1, .want_read = true}};
      const int ready = harlo_platform::wait_for(std::span(watches, link_ ? 2 : 1), -1);
      if (ready < 0) return;  // cannot wait on standard input: nothing more can come
      input_ready = watches[0].readable;
      link_ready = link_ && watches[1].readable;
      if (!input_ready && !link_ready) continue;
    }
    const bool take_input = input_ready && (!link_ready || coin_flip());

    std::string_view line;
    if (take_input) {
      switch (take_line(input_, line)) {
        case LineReader::Next::kLine:
          if (handle_client_line(line) == Flow::kEnd) return;
          break;
        case LineReader::Next::kNeedMore:
          break;
        case LineReader::Next::kEnd:
        case LineReader::Next::kError:
          return;
      }
    } else {
      switch (take_line(link_->reader(), line)) {
        case LineReader::Next::kLine:
          if (handle_app_line(line) == Flow::kEnd) return;
          break;
        case LineReader::Next::kNeedMore:
          break;
        case LineReader::Next::kEnd:
        case LineReader::Next::kError:
          if (fail_pending() == Flow::kEnd) return;
          break;
      }
    }
  }
}

Session::Flow Session::handle_client_line(std::string_view line) {
  const Incoming incoming = classify(line);
  if (is_request(incoming, "initialize")) {
    initialize_line_.emplace(line);
  } else if (const auto* notification = std::get_if<Notification>(&incoming);
             notification != nullptr && notification->method == "notifications/initialized") {
    initialized_line_.emplace(line);
  }

  if (link_) return forward(line, incoming);
  if (std::holds_alternative<Notification>(incoming)) return Flow::kGoOn;  // dropped

  ConnectOutcome outcome = connect_for(incoming);
  if (auto* link = std::get_if<Link>(&outcome)) {
    link_.emplace(std::move(*link));
    return forward(line, incoming);
  }
  const auto* request = std::get_if<Request>(&incoming);
  if (request == nullptr) return Flow::kGoOn;  // responses and unreadable lines: dropped
  return write_out(unreachable_answer(line, request->id, std::get<OfflineReason>(outcome)));
}

ConnectOutcome Session::connect_for(const Incoming& incoming) {
  if (is_request(incoming, "initialize")) {
    return connect_link(config_.socket_path, nullptr, nullptr, config_.timeouts);
  }
  ConnectOutcome outcome = connect_with_replay();
  if (is_request(incoming, "tools/call") && std::get_if<OfflineReason>(&outcome) != nullptr &&
      std::get<OfflineReason>(outcome) == OfflineReason::NotRunning) {
    return start_app_and_wait();
  }
  return outcome;
}

ConnectOutcome Session::connect_with_replay() {
  return connect_link(config_.socket_path, initialize_line_ ? &*initialize_line_ : nullptr,
                      initialized_line_ ? &*initialized_line_ : nullptr, config_.timeouts);
}

ConnectOutcome Session::start_app_and_wait() {
  const auto preferences = config_.preferences_file ? config_.preferences_file() : std::nullopt;
  if (!preferences || !harlo_mcp_protocol::prefs::mcp_enabled(*preferences)) {
    return OfflineReason::Disabled;
  }
  if (host_.launch()) return OfflineReason::LaunchFailed;
  for (int attempt = 0; attempt < config_.launch_attempts; ++attempt) {
    std::this_thread::sleep_for(config_.launch_pause);
    ConnectOutcome outcome = connect_with_replay();
    if (const auto* reason = std::get_if<OfflineReason>(&outcome);
        reason != nullptr && *reason == OfflineReason::NotRunning) {
      continue;
    }
    if (std::holds_alternative<Link>(outcome) && config_.launch_lock) {
      unlink(config_.launch_lock->c_str());  // a failure leaves it to age out
    }
    return outcome;
  }
  return OfflineReason::LaunchFailed;
}

std::string Session::unreachable_answer(std::string_view line, const Json& id,
                                        OfflineReason reason) {
  if (reason == OfflineReason::NotRunning) {
    if (auto answer = offline::answer(line, offline_memory_)) return std::move(*answer);
  }
  return error_reply(id, message_for(reason));
}

Session::Flow Session::forward(std::string_view line, const Incoming& incoming) {
  if (const auto* request = std::get_if<Request>(&incoming)) link_->pending().add(request->id);
  if (link_->send_line(line)) return Flow::kGoOn;
  // The app may have answered before it went away: what it sent is relayed
  // first, so that those requests get their answers, not the closed reply.
  if (relay_what_the_app_sent() == Flow::kEnd) return Flow::kEnd;
  return fail_pending();
}

Session::Flow Session::relay_what_the_app_sent() {
  LineReader& reader = link_->reader();
  for (;;) {
    std::string_view line;
    switch (reader.next(line)) {
      case LineReader::Next::kLine:
        if (handle_app_line(line) == Flow::kEnd) return Flow::kEnd;
        break;
      case LineReader::Next::kNeedMore:
        // Only what has arrived: the socket never blocks here.
        if (reader.fill() == LineReader::Fill::kWouldBlock) return Flow::kGoOn;
        break;
      case LineReader::Next::kEnd:
      case LineReader::Next::kError:
        return Flow::kGoOn;
    }
  }
}

Session::Flow Session::handle_app_line(std::string_view line) {
  const Incoming incoming = classify(line);
  if (const auto* response = std::get_if<Response>(&incoming))
    link_->pending().remove(response->id);
  return write_out(line);
}

Session::Flow Session::fail_pending() {
  Link link = std::move(*link_);
  link_.reset();
  for (const Json& id : link.pending().take_all()) {
    if (write_out(error_reply(id, kClosedConnectionMessage)) == Flow::kEnd) return Flow::kEnd;
  }
  return Flow::kGoOn;  // the socket closes as `link` goes
}

Session::Flow Session::write_out(std::string_view line) {
  return write_line(output_fd_, line) ? Flow::kGoOn : Flow::kEnd;
}

}  // namespace harlo_mcp
