// Line framing for every stream the bridge reads: standard input and the
// app's socket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "mcp_wire/json_scan.h"

namespace harlo_mcp_protocol::ipc {

// The top-level members of a message that the reader finds in each line,
// in this order: what tells a request, a notification and a response apart.
inline constexpr std::array<std::string_view, 3> kEnvelopeMembers = {"method", "id", "error"};

// Splits the bytes of one descriptor into lines. A line ends at LF; the LF
// and one CR right before it are removed. A last line without LF still
// counts. Lines have no length limit: the buffer starts at 64 KiB and grows
// as a line needs.
//
// Each line is checked as JSON (and as UTF-8) while its bytes arrive, in
// the same pass that finds its end, and its envelope members are found:
// scanned() tells the verdict with the line. Whoever takes a line decides
// what a line that is not UTF-8 means (for the bridge, a read error).
//
// The reader does not own the descriptor and never blocks by itself: only
// fill() reads, with one read() call, which blocks only if the descriptor
// does.
class LineReader {
 public:
  // Large enough that a burst of small messages takes few reads (with
  // 8 KiB, pipelined requests went an eighth slower); pages never written
  // cost no memory.
  static constexpr size_t kInitialCapacity = 65536;

  explicit LineReader(int fd);

  enum class Next {
    kLine,      // `line` holds the next line
    kNeedMore,  // no complete line is buffered; fill() first
    kEnd,       // the stream ended and every line was delivered
    kError,     // a read failed; the lines before it were delivered
  };

  // Takes the next line from what is buffered, without reading. The view
  // points into the reader's buffer and stays valid until the next call of
  // fill() or give_back_memory(), so lines taken one after another can be
  // handled together. Whoever else may call fill() says so (write_lines
  // with this reader as `incoming`, and so Link::send_line).
  Next next(std::string_view& line);

  // The scan of the line next() delivered last, with views into it; valid
  // as long as the line is.
  const mcp_wire::ScannedLine& scanned() const { return scanned_; }

  // Whether next() would answer anything but kNeedMore.
  bool ready();

  enum class Fill {
    kData,        // bytes were added
    kEnd,         // the stream has ended (now or earlier)
    kError,       // the read failed (now or earlier)
    kWouldBlock,  // a non-blocking descriptor has nothing yet
  };

  // Reads once from the descriptor into the buffer, which may move it:
  // every view next() handed out before is invalid afterwards.
  Fill fill();

  int fd() const { return fd_; }

  // Whether the buffer, empty now, grew large for a long line. It is kept
  // for the next long line, since writing into fresh pages costs more
  // than the bytes themselves, until give_back_memory().
  bool holds_spare_memory() const;
  // Shrinks such a buffer back to its initial size; like fill(), it
  // invalidates the views next() handed out.
  void give_back_memory();

 private:
  // Whether the line at start_ is whole; scans what arrived of it.
  bool line_complete();

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
  // The line at start_: its scan so far, and its length up to its LF once
  // that has been read.
  mcp_wire::LineScanner scanner_{kEnvelopeMembers};
  std::optional<size_t> line_length_;
  mcp_wire::ScannedLine scanned_;
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace harlo_mcp_protocol::ipc
