// Line framing for every stream the bridge reads: standard input and the
// app's socket.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace harlo_mcp_protocol::ipc {

// Splits the bytes of one descriptor into lines. A line ends at LF; the LF
// and one CR right before it are removed. A last line without LF still
// counts. A line that is not valid UTF-8 is a read error. Lines have no
// length limit: the buffer starts at 8192 bytes and grows as a line needs.
//
// The reader does not own the descriptor and never blocks by itself: fill()
// makes one read() call, which blocks only if the descriptor does.
class LineReader {
 public:
  static constexpr size_t kInitialCapacity = 8192;

  explicit LineReader(int fd);

  enum class Next {
    kLine,      // `line` holds the next line
    kNeedMore,  // no complete line is buffered; fill() first
    kEnd,       // the stream ended and every line was delivered
    kError,     // a read failed, or the next line is not UTF-8
  };

  // Takes the next line from what is buffered, without reading. The view
  // stays valid until the next call of next() or fill().
  Next next(std::string_view& line);

  // Whether next() would answer anything but kNeedMore.
  bool ready();

  enum class Fill {
    kData,        // bytes were added
    kEnd,         // the stream has ended (now or earlier)
    kError,       // the read failed (now or earlier)
    kWouldBlock,  // a non-blocking descriptor has nothing yet
  };

  // Reads once from the descriptor into the buffer.
  Fill fill();

  int fd() const { return fd_; }

 private:
  struct Free {
    void operator()(char* bytes) const { std::free(bytes); }
  };

  int fd_;
  // Grown with realloc, which moves a large buffer by remapping its pages
  // rather than copying them.
  std::unique_ptr<char, Free> buffer_;
  size_t capacity_ = kInitialCapacity;
  size_t start_ = 0;  // first byte not yet delivered
  size_t end_ = 0;    // one past the last byte read
  size_t scan_ = 0;   // bytes before this (from start_) hold no LF
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace harlo_mcp_protocol::ipc
