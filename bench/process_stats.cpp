#include "process_stats.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace harlo_bench {
namespace {

// Above this many cores of other work, the figures are called noisy.
constexpr double kNoisyCores = 0.2;

std::optional<std::string> read_text(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A "Name:   value" field of a /proc status file, as a number.
std::optional<uint64_t> status_field(const std::string& status, std::string_view name) {
  const size_t at = status.find(std::string(name) + ":");
  if (at == std::string::npos) return std::nullopt;
  return std::strtoull(status.c_str() + at + name.size() + 1, nullptr, 10);
}

// The busy time of all CPUs: user, nice, system, irq, softirq and steal.
std::optional<double> machine_seconds() {
  const auto stat = read_text("/proc/stat");
  if (!stat || stat->compare(0, 4, "cpu ") != 0) return std::nullopt;
  std::istringstream fields(stat->substr(4));
  double ticks[8] = {};
  for (double& tick : ticks) fields >> tick;
  const double busy = ticks[0] + ticks[1] + ticks[2] + ticks[5] + ticks[6] + ticks[7];
  return busy / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// This process and its reaped children.
double own_seconds() {
  double seconds = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    for (const timeval& time : {usage.ru_utime, usage.ru_stime}) {
      seconds += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    }
  }
  return seconds;
}

}  // namespace

std::optional<ProcessUsage> usage_of(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return std::nullopt;
  ProcessUsage usage;
  bool precise = true;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = tasks + "/" + entry->d_name;
    // The first field of schedstat is the time on a CPU, in nanoseconds.
    if (const auto schedstat = read_text(task + "/schedstat")) {
      usage.cpu_seconds += std::strtod(schedstat->c_str(), nullptr) / 1e9;
    } else {
      precise = false;
    }
    if (const auto status = read_text(task + "/status")) {
      usage.switches += status_field(*status, "voluntary_ctxt_switches").value_or(0) +
                        status_field(*status, "nonvoluntary_ctxt_switches").value_or(0);
    }
  }
  closedir(dir);
  if (!precise) {
    // Clock ticks of the whole process: fields 14 and 15 of stat, counted
    // after the command name, which ends at the last ")".
    const auto stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return std::nullopt;
    std::istringstream fields(stat->substr(stat->rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i >= 14) ticks += std::strtod(field.c_str(), nullptr);
    }
    usage.cpu_seconds = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return usage;
}

std::optional<double> memory_mib(pid_t pid, std::string_view field) {
  const auto status = read_text("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::nullopt;
  const auto kib = status_field(*status, field);
  if (!kib) return std::nullopt;
  return static_cast<double>(*kib) / 1024.0;
}

std::optional<std::string> cpu_model() {
  const auto info = read_text("/proc/cpuinfo");
  if (!info) return std::nullopt;
  const size_t at = info->find("model name");
  const size_t colon = at == std::string::npos ? at : info->find(':', at);
  if (colon == std::string::npos) return std::nullopt;
  const size_t begin = colon + 2;
  return info->substr(begin, info->find('\n', begin) - begin);
}

std::optional<std::string> load_average() {
  const auto text = read_text("/proc/loadavg");
  if (!text) return std::nullopt;
  size_t end = 0;
  for (int field = 0; field < 3 && end != std::string::npos; ++field) {
    end = text->find(' ', end + 1);
  }
  return text->substr(0, end);
}

OtherWork::OtherWork()
    : start_(std::chrono::steady_clock::now()), machine_(machine_seconds()), own_(own_seconds()) {}

void OtherWork::report(std::ostream& out) const {
  const auto machine = machine_seconds();
  if (!machine || !machine_) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  const double others = std::max(0.0, *machine - *machine_ - (own_seconds() - own_));
  const double cores = others / elapsed.count();
  char line[128];
  std::snprintf(line, sizeof line, "other work on the machine during the run: %.2f cores\n", cores);
  out << line;
  if (cores > kNoisyCores) out << "note: the figures are noisy; run again on a quieter machine\n";
}

}  // namespace harlo_bench
