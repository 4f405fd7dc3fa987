#include "harlo_mcp/session.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "harlo_mcp/error_reply.h"
#include "harlo_mcp/write_line.h"
#include "harlo_mcp_protocol/prefs.h"
#include "platform/platform.h"

namespace harlo_mcp {
namespace {

using harlo_mcp_protocol::ipc::LineReader;

bool is_request(const Incoming& incoming, std::string_view method) {
  const auto* request = std::get_if<Request>(&incoming);
  return request != nullptr && request->method == method;
}

bool is_notification(const Incoming& incoming, std::string_view method) {
  const auto* notification = std::get_if<Notification>(&incoming);
  return notification != nullptr && notification->method == method;
}

}  // namespace

Session::Session(int input_fd, int output_fd, const Host& host, SessionConfig config)
    : output_fd_(output_fd),
      host_(host),
      config_(std::move(config)),
      input_(input_fd, LineReader::Utf8::kLeftToCaller),
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
      const int ready = wait_for(std::span(watches, link_ ? 2 : 1));
      if (ready < 0) return;  // cannot wait on standard input: nothing more can come
      input_ready = watches[0].readable;
      link_ready = link_ && watches[1].readable;
      if (!input_ready && !link_ready) continue;
    }
    const bool take_input = input_ready && (!link_ready || coin_flip());
    if ((take_input ? take_client_lines() : take_app_lines()) == Flow::kEnd) return;
  }
}

int Session::wait_for(std::span<harlo_platform::Watch> watches) {
  const bool holds_spare =
      input_.holds_spare_memory() || (link_ && link_->reader().holds_spare_memory());
  if (!holds_spare) return harlo_platform::wait_for(watches, -1);
  // A buffer grown for a long line is kept while long lines keep coming,
  // and given back once the session has been idle for a while.
  const auto give_back_at = std::chrono::steady_clock::now() + kSpareMemoryHold;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        give_back_at - std::chrono::steady_clock::now());
    const int ready =
        harlo_platform::wait_for(watches, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready != 0) return ready;
    if (left.count() > 0) continue;  // interrupted early
    input_.give_back_memory();
    if (link_) link_->reader().give_back_memory();
    return harlo_platform::wait_for(watches, -1);
  }
}

Session::Flow Session::take_client_lines() {
  bool may_read = true;
  for (;;) {
    std::string_view line;
    const LineReader::Next next = input_.next(line);
    if (next == LineReader::Next::kLine) {
      may_read = false;  // the lines in hand first: a read would move them
      if (handle_client_line(line) == Flow::kEnd) return Flow::kEnd;
      continue;
    }
    if (next == LineReader::Next::kNeedMore && may_read) {
      may_read = false;
      if (input_.fill() != LineReader::Fill::kWouldBlock) continue;
    }
    // Every line in hand is handled: those for the app go in one write.
    if (send_to_app() == Flow::kEnd) return Flow::kEnd;
    return next == LineReader::Next::kNeedMore ? Flow::kGoOn : Flow::kEnd;
  }
}

Session::Flow Session::take_app_lines() {
  LineReader& reader = link_->reader();
  if (!reader.ready() && reader.fill() == LineReader::Fill::kWouldBlock) return Flow::kGoOn;
  switch (relay_app_lines()) {
    case AppLines::kRelayed:
      return Flow::kGoOn;
    case AppLines::kLinkDown:
      return fail_pending();
    case AppLines::kClientGone:
      return Flow::kEnd;
  }
  return Flow::kEnd;
}

Session::AppLines Session::relay_app_lines() {
  LineReader& reader = link_->reader();
  to_client_.clear();
  AppLines status = AppLines::kRelayed;
  for (;;) {
    std::string_view line;
    const LineReader::Next next = reader.next(line);
    if (next == LineReader::Next::kLine) {
      if (const std::optional<Incoming> incoming = classify_line(line)) {
        if (const auto* response = std::get_if<Response>(&*incoming)) {
          link_->pending().remove(response->id);
        }
        to_client_.push_back(line);
        continue;
      }
      status = AppLines::kLinkDown;  // not UTF-8: a read error
    } else if (next != LineReader::Next::kNeedMore) {
      status = AppLines::kLinkDown;
    }
    break;
  }
  if (write_lines(output_fd_, to_client_) != to_client_.size()) return AppLines::kClientGone;
  return status;
}

Session::Flow Session::handle_client_line(std::string_view line) {
  std::optional<Incoming> incoming = classify_line(line);
  if (!incoming) {
    // Not UTF-8: a read error, which ends the session once the lines
    // before it have gone to the app.
    send_to_app();
    return Flow::kEnd;
  }
  const bool opens_initialize = is_request(*incoming, "initialize");
  if (opens_initialize || is_notification(*incoming, "notifications/initialized")) {
    // What a new link replays is what the lines before this one had: they
    // go out first, since a failed send makes the lines behind it connect.
    if (send_to_app() == Flow::kEnd) return Flow::kEnd;
    (opens_initialize ? initialize_line_ : initialized_line_).emplace(line);
  }

  if (link_) {
    queue_for_app(line, std::move(*incoming));
    return Flow::kGoOn;
  }
  if (std::holds_alternative<Notification>(*incoming)) return Flow::kGoOn;  // dropped

  ConnectOutcome outcome = connect_for(*incoming);
  if (auto* link = std::get_if<Link>(&outcome)) {
    link_.emplace(std::move(*link));
    queue_for_app(line, std::move(*incoming));
    return Flow::kGoOn;
  }
  const auto* request = std::get_if<Request>(&*incoming);
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

void Session::queue_for_app(std::string_view line, Incoming incoming) {
  if (auto* request = std::get_if<Request>(&incoming)) {
    to_app_.requests.emplace_back(to_app_.lines.size(), std::move(request->id));
  }
  to_app_.lines.push_back(line);
}

Session::Flow Session::send_to_app() {
  while (!to_app_.lines.empty()) {
    ToApp batch = std::exchange(to_app_, {});
    const size_t sent = link_->send_lines(batch.lines);
    // The requests sent, and the one whose send failed, await answers.
    for (auto& [index, id] : batch.requests) {
      if (index > sent) break;
      link_->pending().add(std::move(id));
    }
    if (sent == batch.lines.size()) continue;
    // The app may have answered before it went away: what it sent is relayed
    // first, so that those requests get their answers, not the closed reply.
    if (relay_what_the_app_sent() == Flow::kEnd) return Flow::kEnd;
    if (fail_pending() == Flow::kEnd) return Flow::kEnd;
    // The lines behind the failed one find no link, as if they came later.
    for (size_t i = sent + 1; i < batch.lines.size(); ++i) {
      if (handle_client_line(batch.lines[i]) == Flow::kEnd) return Flow::kEnd;
    }
  }
  return Flow::kGoOn;
}

Session::Flow Session::relay_what_the_app_sent() {
  for (;;) {
    switch (relay_app_lines()) {
      case AppLines::kRelayed:
        break;
      case AppLines::kLinkDown:
        return Flow::kGoOn;
      case AppLines::kClientGone:
        return Flow::kEnd;
    }
    // Only what has arrived: the socket never blocks here.
    if (link_->reader().fill() == LineReader::Fill::kWouldBlock) return Flow::kGoOn;
  }
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
