#include "harlo_mcp/session.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "harlo_mcp/error_reply.h"
#include "harlo_mcp/write_line.h"
#include "harlo_mcp_protocol/prefs.h"

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

bool is_not_running(const ConnectOutcome& outcome) {
  const auto* reason = std::get_if<OfflineReason>(&outcome);
  return reason != nullptr && *reason == OfflineReason::NotRunning;
}

}  // namespace

Session::Session(int input_fd, int output_fd, const Host& host, Clock& clock, SessionConfig config)
    : output_fd_(output_fd),
      host_(host),
      clock_(clock),
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
      if (wait_for_input(std::span(watches, link_ ? 2 : 1)) < 0) {
        return;  // cannot wait on standard input: nothing more can come
      }
      input_ready = watches[0].readable;
      link_ready = link_ && watches[1].readable;
      if (!input_ready && !link_ready) continue;
    }
    const bool take_input = input_ready && (!link_ready || coin_flip());
    if ((take_input ? take_client_lines() : take_app_lines()) == Flow::kEnd) return;
  }
}

int Session::wait_for_input(std::span<harlo_platform::Watch> watches) {
  const bool holds_spare =
      input_.holds_spare_memory() || (link_ && link_->reader().holds_spare_memory());
  if (holds_spare) {
    // A buffer grown for a long line is kept while long lines keep coming,
    // and given back once the session has been idle for a while.
    const int ready = clock_.wait(watches, clock_.now() + kSpareMemoryHold);
    if (ready != 0) return ready;
    input_.give_back_memory();
    if (link_) link_->reader().give_back_memory();
  }
  return clock_.wait(watches, std::nullopt);
}

