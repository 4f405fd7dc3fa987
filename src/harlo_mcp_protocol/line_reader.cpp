#include "harlo_mcp_protocol/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fatal.h"

namespace harlo_mcp_protocol::ipc {
namespace {

// A buffer up to this size is kept for the reader's whole life.
constexpr size_t kKeepCapacity = 1 << 20;

}  // namespace

namespace {

// Memory for the buffer; running out of it is not a condition the bridge
// can answer, so it ends the process like any failed allocation.
char* allocate(char* old, size_t size) {
  auto* bytes = static_cast<char*>(std::realloc(old, size));
  if (bytes == nullptr) harlo_platform::fatal("out of memory for a line");
  return bytes;
}

}  // namespace

LineReader::LineReader(int fd) : fd_(fd), buffer_(allocate(nullptr, kInitialCapacity)) {}

bool LineReader::line_complete() {
  if (!line_length_) {
    line_length_ = scanner_.feed(std::string_view(buffer_.get() + start_, end_ - start_));
  }
  return line_length_.has_value();
}

bool LineReader::ready() { return ended_ || failed_ || line_complete(); }

LineReader::Next LineReader::next(std::string_view& line) {
  const char* const data = buffer_.get();
  if (line_complete()) {
    const size_t newline = start_ + *line_length_;
    size_t length = *line_length_;
    if (length > 0 && data[newline - 1] == '\r') --length;
    line = std::string_view(data + start_, length);
    start_ = newline + 1;
  } else {
    if (failed_) return Next::kError;
    if (!ended_) return Next::kNeedMore;
    if (start_ == end_) return Next::kEnd;
    line = std::string_view(data + start_, end_ - start_);
    scanner_.finish(line);
    start_ = end_;
  }
  scanned_ = scanner_.line(line);
  scanner_.next_line();
  line_length_.reset();
  return Next::kLine;
}

LineReader::Fill LineReader::fill() {
  if (failed_) return Fill::kError;
  if (ended_) return Fill::kEnd;
  if (start_ == end_) start_ = end_ = 0;
  if (end_ == capacity_) {
    if (start_ > 0) {
      // Move the partial line to the front to make room behind it.
      std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    } else {
      // One line fills the whole buffer: double it.
      buffer_.reset(allocate(buffer_.release(), capacity_ * 2));
      capacity_ *= 2;
    }
  }
  for (;;) {
    const ssize_t n = read(fd_, buffer_.get() + end_, capacity_ - end_);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      return Fill::kData;
    }
    if (n == 0) {
      ended_ = true;
      return Fill::kEnd;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Fill::kWouldBlock;
    failed_ = true;
    return Fill::kError;
  }
}

bool LineReader::holds_spare_memory() const { return start_ == end_ && capacity_ > kKeepCapacity; }

void LineReader::give_back_memory() {
  if (!holds_spare_memory()) return;
  buffer_.reset(allocate(nullptr, kInitialCapacity));
  capacity_ = kInitialCapacity;
  start_ = end_ = 0;
}

}  // namespace harlo_mcp_protocol::ipc
