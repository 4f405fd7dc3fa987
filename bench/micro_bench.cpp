// Micro-benchmarks of the bridge's per-line work: classifying a line, line
// framing over a pipe, and building an error reply. Where Debian's
// simdjson is installed, its parse of the 1 MiB response is timed beside
// the bridge's own scan, as a yardstick.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "harlo_mcp/classify.h"
#include "harlo_mcp/error_reply.h"
#include "harlo_mcp_protocol/line_reader.h"
#include "mcp_wire/json_scan.h"
#include "mcp_wire/scan_kernels.h"
#include "payload.h"

#if HARLO_BENCH_SIMDJSON
#include <simdjson.h>
#endif

namespace {

using harlo_mcp_protocol::ipc::LineReader;

constexpr size_t kMiB = 1 << 20;

const std::string& small_request() {
  static const std::string line =
      R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"query","arguments":{"sql":"SELECT 1"}}})";
  return line;
}

// A tool call that carries rows to insert: about 8 KiB.
const std::string& medium_request() {
  static const std::string line =
      R"({"jsonrpc":"2.0","id":"call-42","method":"tools/call","params":{"name":"insert_rows","arguments":)" +
      harlo_bench::result_rows(8 * 1024) + "}}";
  return line;
}

// The answer to a query that returned 1 MiB of rows.
const std::string& large_response() {
  static const std::string line = harlo_bench::response_line("9", harlo_bench::result_rows(kMiB));
  return line;
}

void BM_Classify(benchmark::State& state, const std::string& (*line)()) {
  const std::string& text = line();
  if (std::holds_alternative<harlo_mcp::Other>(harlo_mcp::classify(text))) {
    state.SkipWithError("the line does not read as a message");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(harlo_mcp::classify(text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK_CAPTURE(BM_Classify, small_request, small_request);
BENCHMARK_CAPTURE(BM_Classify, medium_request_8k, medium_request);
BENCHMARK_CAPTURE(BM_Classify, response_1m, large_response);

// The 1 MiB response as the reader scans it: fed to a LineScanner in
// 64 KiB reads (a pipe's), each call seeing the line's bytes so far.
void BM_ScanWhileReading(benchmark::State& state) {
  const std::string text = large_response() + "\n";
  constexpr size_t kRead = 64 * 1024;
  mcp_wire::LineScanner scanner(harlo_mcp_protocol::ipc::kEnvelopeMembers);
  for (auto _ : state) {
    std::optional<size_t> length;
    for (size_t read = kRead; !length; read += kRead) {
      length = scanner.feed(std::string_view(text).substr(0, std::min(read, text.size())));
    }
    if (scanner.line(std::string_view(text).substr(0, *length)).verdict !=
        mcp_wire::ScannedLine::Verdict::kJson) {
      state.SkipWithError("the line does not read as JSON");
      return;
    }
    scanner.next_line();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanWhileReading);

// The kernel that skips the runs of string contents, in both forms, over
// the strings of the 1 MiB response.
void BM_StringRuns(benchmark::State& state, bool vector) {
  const std::string& text = large_response();
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = begin + text.size();
  for (auto _ : state) {
    bool non_ascii = false;
    for (const unsigned char* p = begin; p < end; ++p) {
      p = vector ? mcp_wire::kernels::string_stop(p, end, non_ascii)
                 : mcp_wire::kernels::string_stop_portable(p, end, non_ascii);
    }
    benchmark::DoNotOptimize(non_ascii);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(BM_StringRuns, portable, false);
#if defined(HARLO_SCAN_VECTOR)
BENCHMARK_CAPTURE(BM_StringRuns, vector, true);
#endif

#if HARLO_BENCH_SIMDJSON
// simdjson's full parse of the same line into its document (its own
// validation, with no member lookup).
void BM_Simdjson_Parse(benchmark::State& state) {
  const simdjson::padded_string text(large_response());
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element element;
    if (parser.parse(text).get(element) != simdjson::SUCCESS) {
      state.SkipWithError("simdjson rejects the line");
      return;
    }
    benchmark::DoNotOptimize(element);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Simdjson_Parse);
#endif

// A writer thread that feeds `block` into a pipe again and again until the
// read end closes, so that the reader meets the pipe as the bridge does:
// in chunks of at most the pipe's capacity, with waits between them.
class PipeFeed {
 public:
  explicit PipeFeed(std::string block) : block_(std::move(block)) {
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (pipe(ends) != 0) std::abort();
    for (const int fd : ends) fcntl(fd, F_SETFD, FD_CLOEXEC);
    read_fd_ = ends[0];
    write_fd_ = ends[1];
    writer_ = std::thread([this] { feed(); });
  }
  ~PipeFeed() {
    close(read_fd_);  // the writer's next write fails, and it stops
    writer_.join();
    close(write_fd_);
  }

  int read_fd() const { return read_fd_; }

 private:
  void feed() {
    for (;;) {
      std::string_view left = block_;
      while (!left.empty()) {
        const ssize_t n = write(write_fd_, left.data(), left.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        left.remove_prefix(static_cast<size_t>(n));
      }
    }
  }

  std::string block_;
  int read_fd_ = -1;
  int write_fd_ = -1;
  std::thread writer_;
};

// Reads one line per iteration; `block` must be whole lines.
void read_lines(benchmark::State& state, std::string block) {
  PipeFeed feed(std::move(block));
  LineReader reader(feed.read_fd());
  size_t bytes = 0;
  for (auto _ : state) {
    std::string_view line;
    LineReader::Next next;
    while ((next = reader.next(line)) == LineReader::Next::kNeedMore) {
      if (reader.fill() != LineReader::Fill::kData) break;
    }
    if (next != LineReader::Next::kLine) {
      state.SkipWithError("the pipe gave no line");
      return;
    }
    bytes += line.size() + 1;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_LineReader_SmallLines(benchmark::State& state) {
  std::string block;
  while (block.size() < 64 * 1024) block += small_request() + "\n";
  read_lines(state, std::move(block));
}
// Wall time: the writer's share of the work happens on another thread.
BENCHMARK(BM_LineReader_SmallLines)->UseRealTime();

void BM_LineReader_LargeLine(benchmark::State& state) {
  read_lines(state, large_response() + "\n");
}
BENCHMARK(BM_LineReader_LargeLine)->UseRealTime();

void BM_LineReader_HugeLine(benchmark::State& state) {
  read_lines(state, harlo_bench::response_line("9", harlo_bench::result_rows(32 * kMiB)) + "\n");
}
BENCHMARK(BM_LineReader_HugeLine)->UseRealTime();

void BM_ErrorReply(benchmark::State& state, const harlo_mcp::Json& id) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(harlo_mcp::error_reply(id, harlo_mcp::kClosedConnectionMessage));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK_CAPTURE(BM_ErrorReply, integer_id, harlo_mcp::Json(42));
BENCHMARK_CAPTURE(BM_ErrorReply, string_id, harlo_mcp::Json("call-42"));

}  // namespace

BENCHMARK_MAIN();
