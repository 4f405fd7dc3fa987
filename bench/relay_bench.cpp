// relay_bench: measures the bridge as a whole process against socat, the
// plainest relay there is, both talking to the same stand-in app
// (harlo-bench-app).
//
//   relay_bench [--rounds N] [--quick] [--only PART[,PART...]] [--bridge PATH]
//
// PART is one of round-trip, pipelined, bulk, cold-start and idle; --only
// runs just those (for profiling one of them), the others show "n/a".
// --bridge measures another build of the bridge (an older one, say) in
// place of the one built beside the benchmark.
//
// Each relay is started as a child with pipes on its standard input and
// output, as an AI client starts the bridge. The bridge finds the app's
// socket through a temporary HOME; socat is told the socket path and the
// benchmark sends the handshake line for it. Every measurement runs for
// both relays in every round, in alternating order (bridge first in even
// rounds, socat first in odd ones), and the table shows the median over the
// rounds with its spread (half the range, relative to the median).
//
// Process figures come from /proc and cover every thread of the relay: CPU
// time from each thread's schedstat (nanoseconds; the clock ticks of stat
// where schedstat is missing), wakeups as voluntary plus involuntary
// context switches, and memory as VmHWM (peak) and VmRSS (now) of status.
// Where /proc is missing they show "n/a". Cold starts are timed from just
// before the relay is started to the complete answer to initialize; socat
// has no offline answer, and with the app it needs the client to send the
// handshake and wait for its reply first, as the bridge does for itself.
// Any relay that misbehaves (a wrong answer, an early exit, no answer
// within two minutes) ends the benchmark with a message and status 1.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child.h"
#include "harlo_mcp_protocol/ipc.h"
#include "harlo_mcp_protocol/paths.h"
#include "harlo_paths/harlo_paths.h"
#include "process_stats.h"

namespace {

using namespace harlo_bench;
using namespace std::chrono_literals;

constexpr double kMiB = 1024.0 * 1024.0;

// How much of everything one run does.
struct Plan {
  int rounds = 5;
  int round_trips = 20'000;
  int pipelined = 200'000;
  int cold_starts = 20;  // per round, relay and kind of start
  std::chrono::milliseconds idle{2'000};
  struct Bulk {
    size_t bytes;
    int responses;  // per round and relay
  };
  std::vector<Bulk> bulk = {{1 << 20, 64}, {32 << 20, 8}};
  // Which parts run: round trip, pipelined, bulk, cold start, idle.
  std::array<bool, 5> parts = {true, true, true, true, true};
};

constexpr std::array<std::string_view, 5> kPartNames = {"round-trip", "pipelined", "bulk",
                                                        "cold-start", "idle"};
enum Part { kRoundTrip, kPipelined, kBulk, kColdStart, kIdle };

// The parts named in a comma-separated list, or nothing if one is unknown.
std::optional<std::array<bool, 5>> parse_parts(std::string_view list) {
  std::array<bool, 5> parts{};
  for (;;) {
    const size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    const auto* known = std::find(kPartNames.begin(), kPartNames.end(), name);
    if (known == kPartNames.end()) return std::nullopt;
    parts[static_cast<size_t>(known - kPartNames.begin())] = true;
    if (comma == std::string_view::npos) return parts;
    list.remove_prefix(comma + 1);
  }
}

Plan quick_plan() {
  Plan plan;
  plan.rounds = 1;
  plan.round_trips = 2'000;
  plan.pipelined = 20'000;
  plan.cold_starts = 3;
  plan.idle = 200ms;
  plan.bulk = {{1 << 20, 4}, {32 << 20, 1}};
  return plan;
}

enum Relay { kBridge = 0, kSocat = 1 };
constexpr std::array<const char*, 2> kRelayNames = {"bridge", "socat"};

// Where the benchmark keeps its files: a short HOME whose data directory
// holds the app's socket, and an empty HOME for the bridge without an app.
class Workspace {
 public:
  Workspace() {
    char path[] = "/tmp/hb-XXXXXX";
    if (mkdtemp(path) == nullptr) fatal(errno_text("mkdtemp"));
    root_ = path;
    home_ = root_ + "/h";
    offline_home_ = root_ + "/o";
    const std::string data_dir = harlo_paths::data_dir_in(home_);
    socket_ = harlo_paths::join(data_dir, harlo_mcp_protocol::paths::kSocketFileName);
    if (socket_.size() > harlo_mcp_protocol::paths::kMaxSocketPath) fatal("socket path too long");
    make_dirs(data_dir);
    make_dirs(offline_home_);
  }
  ~Workspace() { remove(); }

