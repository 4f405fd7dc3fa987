// Treats the input as the bytes arriving on one of the bridge's streams:
// they go through a pipe into LineReader, and every line it delivers goes
// through classify. Checks that
//   - LineReader delivers exactly the lines of a plain split of the bytes
//     (at LF, one CR before the LF removed, a last line without LF kept),
//     UTF-8 or not, however the bytes are cut into reads, and that ready()
//     agrees with next();
//   - classify agrees with a classification worked out here from read_json
//     alone: the same kind, the same method text, and an id equal by
//     json_equal, by json_hash and by its write_json text;
//   - classify_line, given every line of a plain split whether UTF-8 or
//     not, answers nothing exactly for the lines that are not UTF-8, and
//     otherwise what classify answers;
//   - classify_line, given the reader's scan of each line it delivers
//     (made while the bytes arrived), answers what it answers for the line.
// The bytes are written into the pipe in chunks whose sizes come from a
// generator seeded by the input, so one input always splits the same way
// while different inputs cut lines, and the buffer's growth, at different
// places.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "harlo_mcp/classify.h"
#include "harlo_mcp_protocol/line_reader.h"
#include "mcp_wire/json.h"
#include "platform/unique_fd.h"

namespace {

using harlo_fuzz::fail;
using harlo_fuzz::printable;
using harlo_mcp_protocol::ipc::LineReader;
using harlo_platform::UniqueFd;
using mcp_wire::Json;

// ---- Framing ---------------------------------------------------------------

// What a reader made of a stream: its lines in order, and whether it ended
// with a read error (otherwise at the end of the stream).
struct Framing {
  std::vector<std::string> lines;
  bool error = false;
  // From the reader: classify_line of its scan of each line.
  std::vector<std::optional<harlo_mcp::Incoming>> scanned;
};

// Whether `bytes` is well-formed UTF-8. Decodes each code point and checks
// its value, where the bridge's own check works on byte ranges, so a slip
// in either shows up as a mismatch.
bool is_utf8(std::string_view bytes) {
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    size_t length;
    uint32_t code_point;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code_point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code_point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code_point = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < kSmallest[length] || code_point > 0x10FFFF) return false;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) return false;
    i += length;
  }
  return true;
}

// The framing of `stream` worked out in one pass over the whole text.
Framing split_lines(std::string_view stream) {
  Framing framing;
  size_t start = 0;
  while (start < stream.size()) {
    const size_t newline = stream.find('\n', start);
    std::string_view line = stream.substr(start, newline - start);
    if (newline != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    framing.lines.emplace_back(line);
    if (newline == std::string_view::npos) break;
    start = newline + 1;
  }
  return framing;
}

// Sizes of the writes into the pipe: an xorshift generator seeded by the
// FNV-1a hash of the input. Mixes a few bytes, up to a kilobyte, about one
// initial buffer of the reader, and everything left.
class ChunkSizes {
 public:
  explicit ChunkSizes(std::string_view input) {
    for (const char c : input) {
      state_ = (state_ ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
  }

  size_t next(size_t left) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    const uint64_t r = state_ >> 2;
    size_t size;
    switch (state_ & 3) {
      case 0:
        size = 1 + r % 16;
        break;
      case 1:
        size = 1 + r % 1024;
        break;
      case 2:
        size = LineReader::kInitialCapacity - 8 + r % 16;
        break;
      default:
        size = left;
        break;
    }
    return std::min(size, left);
  }

 private:
  uint64_t state_ = 0xcbf29ce484222325ull;
};

void set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    fail("cannot make a pipe non-blocking", std::strerror(errno));
  }
}

