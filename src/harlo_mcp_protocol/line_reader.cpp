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

bool LineReader::ready() {
  if (ended_ || failed_) return true;
  if (scan_ < end_) {
    if (std::memchr(buffer_.get() + scan_, '\n', end_ - scan_) != nullptr) return true;
    scan_ = end_;
  }
  return false;
}

LineReader::Next LineReader::next(std::string_view& line) {
  char* const data = buffer_.get();
  const auto* newline = static_cast<char*>(std::memchr(data + scan_, '\n', end_ - scan_));
  size_t length;
  if (newline != nullptr) {
    const size_t at = static_cast<size_t>(newline - data);
    length = at - start_;
    if (length > 0 && data[at - 1] == '\r') --length;
    line = std::string_view(data + start_, length);
    start_ = scan_ = at + 1;
  } else {
    scan_ = end_;
    if (failed_) return Next::kError;
    if (!ended_) return Next::kNeedMore;
    if (start_ == end_) return Next::kEnd;
    line = std::string_view(data + start_, end_ - start_);
    start_ = scan_ = end_;
  }
  return Next::kLine;
}

LineReader::Fill LineReader::fill() {
  if (failed_) return Fill::kError;
  if (ended_) return Fill::kEnd;
  if (start_ == end_) start_ = end_ = scan_ = 0;
  if (end_ == capacity_) {
    if (start_ > 0) {
      // Move the partial line to the front to make room behind it.
      std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
      end_ -= start_;
      scan_ -= start_;
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
  start_ = end_ = scan_ = 0;
}

}  // namespace harlo_mcp_protocol::ipc