  // Removes every file and directory below the root, and the root.
  void remove() {
    if (root_.empty()) return;
    remove_tree(root_);
    root_.clear();
  }

  const std::string& home() const { return home_; }
  const std::string& offline_home() const { return offline_home_; }
  const std::string& socket() const { return socket_; }

 private:
  // Creates `path`, below the root, with its missing parents.
  void make_dirs(const std::string& path) {
    for (size_t at = path.find('/', root_.size() + 1);; at = path.find('/', at + 1)) {
      const std::string dir = path.substr(0, at);
      if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) fatal(errno_text(dir));
      if (at == std::string::npos) return;
    }
  }

  static void remove_tree(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        remove_tree(path + "/" + entry->d_name);
      }
      closedir(dir);
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }

  std::string root_;
  std::string home_;
  std::string offline_home_;
  std::string socket_;
};

// The programs under test and how to start them.
struct Programs {
  std::string bridge = HARLO_MCP_BINARY;
  std::string socat;
  std::string path_variable;
};

std::optional<std::string> find_in_path(std::string_view name, const std::string& path) {
  std::istringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + std::string(name);
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// The benchmark's own requests, each about 100 bytes with its line feed.
std::string request_line(uint64_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":"query","arguments":{"sql":"SELECT 1"}}})"
         "\n";
}

std::string big_request_line(uint64_t id, size_t bytes) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"bench/big","params":{"bytes":)" + std::to_string(bytes) + "}}\n";
}

// The start of the answer to request `id`, through to the id.
std::string answer_head(uint64_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + ",";
}

// The stand-in app's answer to every request_line(id), with its line feed.
size_t small_answer_size(uint64_t id) {
  return std::string_view(R"({"jsonrpc":"2.0","id":,"result":{}})").size() +
         std::to_string(id).size() + 1;
}

constexpr std::string_view kInitializeLine =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"relay-bench","version":"1.0"}}})"
    "\n";
constexpr std::string_view kInitializedLine =
    R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
    "\n";

// One relay process with the benchmark as its client.
class RelayProcess {
 public:
  RelayProcess(Relay relay, const Programs& programs, const Workspace& workspace,
               const std::string& home)
      : relay_(relay),
        child_(start(relay, programs, workspace, home)),
        inbox_(child_.out, kRelayNames[relay]) {}
  ~RelayProcess() { finish(child_, kRelayNames[relay_]); }
  RelayProcess(const RelayProcess&) = delete;
  RelayProcess& operator=(const RelayProcess&) = delete;

  pid_t pid() const { return child_.pid; }
  Inbox& inbox() { return inbox_; }
  void send(std::string_view data) { send_all(child_.in, data, kRelayNames[relay_]); }

  // What a client does first: for socat, the handshake the bridge would
  // send; then initialize, answered, and notifications/initialized.
  void open_session() {
    if (relay_ == kSocat) {
      send(harlo_mcp_protocol::ipc::kHandshakeLine);
      expect(inbox_.line(), "{\"ok\":true}", "handshake reply");
    }
    send(kInitializeLine);
    expect(inbox_.line(), answer_head(0), "initialize answer");
  }

  void finish_session() { send(kInitializedLine); }

  void expect(std::string_view line, std::string_view start, std::string_view what) const {
    if (line.substr(0, start.size()) != start) {
      fatal(std::string(kRelayNames[relay_]) + ": unexpected " + std::string(what) + ": " +
            std::string(line.substr(0, 200)));
    }
  }

 private:
  static Child start(Relay relay, const Programs& programs, const Workspace& workspace,
                     const std::string& home) {
    const std::vector<std::string> env = {"HOME=" + home, "PATH=" + programs.path_variable};
    if (relay == kBridge) return spawn({programs.bridge}, env);
    return spawn({programs.socat, "-b", "65536", "STDIO", "UNIX-CONNECT:" + workspace.socket()},
                 env);
  }

  Relay relay_;
  Child child_;
  Inbox inbox_;
};

