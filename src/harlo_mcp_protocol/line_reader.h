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
// counts. A line that is not valid UTF-8 is a read error, unless the reader
// leaves that check to its caller (who may get it for free from parsing the
// line). Lines have no length limit: the buffer starts at 64 KiB and grows
// as a line needs.
//
// The reader does not own the descriptor and never blocks by itself: fill()
// makes one read() call, which blocks only if the descriptor does.
class LineReader {
 public:
  // Large enough that a burst of small messages takes few reads (with
  // 8 KiB, pipelined requests went an eighth slower); pages never written
  // cost no memory.
  static constexpr size_t kInitialCapacity = 65536;

  enum class Utf8 {
    kChecked,       // next() reports a line that is not UTF-8 as kError
    kLeftToCaller,  // next() delivers lines unchecked
  };

  explicit LineReader(int fd, Utf8 utf8 = Utf8::kChecked);

  enum class Next {
    kLine,      // `line` holds the next line
    kNeedMore,  // no complete line is buffered; fill() first
    kEnd,       // the stream ended and every line was delivered
    kError,     // a read failed, or the next line is not UTF-8
  };

  // Takes the next line from what is buffered, without reading. The view
  // stays valid until the next call of fill(), so lines taken one after
  // another can be handled together.
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

  // Whether the buffer, empty now, grew large for a long line. It is kept
  // for the next long line, since writing into fresh pages costs more
  // than the bytes themselves, until give_back_memory().
  bool holds_spare_memory() const;
  // Shrinks such a buffer back to its initial size.
  void give_back_memory();

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
  bool check_utf8_;
};

}  // namespace harlo_mcp_protocol::ipc
