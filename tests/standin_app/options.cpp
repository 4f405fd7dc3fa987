#include "standin_app/options.h"

#include <charconv>
#include <system_error>

#include "mcp_wire/json.h"

namespace harlo_standin {
namespace {

using mcp_wire::Json;

bool parse_count(std::string_view text, long* out) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return false;
  *out = value;
  return true;
}

// The accepting reply padded to exactly `size` bytes before its LF, the CR
// of --crlf included; nothing when `size` is too small for the frame.
std::optional<std::string> padded_reply(long size, bool crlf) {
  constexpr std::string_view kHead = R"({"ok":true,"pad":")";
  constexpr std::string_view kTail = R"("})";
  const long frame = static_cast<long>(kHead.size() + kTail.size()) + (crlf ? 1 : 0);
  if (size < frame) return std::nullopt;
  std::string reply(kHead);
  reply.append(static_cast<size_t>(size - frame), 'x');
  reply += kTail;
  return reply;
}

// The list that a repeatable line switch adds to, or nullptr for any other
// switch.
std::vector<std::string>* written_lines(std::string_view name, Options* options) {
  if (name == "--on-connect") return &options->on_connect;
  if (name == "--before-initialize-reply") return &options->before_initialize_reply;
  if (name == "--before-reply") return &options->before_reply;
  return nullptr;
}

}  // namespace

ParseResult parse_options(int argc, char** argv, Options* options, std::string* error) {
  std::optional<long> reply_size;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    const auto count = [&](long* out) {
      const std::optional<std::string> text = value();
      return text && parse_count(*text, out);
    };
    bool ok = true;
    if (name == "--help") {
      return ParseResult::kHelp;
    } else if (name == "--socket") {
      ok = (options->socket_path = value()).has_value();
    } else if (name == "--reject") {
      options->handshake_mode = HandshakeMode::kReplyAndClose;
      options->handshake_reply = R"({"error":"outdated"})";
    } else if (name == "--reject-version") {
      const std::optional<std::string> version = value();
      ok = version.has_value();
      if (ok) {
        options->handshake_mode = HandshakeMode::kReplyAndClose;
        options->handshake_reply =
            mcp_wire::write_json(Json::object({{"error", "outdated"}, {"version", *version}}));
      }
    } else if (name == "--handshake-reply") {
      const std::optional<std::string> text = value();
      ok = text.has_value();
      if (ok) {
        options->handshake_mode = HandshakeMode::kReplyAndServe;
        options->handshake_reply = *text;
      }
    } else if (name == "--handshake-reply-size") {
      long size = 0;
      ok = count(&size);
      if (ok) reply_size = size;
    } else if (name == "--no-handshake-reply") {
      options->handshake_mode = HandshakeMode::kClose;
    } else if (name == "--silent-handshake") {
      options->handshake_mode = HandshakeMode::kSilent;
    } else if (std::vector<std::string>* lines = written_lines(name, options)) {
      const std::optional<std::string> line = value();
      ok = line.has_value();
      if (ok) lines->push_back(*line);
    } else if (name == "--no-answer-method") {
      const std::optional<std::string> method = value();
      ok = method.has_value();
      if (ok) options->unanswered_methods.insert(*method);
    } else if (name == "--initialize-error") {
      options->initialize_error = true;
    } else if (name == "--initialize-silent") {
      options->initialize_silent = true;
    } else if (name == "--never-answer") {
      options->never_answer = true;
    } else if (name == "--delay-ms") {
      long ms = 0;
      ok = count(&ms);
      options->delay = std::chrono::milliseconds(ms);
    } else if (name == "--close-after") {
      long n = 0;
      ok = count(&n);
      options->close_after = n;
    } else if (name == "--close-mid-line") {
      options->close_mid_line = true;
    } else if (name == "--crlf") {
      options->crlf = true;
    } else if (name == "--record") {
      ok = (options->record_file = value()).has_value();
    } else {
      *error = "unknown switch " + std::string(name);
      return ParseResult::kBad;
    }
    if (!ok) {
      *error = "missing or bad value for " + std::string(name);
      return ParseResult::kBad;
    }
  }
  if (reply_size) {
    const std::optional<std::string> reply = padded_reply(*reply_size, options->crlf);
    if (!reply) {
      *error = "--handshake-reply-size is too small for the reply's frame";
      return ParseResult::kBad;
    }
    options->handshake_mode = HandshakeMode::kReplyAndServe;
    options->handshake_reply = *reply;
  }
  return ParseResult::kRun;
}

}  // namespace harlo_standin