// The samples of one figure, one per round and relay.
struct Metric {
  std::string name;
  int decimals = 1;
  bool bridge_only = false;
  std::array<std::vector<double>, 2> samples;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class Bench {
 public:
  Bench(Plan plan, Programs programs, const Workspace& workspace)
      : plan_(std::move(plan)), programs_(std::move(programs)), workspace_(workspace) {}

  void run() {
    Metric& round_trip = add("round trip, ~100 B request, 1 in flight (us)", 1);
    Metric& pipelined = add("pipelined ~100 B requests (messages/s)", 0);
    struct BulkMetrics {
      Metric* rate;
      Metric* cpu;
      Metric* peak;
    };
    std::vector<BulkMetrics> bulk;
    for (const Plan::Bulk& size : plan_.bulk) {
      const std::string label = std::to_string(size.bytes >> 20) + " MiB responses";
      bulk.push_back({&add(label + " (MiB/s)", 1), &add(label + ": relay CPU (ms/MiB)", 2),
                      &add(label + ": relay peak RSS (MiB)", 1)});
    }
    Metric& cold_offline = add("cold start to initialize answer, no app (ms)", 2, true);
    Metric& cold_linked = add("cold start to initialize answer, with app (ms)", 2);
    char idle_label[64];
    std::snprintf(idle_label, sizeof idle_label,
                  "idle %.1f s, linked: ", static_cast<double>(plan_.idle.count()) / 1000);
    Metric& idle_cpu = add(std::string(idle_label) + "relay CPU (ms)", 3);
    Metric& idle_wakeups = add(std::string(idle_label) + "wakeups (context switches)", 0);
    Metric& resting = add("RSS at rest, linked (MiB)", 2);

    for (int round = 0; round < plan_.rounds; ++round) {
      std::cerr << "round " << round + 1 << "/" << plan_.rounds << "..." << std::endl;
      const std::array<Relay, 2> order =
          round % 2 == 0 ? std::array{kBridge, kSocat} : std::array{kSocat, kBridge};
      for (const Relay relay : order) {
        if (!plan_.parts[kRoundTrip]) break;
        round_trip.samples[relay].push_back(measure_round_trip(relay));
      }
      for (const Relay relay : order) {
        if (!plan_.parts[kPipelined]) break;
        pipelined.samples[relay].push_back(measure_pipelined(relay));
      }
      for (size_t i = 0; i < plan_.bulk.size() && plan_.parts[kBulk]; ++i) {
        for (const Relay relay : order) {
          const BulkFigures figures = measure_bulk(relay, plan_.bulk[i]);
          bulk[i].rate->samples[relay].push_back(figures.mib_per_second);
          if (figures.cpu_ms_per_mib) {
            bulk[i].cpu->samples[relay].push_back(*figures.cpu_ms_per_mib);
          }
          if (figures.peak_mib) bulk[i].peak->samples[relay].push_back(*figures.peak_mib);
        }
      }
      if (plan_.parts[kColdStart]) {
        cold_offline.samples[kBridge].push_back(measure_cold_start(kBridge, false));
      }
      for (const Relay relay : order) {
        if (!plan_.parts[kColdStart]) break;
        cold_linked.samples[relay].push_back(measure_cold_start(relay, true));
      }
      for (const Relay relay : order) {
        if (!plan_.parts[kIdle]) break;
        const IdleFigures figures = measure_idle(relay);
        if (figures.cpu_ms) idle_cpu.samples[relay].push_back(*figures.cpu_ms);
        if (figures.switches) idle_wakeups.samples[relay].push_back(*figures.switches);
        if (figures.rss_mib) resting.samples[relay].push_back(*figures.rss_mib);
      }
    }
  }

  void print(std::ostream& out) const {
    char row[256];
    std::snprintf(row, sizeof row, "%-52s %20s %20s %13s\n", "metric", "bridge", "socat",
                  "bridge/socat");
    out << row << std::string(108, '-') << "\n";
    for (const Metric& metric : metrics_) {
      const std::vector<double>& bridge = metric.samples[kBridge];
      const std::vector<double>& socat = metric.samples[kSocat];
      const std::string socat_cell = metric.bridge_only ? "-" : cell(socat, metric.decimals);
      char ratio[32] = "-";
      if (!metric.bridge_only && !bridge.empty() && !socat.empty() && median(socat) != 0) {
        std::snprintf(ratio, sizeof ratio, "%.2f", median(bridge) / median(socat));
      }
      // The widths count bytes; "±" takes two.
      std::snprintf(row, sizeof row, "%-52s %21s %21s %13s\n", metric.name.c_str(),
                    cell(bridge, metric.decimals).c_str(), socat_cell.c_str(), ratio);
      out << row;
    }
  }

 private:
  struct BulkFigures {
    double mib_per_second = 0;
    std::optional<double> cpu_ms_per_mib;
    std::optional<double> peak_mib;
  };
  struct IdleFigures {
    std::optional<double> cpu_ms;
    std::optional<double> switches;
    std::optional<double> rss_mib;
  };

  // "<median> ±<half the range, in % of the median>", or "n/a".
  static std::string cell(const std::vector<double>& samples, int decimals) {
    if (samples.empty()) return "n/a";
    const double middle = median(samples);
    const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    const double spread = middle != 0 ? (*high - *low) / 2 / std::fabs(middle) * 100 : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f ±%.0f%%", decimals, middle, spread);
    return text;
  }

  Metric& add(std::string name, int decimals, bool bridge_only = false) {
    metrics_.push_back(Metric{std::move(name), decimals, bridge_only, {}});
    return metrics_.back();
  }

  double measure_round_trip(Relay relay) {
    RelayProcess process(relay, programs_, workspace_, workspace_.home());
    process.open_session();
    process.finish_session();
    std::vector<std::string> requests;
    std::vector<std::string> heads;
    for (int i = 1; i <= plan_.round_trips; ++i) {
      requests.push_back(request_line(static_cast<uint64_t>(i)));
      heads.push_back(answer_head(static_cast<uint64_t>(i)));
    }
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < plan_.round_trips; ++i) {
      process.send(requests[i]);
      process.expect(process.inbox().line(), heads[i], "answer");
    }
    const std::chrono::duration<double, std::micro> elapsed = Clock::now() - start;
    return elapsed.count() / plan_.round_trips;
  }

