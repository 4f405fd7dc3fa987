#include "standin_app/connection.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <thread>
#include <utility>

#include "mcp_wire/json.h"

namespace harlo_standin {
namespace {

using mcp_wire::Json;

constexpr std::string_view kDefaultProtocolVersion = "2025-06-18";
constexpr std::string_view kAppVersion = "0.10.0";

// Reads LF-terminated lines from a socket. A last line without LF at the end
// of the stream is still delivered.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line without its LF (a CR before it is kept), or nothing at the
  // end of the stream or on a read error. Blocks until then.
  std::optional<std::string> next() {
    for (;;) {
      const size_t lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        std::string line = buffer_.substr(0, lf);
        buffer_.erase(0, lf + 1);
        return line;
      }
      if (ended_) {
        if (buffer_.empty()) return std::nullopt;
        return std::exchange(buffer_, {});
      }
      char chunk[8192];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ended_ = true;
        continue;
      }
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
  bool ended_ = false;
};

Json result_response(const Json& id, Json result) {
  Json response = Json::object();
  response["jsonrpc"] = "2.0";
  response["id"] = id;
  response["result"] = std::move(result);
  return response;
}

Json error_response(const Json& id, int code, std::string_view message) {
  Json error = Json::object();
  error["code"] = code;
  error["message"] = message;
  Json response = Json::object();
  response["jsonrpc"] = "2.0";
  response["id"] = id;
  response["error"] = std::move(error);
  return response;
}

Json initialize_result(const Json& params) {
  Json result = Json::object();
  const bool asked = params.is_object() && params.contains("protocolVersion") &&
                     params["protocolVersion"].is_string();
  result["protocolVersion"] = asked ? params["protocolVersion"] : Json(kDefaultProtocolVersion);
  result["capabilities"] = Json::object({{"tools", Json::object()}});
  result["serverInfo"] = Json::object({{"name", "Harlo"}, {"version", kAppVersion}});
  return result;
}

Json tools_list_result() {
  Json schema = Json::object({{"type", "object"}, {"properties", Json::object()}});
  Json tool = Json::object();
  tool["name"] = "list_connections";
  tool["description"] = "List the connections the user has opened to AI access.";
  tool["inputSchema"] = std::move(schema);
  return Json::object({{"tools", Json::array({std::move(tool)})}});
}

Json tools_call_result(const Json& params) {
  std::string name;
  if (params.is_object() && params.contains("name") && params["name"].is_string()) {
    name = params["name"].get<std::string>();
  }
  Json text = Json::object({{"type", "text"}, {"text", "called " + name}});
  return Json::object({{"content", Json::array({std::move(text)})}});
}

// The answer to one request; the id is copied, never converted.
Json answer(const Options& options, const std::string& method, const Json& id, const Json& params) {
  if (method == "initialize") {
    if (options.initialize_error) return error_response(id, -32603, "initialize failed");
    return result_response(id, initialize_result(params));
  }
  if (method == "ping") return result_response(id, Json::object());
  if (method == "tools/list") return result_response(id, tools_list_result());
  if (method == "tools/call") return result_response(id, tools_call_result(params));
  return error_response(id, -32601, "method not found");
}

bool withheld(const Options& options, const std::string& method) {
  if (options.never_answer) return true;
  if (method == "initialize" && options.initialize_silent) return true;
  return options.unanswered_methods.count(method) != 0;
}

class Connection {
 public:
  Connection(const Options& options, Recorder& recorder, int fd)
      : options_(options), recorder_(recorder), fd_(fd), reader_(fd) {}

  ~Connection() {
    // The shutdown ends the stream for the bridge at once and refuses its
    // further writes. What it sent before and was never read is emptied
    // out: closing a socket with unread data would make the bridge's next
    // read fail (ECONNRESET) instead of showing it the end of the stream.
    ::shutdown(fd_, SHUT_RDWR);
    for (;;) {
      char unread[4096];
      const ssize_t n = ::recv(fd_, unread, sizeof unread, MSG_DONTWAIT);
      if (n > 0 || (n < 0 && errno == EINTR)) continue;
      break;
    }
    ::close(fd_);
  }

  void serve() {
    const std::optional<std::string> handshake = reader_.next();
    if (!handshake) return;
    recorder_.record(*handshake);
    switch (options_.handshake_mode) {
      case HandshakeMode::kClose:
        return;
      case HandshakeMode::kSilent:
        record_until_end();
        return;
      case HandshakeMode::kReplyAndClose:
        send_line(options_.handshake_reply);
        return;
      case HandshakeMode::kReplyAndServe:
        if (!send_line(options_.handshake_reply)) return;
        break;
    }
    for (const std::string& line : options_.on_connect) {
      if (!send_line(line)) return;
    }
    if (options_.close_after && *options_.close_after == 0) return;
    speak_json_rpc();
  }

 private:
  // Writes `line` and its terminator as one piece.
  bool send_line(std::string_view line) {
    std::string text(line);
    text += options_.crlf ? "\r\n" : "\n";
    return write_all(fd_, text);
  }

  bool send_lines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      if (!send_line(line)) return false;
    }
    return true;
  }

  void record_until_end() {
    while (const std::optional<std::string> line = reader_.next()) recorder_.record(*line);
  }

  void speak_json_rpc() {
    long answered = 0;
    while (const std::optional<std::string> line = reader_.next()) {
      recorder_.record(*line);
      std::string_view text = *line;
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
      const std::optional<Json> message = mcp_wire::read_json(text);
      if (!message || !message->is_object()) continue;
      if (!message->contains("method") || !(*message)["method"].is_string()) continue;
      if (!message->contains("id")) continue;  // a notification
      const std::string method = (*message)["method"].get<std::string>();
      const Json& id = (*message)["id"];
      const Json params = message->contains("params") ? (*message)["params"] : Json();

      if (options_.delay.count() > 0) std::this_thread::sleep_for(options_.delay);
      const bool is_initialize = method == "initialize";
      if (!send_lines(is_initialize ? options_.before_initialize_reply : options_.before_reply)) {
        return;
      }
      if (withheld(options_, method)) continue;

      const std::string reply = mcp_wire::write_json(answer(options_, method, id, params));
      ++answered;
      const bool last = options_.close_after && answered >= *options_.close_after;
      if (last && options_.close_mid_line) {
        write_all(fd_, std::string_view(reply).substr(0, reply.size() / 2));
        return;
      }
      if (!send_line(reply) || last) return;
    }
  }

  const Options& options_;
  Recorder& recorder_;
  int fd_;
  LineReader reader_;
};

}  // namespace

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool Recorder::open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

void Recorder::record(std::string_view line) {
  if (fd_ < 0) return;
  std::string text(line);
  text += '\n';
  const std::lock_guard<std::mutex> lock(mutex_);
  write_all(fd_, text);
}

void serve_connection(const Options& options, Recorder& recorder, int fd) {
  Connection(options, recorder, fd).serve();
}

}  // namespace harlo_standin
