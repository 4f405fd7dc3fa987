// harlo-bench-app: a fast stand-in for the desktop app, for the relay
// benchmark. It plays the app's side of the link and nothing more, and does
// so cheaply, so that what the benchmark measures is the relay.
//
//   harlo-bench-app <socket path>
//
// Listens on the socket (an old file at the path is removed first), then
// prints "listening" and a line feed to standard output. Serves one
// connection at a time, on one thread:
//
//   1. the first line must be the bridge's handshake {"harlo":"0.10.0"};
//      it is answered with {"ok":true}, anything else with an error, after
//      which the connection is closed;
//   2. every later line that holds "method" and "id" is a request, answered
//      with {"jsonrpc":"2.0","id":<id>,"result":{}}, the id copied as it
//      was written; lines without either are not answered;
//   3. a request whose method is "bench/big", with params {"bytes":N}, is
//      answered with one line of about N bytes whose result holds realistic
//      database rows (see payload.h); each size is generated once.
//
// Requests come from the benchmark itself, so they are read by a simple
// scan, not a JSON parser: the first "id": in the line is the id, and its
// value runs to the next "," or "}" (or to the closing quote of a string).
//
// The app ends, with status 0, when its standard input ends: the benchmark
// keeps the other end open for as long as it needs the app.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "harlo_mcp_protocol/ipc.h"
#include "payload.h"

namespace {

constexpr std::string_view kAccepted = "{\"ok\":true}\n";
constexpr std::string_view kRefused = "{\"error\":\"not a bridge handshake\"}\n";
constexpr std::string_view kBigMethod = "\"method\":\"bench/big\"";
constexpr std::string_view kBytesParam = "\"bytes\":";
constexpr size_t kReadSize = 256 * 1024;
// While this much waits to be sent, no more requests are read: the relay
// then feels the same back-pressure it would from a busy app.
constexpr size_t kMaxQueued = 4 * 1024 * 1024;
// Small answers are gathered into pieces of about this size.
constexpr size_t kPieceSize = 64 * 1024;

[[noreturn]] void fail(std::string_view what) {
  std::string text = "harlo-bench-app: ";
  text += what;
  text += ": ";
  text += std::strerror(errno);
  text += '\n';
  ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
  std::exit(1);
}

void set_flags(int fd) {
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) fail("fcntl");
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
}

int listen_on(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    fail(path);
  }
  std::strcpy(address.sun_path, path);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) fail("socket");
  set_flags(fd);
  unlink(path);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) fail(path);
  if (listen(fd, 16) != 0) fail("listen");
  return fd;
}

void write_all_blocking(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("write");
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// True when standard input has ended (or failed): time to go.
bool input_ended() {
  char byte[64];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, byte, sizeof byte);
    if (n > 0) continue;  // nothing is expected there; ignore it
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    return true;
  }
}

// The value of the first "id" member, as written; empty when there is none.
std::string_view find_id(std::string_view line) {
  constexpr std::string_view kKey = "\"id\":";
  const size_t at = line.find(kKey);
  if (at == std::string_view::npos) return {};
  const size_t begin = at + kKey.size();
  size_t end = begin;
  if (end < line.size() && line[end] == '"') {
    for (++end; end < line.size() && line[end] != '"'; ++end) {
      if (line[end] == '\\') ++end;
    }
    if (end < line.size()) ++end;  // the closing quote
  } else {
    while (end < line.size() && line[end] != ',' && line[end] != '}') ++end;
  }
  return line.substr(begin, end - begin);
}

// Results of bench/big, one per size asked for, kept for the whole run.
class Payloads {
 public:
  const std::string& of_size(size_t bytes) {
    auto [it, inserted] = payloads_.try_emplace(bytes);
    if (inserted) it->second = harlo_bench::result_rows(bytes);
    return it->second;
  }

 private:
  std::unordered_map<size_t, std::string> payloads_;
};

// Bytes waiting to be sent: small answers gathered in owned pieces, large
// results referenced where they are kept, never copied.
class Outbox {
 public:
  void add(std::string_view text) {
    if (pieces_.empty() || pieces_.back().shared != nullptr ||
        pieces_.back().own.size() + text.size() > kPieceSize) {
      pieces_.emplace_back();
      pieces_.back().own.reserve(kPieceSize);
    }
    pieces_.back().own += text;
    queued_ += text.size();
  }
  void add_shared(const std::string& text) {
    pieces_.push_back(Piece{{}, &text});
    queued_ += text.size();
  }

  size_t queued() const { return queued_; }

