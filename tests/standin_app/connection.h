// One connection from a bridge, served from its handshake to its end.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "standin_app/options.h"

namespace harlo_standin {

// Writes all of `data` to `fd`, retrying after interruptions and short
// writes; false on any error (the peer went away).
bool write_all(int fd, std::string_view data);

// The --record file, shared by all connections.
class Recorder {
 public:
  // Opens `path` for appending; false when it cannot be opened.
  bool open(const std::string& path);

  // Appends `line` and an LF in one write, so that lines from concurrent
  // connections never interleave. Does nothing when no file was opened.
  void record(std::string_view line);

 private:
  std::mutex mutex_;
  int fd_ = -1;
};

// Serves the accepted connection `fd` as `options` say, recording every
// line received with `recorder`; blocks until the connection is done. Owns
// `fd`: shuts it down and closes it at the end, so that the bridge sees the
// end of the stream.
void serve_connection(const Options& options, Recorder& recorder, int fd);

}  // namespace harlo_standin