// The framing of `stream` as LineReader delivers it from a non-blocking
// pipe. A chunk is written only when the reader has drained the pipe, so
// each read returns what one write put in (or what fits the buffer).
Framing read_through_line_reader(std::string_view stream) {
  int fds[2];
  if (pipe(fds) != 0) fail("pipe() failed", std::strerror(errno));
  const UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  set_nonblocking(read_end.get());
  set_nonblocking(write_end.get());

  LineReader reader(read_end.get());
  ChunkSizes chunk_sizes(stream);
  Framing framing;
  size_t written = 0;
  for (;;) {
    const bool ready = reader.ready();
    std::string_view line;
    const LineReader::Next next = reader.next(line);
    if (ready != (next != LineReader::Next::kNeedMore)) {
      fail("LineReader::ready() disagrees with next()",
           "ready() said " + std::string(ready ? "true" : "false") + " after " +
               std::to_string(framing.lines.size()) + " lines");
    }
    switch (next) {
      case LineReader::Next::kLine:
        framing.lines.emplace_back(line);
        framing.scanned.push_back(harlo_mcp::classify_line(reader.scanned()));
        continue;
      case LineReader::Next::kEnd:
        return framing;
      case LineReader::Next::kError:
        framing.error = true;
        return framing;
      case LineReader::Next::kNeedMore:
        break;
    }
    switch (reader.fill()) {
      case LineReader::Fill::kData:
      case LineReader::Fill::kEnd:
        continue;
      case LineReader::Fill::kError:
        fail("LineReader::fill() failed on a pipe", std::strerror(errno));
      case LineReader::Fill::kWouldBlock:
        break;
    }
    if (written < stream.size()) {
      const size_t size = chunk_sizes.next(stream.size() - written);
      const ssize_t n = write(write_end.get(), stream.data() + written, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail("write() into an empty pipe failed", std::strerror(errno));
      written += static_cast<size_t>(n);
    } else if (write_end.valid()) {
      write_end.reset();
    } else {
      fail("LineReader::fill() would block on a pipe whose writer has closed");
    }
  }
}

void check_framing(std::string_view stream, const Framing& want, const Framing& got) {
  const size_t common = std::min(want.lines.size(), got.lines.size());
  for (size_t i = 0; i < common; ++i) {
    if (want.lines[i] != got.lines[i]) {
      fail("LineReader delivered a wrong line",
           "line " + std::to_string(i) + "\nLineReader: " + printable(got.lines[i]) +
               "\nexpected:   " + printable(want.lines[i]) + "\nstream: " + printable(stream));
    }
  }
  if (want.lines.size() != got.lines.size() || want.error != got.error) {
    const auto ending = [](const Framing& framing) {
      return std::to_string(framing.lines.size()) + " lines, then " +
             (framing.error ? "a read error" : "the end");
    };
    fail("LineReader framed the stream differently", "LineReader: " + ending(got) +
                                                         "\nexpected:   " + ending(want) +
                                                         "\nstream: " + printable(stream));
  }
}

// ---- Classification ----------------------------------------------------------

enum class Kind { kRequest, kNotification, kResponse, kOther };

struct Classified {
  Kind kind = Kind::kOther;
  std::string method;      // for requests and notifications
  std::optional<Json> id;  // for requests and responses
  bool has_error = false;  // for responses: an "error" member of any value
};

// The classification of `line` from read_json alone: an object's "method"
// member (its text when a string, else "") and its "id" member (any value,
// null included) decide the kind by their presence; a response also tells
// whether it has an "error" member.
Classified reference_classify(std::string_view line) {
  const std::optional<Json> value = mcp_wire::read_json(line);
  if (!value || !value->is_object()) return {};
  bool has_method = false;
  Classified result;
  for (const auto& [name, member] : value->items()) {
    if (name == "method") {
      has_method = true;
      result.method = member.is_string() ? member.get<std::string>() : std::string();
    } else if (name == "id") {
      result.id = member;
    } else if (name == "error") {
      result.has_error = true;
    }
  }
  if (has_method) {
    result.kind = result.id ? Kind::kRequest : Kind::kNotification;
  } else if (result.id) {
    result.kind = Kind::kResponse;
  }
  if (result.kind != Kind::kResponse) result.has_error = false;
  return result;
}

Classified from_incoming(harlo_mcp::Incoming incoming) {
  Classified result;
  if (auto* request = std::get_if<harlo_mcp::Request>(&incoming)) {
    result = {Kind::kRequest, std::move(request->method), std::move(request->id)};
  } else if (auto* notification = std::get_if<harlo_mcp::Notification>(&incoming)) {
    result = {Kind::kNotification, std::move(notification->method), std::nullopt};
  } else if (auto* response = std::get_if<harlo_mcp::Response>(&incoming)) {
    result = {Kind::kResponse, std::string(), std::move(response->id), response->has_error};
  }
  return result;
}

std::string describe(const Classified& classified) {
  static constexpr const char* kNames[] = {"Request", "Notification", "Response", "Other"};
  std::string text = kNames[static_cast<int>(classified.kind)];
  if (classified.kind == Kind::kRequest || classified.kind == Kind::kNotification) {
    text += " method " + printable(classified.method);
  }
  if (classified.id) {
    text += " id " + mcp_wire::write_json(*classified.id) + " (type " + classified.id->type_name() +
            ", hash " + std::to_string(mcp_wire::json_hash(*classified.id)) + ")";
  }
  if (classified.has_error) text += " with an error";
  return text;
}

bool same_id(const Json& a, const Json& b) {
  return mcp_wire::json_equal(a, b) && mcp_wire::json_equal(b, a) &&
         mcp_wire::json_hash(a) == mcp_wire::json_hash(b) &&
         mcp_wire::write_json(a) == mcp_wire::write_json(b);
}

void check_classify(std::string_view line) {
  const Classified want = reference_classify(line);
  const Classified got = from_incoming(harlo_mcp::classify(line));
  const bool same = want.kind == got.kind && want.method == got.method &&
                    want.has_error == got.has_error && want.id.has_value() == got.id.has_value() &&
                    (!want.id || same_id(*want.id, *got.id));
  if (!same) {
    fail("classify disagrees with the reference classification",
         "line:      " + printable(line) + "\nclassify:  " + describe(got) +
             "\nreference: " + describe(want));
  }
}

// Whether two answers of classify_line are the same.
bool same_answer(const std::optional<harlo_mcp::Incoming>& a,
                 const std::optional<harlo_mcp::Incoming>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  const Classified x = from_incoming(*a);
  const Classified y = from_incoming(*b);
  return x.kind == y.kind && x.method == y.method && x.has_error == y.has_error &&
         x.id.has_value() == y.id.has_value() && (!x.id || same_id(*x.id, *y.id));
}

void check_scanned(std::string_view line, const std::optional<harlo_mcp::Incoming>& scanned) {
  const std::optional<harlo_mcp::Incoming> want = harlo_mcp::classify_line(line);
  if (same_answer(want, scanned)) return;
  fail("the reader's scan of a line classifies otherwise than the line",
       "line:      " + printable(line) +
           "\nscan:      " + (scanned ? describe(from_incoming(*scanned)) : "not UTF-8") +
           "\nclassify:  " + (want ? describe(from_incoming(*want)) : "not UTF-8"));
}

void check_classify_line(std::string_view line) {
  const std::optional<harlo_mcp::Incoming> incoming = harlo_mcp::classify_line(line);
  if (incoming.has_value() != is_utf8(line)) {
    fail(incoming ? "classify_line took a line that is not UTF-8"
                  : "classify_line refused a line that is UTF-8",
         "line: " + printable(line));
  }
  if (!incoming) return;
  const Classified want = from_incoming(harlo_mcp::classify(line));
  const Classified got = from_incoming(*incoming);
  if (want.kind != got.kind || want.method != got.method ||
      want.id.has_value() != got.id.has_value() || (want.id && !same_id(*want.id, *got.id))) {
    fail("classify_line disagrees with classify", "line:          " + printable(line) +
                                                      "\nclassify_line: " + describe(got) +
                                                      "\nclassify:      " + describe(want));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  const Framing want = split_lines(stream);
  const Framing got = read_through_line_reader(stream);
  check_framing(stream, want, got);
  for (size_t i = 0; i < got.lines.size(); ++i) {
    check_classify(got.lines[i]);
    check_scanned(got.lines[i], got.scanned[i]);
  }
  for (size_t start = 0; start <= stream.size();) {
    const size_t newline = std::min(stream.find('\n', start), stream.size());
    check_classify_line(stream.substr(start, newline - start));
    start = newline + 1;
  }
  return 0;
}