  // Writes what the socket takes now. False when the write fails.
  bool flush(int fd) {
    while (!pieces_.empty()) {
      iovec parts[64];
      int count = 0;
      size_t skip = offset_;
      for (const Piece& piece : pieces_) {
        if (count == 64) break;
        const std::string_view text = piece.text();
        parts[count].iov_base = const_cast<char*>(text.data() + skip);
        parts[count].iov_len = text.size() - skip;
        skip = 0;
        ++count;
      }
      const ssize_t n = writev(fd, parts, count);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
      }
      consume(static_cast<size_t>(n));
    }
    return true;
  }

 private:
  struct Piece {
    std::string own;
    const std::string* shared = nullptr;
    std::string_view text() const { return shared != nullptr ? *shared : own; }
  };

  void consume(size_t n) {
    queued_ -= n;
    while (n > 0) {
      const size_t left = pieces_.front().text().size() - offset_;
      if (n < left) {
        offset_ += n;
        return;
      }
      n -= left;
      offset_ = 0;
      pieces_.pop_front();
    }
  }

  std::deque<Piece> pieces_;
  size_t offset_ = 0;  // bytes of the front piece already sent
  size_t queued_ = 0;
};

class Connection {
 public:
  Connection(int fd, Payloads& payloads) : fd_(fd), payloads_(payloads), in_(kReadSize) {}

  // Serves the connection until the peer closes it, then closes it. False
  // when standard input ended meanwhile: the app must stop.
  bool serve() {
    bool peer_done = false;
    for (;;) {
      if (!out_.flush(fd_)) break;
      if (peer_done && out_.queued() == 0) break;
      pollfd watches[2] = {{fd_, 0, 0}, {STDIN_FILENO, POLLIN, 0}};
      if (!peer_done && out_.queued() < kMaxQueued) watches[0].events |= POLLIN;
      if (out_.queued() > 0) watches[0].events |= POLLOUT;
      if (poll(watches, 2, -1) < 0) {
        if (errno == EINTR) continue;
        fail("poll");
      }
      if (watches[1].revents != 0 && input_ended()) {
        close(fd_);
        return false;
      }
      if ((watches[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !peer_done) {
        peer_done = !take_input();
      }
    }
    close(fd_);
    return true;
  }

 private:
  // Reads what is there and answers the complete lines. False at the end
  // of the stream, after a failed read, or after a refused handshake.
  bool take_input() {
    if (end_ == in_.size()) {
      if (start_ > 0) {
        std::memmove(in_.data(), in_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
      } else {
        in_.resize(in_.size() * 2);
      }
    }
    ssize_t n;
    do {
      n = read(fd_, in_.data() + end_, in_.size() - end_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0) return false;
    end_ += static_cast<size_t>(n);
    for (;;) {
      const char* begin = in_.data() + start_;
      const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', end_ - start_));
      if (newline == nullptr) break;
      std::string_view line(begin, static_cast<size_t>(newline - begin));
      start_ += line.size() + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (!answer(line)) return false;
    }
    if (start_ == end_) start_ = end_ = 0;
    return true;
  }

  bool answer(std::string_view line) {
    if (!greeted_) {
      greeted_ = true;
      const std::string_view handshake = harlo_mcp_protocol::ipc::kHandshakeLine;
      const bool ok = line == handshake.substr(0, handshake.size() - 1);
      out_.add(ok ? kAccepted : kRefused);
      return ok;
    }
    if (line.find("\"method\":") == std::string_view::npos) return true;
    const std::string_view id = find_id(line);
    if (id.empty()) return true;  // a notification
    const size_t big = line.find(kBigMethod);
    const size_t bytes_at = big == std::string_view::npos ? big : line.find(kBytesParam, big);
    out_.add(R"({"jsonrpc":"2.0","id":)");
    out_.add(id);
    if (bytes_at == std::string_view::npos) {
      out_.add(",\"result\":{}}\n");
      return true;
    }
    const size_t bytes = std::strtoull(line.data() + bytes_at + kBytesParam.size(), nullptr, 10);
    out_.add(",\"result\":");
    out_.add_shared(payloads_.of_size(bytes));
    out_.add("}\n");
    return true;
  }

  int fd_;
  Payloads& payloads_;
  std::vector<char> in_;
  size_t start_ = 0;
  size_t end_ = 0;
  bool greeted_ = false;
  Outbox out_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    write_all_blocking(STDERR_FILENO, "usage: harlo-bench-app <socket path>\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int listener = listen_on(argv[1]);
  const int stdin_flags = fcntl(STDIN_FILENO, F_GETFL);
  if (stdin_flags < 0 || fcntl(STDIN_FILENO, F_SETFL, stdin_flags | O_NONBLOCK) != 0) {
    fail("standard input");
  }
  write_all_blocking(STDOUT_FILENO, "listening\n");

  Payloads payloads;
  for (;;) {
    pollfd watches[2] = {{listener, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(watches, 2, -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    if (watches[1].revents != 0 && input_ended()) break;
    if (watches[0].revents == 0) continue;
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) {
        continue;
      }
      fail("accept");
    }
    set_flags(fd);
    if (!Connection(fd, payloads).serve()) break;
  }
  unlink(argv[1]);
  return 0;
}