  double measure_pipelined(Relay relay) {
    RelayProcess process(relay, programs_, workspace_, workspace_.home());
    process.open_session();
    process.finish_session();
    std::string requests;
    size_t expected = 0;
    for (int i = 1; i <= plan_.pipelined; ++i) {
      requests += request_line(static_cast<uint64_t>(i));
      expected += small_answer_size(static_cast<uint64_t>(i));
    }
    const Clock::time_point start = Clock::now();
    std::thread writer([&] { process.send(requests); });
    const size_t received = process.inbox().skip_lines(static_cast<size_t>(plan_.pipelined));
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    writer.join();
    if (received != expected) {
      fatal(std::string(kRelayNames[relay]) + ": pipelined answers hold " +
            std::to_string(received) + " bytes, not " + std::to_string(expected));
    }
    return plan_.pipelined / elapsed.count();
  }

  BulkFigures measure_bulk(Relay relay, const Plan::Bulk& size) {
    RelayProcess process(relay, programs_, workspace_, workspace_.home());
    process.open_session();
    process.finish_session();
    std::string head;
    // The first answer, unmeasured, lets the app make the payload and the
    // relay settle its buffers; every later one must have the same length.
    process.send(big_request_line(1, size.bytes));
    const size_t length = process.inbox().skip_line(head);
    process.expect(head, answer_head(1), "large answer");
    if (length < size.bytes) fatal("the app's large answer is too short");

    const auto before = usage_of(process.pid());
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < size.responses; ++i) {
      const auto id = static_cast<uint64_t>(i + 2);
      process.send(big_request_line(id, size.bytes));
      const size_t got = process.inbox().skip_line(head);
      process.expect(head, answer_head(id), "large answer");
      if (got != length + std::to_string(id).size() - 1) {
        fatal(std::string(kRelayNames[relay]) + ": a large answer changed its length");
      }
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const auto after = usage_of(process.pid());

    BulkFigures figures;
    const double mib = static_cast<double>(length) * size.responses / kMiB;
    figures.mib_per_second = mib / elapsed.count();
    if (before && after)
      figures.cpu_ms_per_mib = (after->cpu_seconds - before->cpu_seconds) * 1e3 / mib;
    figures.peak_mib = memory_mib(process.pid(), "VmHWM");
    return figures;
  }