Session::Flow Session::take_client_lines() {
  bool may_read = true;
  for (;;) {
    // Lines left behind by a failed send came before anything still unread.
    if (!behind_failed_send_.empty()) {
      ClientLine client_line = std::move(behind_failed_send_.front());
      behind_failed_send_.pop_front();
      if (handle_client_line(std::move(client_line)) == Flow::kEnd) return Flow::kEnd;
      continue;
    }
    std::string_view line;
    LineReader::Next next = input_unreadable_ ? LineReader::Next::kError : input_.next(line);
    if (next == LineReader::Next::kLine) {
      may_read = false;  // the lines in hand first: a read would move them
      if (std::optional<Incoming> incoming = classify_line(input_.scanned())) {
        if (handle_client_line({line, std::move(*incoming)}) == Flow::kEnd) return Flow::kEnd;
        continue;
      }
      // Not UTF-8: a read error, which ends the session once the lines
      // before it have gone to the app; nothing after it is taken.
      input_unreadable_ = true;
      next = LineReader::Next::kError;
    } else if (next == LineReader::Next::kNeedMore && may_read) {
      may_read = false;
      if (input_.fill() != LineReader::Fill::kWouldBlock) continue;
    }
    // Every line in hand is handled: those for the app go in one write.
    if (send_to_app() == Flow::kEnd) return Flow::kEnd;
    if (!behind_failed_send_.empty()) continue;
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
      return drop_link_and_answer_pending();
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
      if (const std::optional<Incoming> incoming = classify_line(reader.scanned())) {
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

Session::Flow Session::handle_client_line(ClientLine client_line) {
  const Incoming& incoming = client_line.incoming;
  const bool opens_initialize = is_request(incoming, "initialize");
  if (opens_initialize || is_notification(incoming, "notifications/initialized")) {
    // What a new link replays is what the lines before this one had: they
    // go out first. When that send fails, the lines behind the failed one
    // come back before this one, which is handled after them.
    const size_t waiting = behind_failed_send_.size();
    if (send_to_app() == Flow::kEnd) return Flow::kEnd;
    if (const size_t put_back = behind_failed_send_.size() - waiting; put_back > 0) {
      behind_failed_send_.insert(behind_failed_send_.begin() + static_cast<ptrdiff_t>(put_back),
                                 std::move(client_line));
      return Flow::kGoOn;
    }
    if (opens_initialize) {
      initialize_ = StoredInitialize{std::string(client_line.line), std::get<Request>(incoming).id};
    } else {
      initialized_line_.emplace(client_line.line);
    }
  }

  if (link_) {
    queue_for_app(std::move(client_line));
    return Flow::kGoOn;
  }
  if (std::holds_alternative<Notification>(incoming)) return Flow::kGoOn;  // dropped

  ConnectOutcome outcome = connect_for(incoming);
  if (auto* link = std::get_if<Link>(&outcome)) {
    link_.emplace(std::move(*link));
    queue_for_app(std::move(client_line));
    return Flow::kGoOn;
  }
  if (!std::holds_alternative<Request>(incoming)) {
    return Flow::kGoOn;  // responses and unreadable lines: dropped
  }
  return write_out(unreachable_answer(client_line, std::get<OfflineReason>(outcome)));
}

ConnectOutcome Session::connect_for(const Incoming& incoming) {
  if (is_request(incoming, "initialize")) {
    return connect_link(config_.socket_path, nullptr, nullptr,
                        clock_.now() + config_.timeouts.handshake, config_.timeouts.replay, clock_);
  }
  ConnectOutcome outcome = connect_with_replay();
  if (is_request(incoming, "tools/call") && is_not_running(outcome)) return start_app_and_wait();
  return outcome;
}

ConnectOutcome Session::connect_with_replay(std::optional<Clock::TimePoint> until) {
  Clock::TimePoint handshake_deadline = clock_.now() + config_.timeouts.handshake;
  if (until) handshake_deadline = std::min(handshake_deadline, *until);
  return connect_link(config_.socket_path, initialize_ ? &*initialize_ : nullptr,
                      initialized_line_ ? &*initialized_line_ : nullptr, handshake_deadline,
                      config_.timeouts.replay, clock_);
}

ConnectOutcome Session::start_app_and_wait() {
  const auto preferences = config_.preferences_file ? config_.preferences_file() : std::nullopt;
  if (!preferences || !harlo_mcp_protocol::prefs::mcp_enabled(*preferences)) {
    return OfflineReason::Disabled;
  }
  if (host_.launch()) return OfflineReason::LaunchFailed;
  // One window for the whole wait, whatever the app does: no attempt starts,
  // and no handshake reply is awaited, past its end.
  const Clock::TimePoint window_end = clock_.now() + config_.launch_attempts * config_.launch_pause;
  for (int attempt = 0; attempt < config_.launch_attempts; ++attempt) {
    const Clock::TimePoint now = clock_.now();
    if (now >= window_end) break;
    clock_.pause(std::min<std::chrono::milliseconds>(
        config_.launch_pause, std::chrono::ceil<std::chrono::milliseconds>(window_end - now)));
    ConnectOutcome outcome = connect_with_replay(window_end);
    if (is_not_running(outcome)) continue;
    if (std::holds_alternative<Link>(outcome)) host_.app_reached();
    return outcome;
  }
  return OfflineReason::LaunchFailed;
}

std::string Session::unreachable_answer(const ClientLine& client_line, OfflineReason reason) {
  const auto& request = std::get<Request>(client_line.incoming);
  if (reason == OfflineReason::NotRunning) {
    if (auto answer = offline::answer(request, client_line.line, offline_memory_)) {
      return std::move(*answer);
    }
  }
  return error_reply(request.id, message_for(reason));
}

void Session::queue_for_app(ClientLine client_line) {
  to_app_.lines.push_back(client_line.line);
  to_app_.incoming.push_back(std::move(client_line.incoming));
}

Session::Flow Session::send_to_app() {
  if (to_app_.lines.empty()) return Flow::kGoOn;
  ToApp batch = std::exchange(to_app_, {});
  const size_t sent = link_->send_lines(batch.lines);
  // The requests sent, and the one whose send failed, await answers.
  const size_t awaiting = std::min(sent + 1, batch.lines.size());
  for (size_t i = 0; i < awaiting; ++i) {
    if (auto* request = std::get_if<Request>(&batch.incoming[i])) {
      link_->pending().add(std::move(request->id));
    }
  }
  if (sent == batch.lines.size()) {
    // Keep the vectors' room for the next batch.
    batch.lines.clear();
    batch.incoming.clear();
    to_app_ = std::move(batch);
    return Flow::kGoOn;
  }
  // The lines behind the failed one find no link, as if they came later;
  // they still come before every line not handled yet.
  for (size_t i = batch.lines.size(); i-- > sent + 1;) {
    behind_failed_send_.push_front({batch.lines[i], std::move(batch.incoming[i])});
  }
  // The app may have answered before it went away: what it sent is relayed
  // first, so that those requests get their answers, not the closed reply.
  if (relay_what_the_app_sent() == Flow::kEnd) return Flow::kEnd;
  return drop_link_and_answer_pending();
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

Session::Flow Session::drop_link_and_answer_pending() {
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