  // Median over the round's starts, in milliseconds.
  double measure_cold_start(Relay relay, bool with_app) {
    const std::string& home = with_app ? workspace_.home() : workspace_.offline_home();
    std::vector<double> starts;
    for (int i = 0; i < plan_.cold_starts; ++i) {
      const Clock::time_point start = Clock::now();
      RelayProcess process(relay, programs_, workspace_, home);
      process.open_session();
      const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
      starts.push_back(elapsed.count());
    }
    return median(starts);
  }

  IdleFigures measure_idle(Relay relay) {
    RelayProcess process(relay, programs_, workspace_, workspace_.home());
    process.open_session();
    process.finish_session();
    process.send(request_line(1));
    process.expect(process.inbox().line(), answer_head(1), "answer");
    std::this_thread::sleep_for(100ms);  // let the last answer's wakeups pass
    const auto before = usage_of(process.pid());
    std::this_thread::sleep_for(plan_.idle);
    const auto after = usage_of(process.pid());
    IdleFigures figures;
    if (before && after) {
      figures.cpu_ms = (after->cpu_seconds - before->cpu_seconds) * 1e3;
      figures.switches = static_cast<double>(after->switches - before->switches);
    }
    figures.rss_mib = memory_mib(process.pid(), "VmRSS");
    return figures;
  }

  Plan plan_;
  Programs programs_;
  const Workspace& workspace_;
  std::deque<Metric> metrics_;
};

void print_machine(std::ostream& out, const Programs& programs, const Plan& plan) {
  utsname system{};
  uname(&system);
  out << "machine: " << cpu_model().value_or("unknown CPU") << ", " << sysconf(_SC_NPROCESSORS_ONLN)
      << " cores, " << system.sysname << " " << system.release << "\n"
      << "load:    " << load_average().value_or("n/a") << " before the run\n"
      << "bridge:  " << programs.bridge << "\n"
      << "socat:   " << programs.socat << " -b 65536 STDIO UNIX-CONNECT:<socket>\n"
      << "plan:    " << plan.rounds << " rounds, each: " << plan.round_trips << " round trips, "
      << plan.pipelined << " pipelined requests,";
  for (const Plan::Bulk& size : plan.bulk) {
    out << " " << size.responses << " x " << (size.bytes >> 20) << " MiB,";
  }
  out << " " << plan.cold_starts << " cold starts per kind; medians over rounds, ± half range\n\n";
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::optional<int> rounds;
  std::optional<std::array<bool, 5>> parts;
  std::optional<std::string> bridge;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--only" && i + 1 < argc && (parts = parse_parts(argv[i + 1]))) {
      ++i;
    } else if (arg == "--bridge" && i + 1 < argc) {
      bridge = argv[++i];
    } else {
      std::cerr << "usage: relay_bench [--rounds N] [--quick] [--only PART[,PART...]] "
                   "[--bridge PATH]\n"
                   "PART: round-trip, pipelined, bulk, cold-start, idle\n";
      return 2;
    }
  }
  Plan plan = quick ? quick_plan() : Plan();
  if (rounds) plan.rounds = *rounds;
  if (parts) plan.parts = *parts;
  std::signal(SIGPIPE, SIG_IGN);

  Programs programs;
  if (bridge) programs.bridge = *bridge;
  const char* path = std::getenv("PATH");
  programs.path_variable = path != nullptr ? path : "/usr/bin:/bin";
  const auto socat = find_in_path("socat", programs.path_variable);
  if (!socat) fatal("socat is not installed (Debian: apt-get install socat)");
  programs.socat = *socat;

  Workspace workspace;
  Child app = spawn({HARLO_BENCH_APP, workspace.socket()}, {});
  on_failure([&] {
    close(app.in);  // the app ends with its input
    workspace.remove();
  });
  {
    Inbox app_out(app.out, "harlo-bench-app");
    if (app_out.line() != "listening") fatal("harlo-bench-app did not start");
  }

  print_machine(std::cout, programs, plan);
  std::cout.flush();
  Bench bench(plan, programs, workspace);
  OtherWork others;
  bench.run();
  bench.print(std::cout);
  finish(app, "harlo-bench-app");
  on_failure(nullptr);
  std::cout << "\n";
  others.report(std::cout);
  return 0;
}
