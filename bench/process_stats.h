// What the system tells about the relay under test and about the machine,
// read from /proc. Every figure is missing (nothing) where /proc is, as on
// macOS.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace harlo_bench {

// A running process, summed over its threads.
struct ProcessUsage {
  double cpu_seconds = 0;  // user and system
  uint64_t switches = 0;   // voluntary and involuntary context switches
};

// CPU time from each thread's schedstat, in nanoseconds (the clock ticks of
// stat where schedstat is missing), and context switches from each
// thread's status.
std::optional<ProcessUsage> usage_of(pid_t pid);

// A memory field of the process's status ("VmHWM" for the peak, "VmRSS"
// for now), in MiB.
std::optional<double> memory_mib(pid_t pid, std::string_view field);

// The first "model name" of /proc/cpuinfo.
std::optional<std::string> cpu_model();

// The 1, 5 and 15 minute load averages, as /proc/loadavg writes them.
std::optional<std::string> load_average();

// How much CPU the rest of the machine used while the benchmark ran:
// everything the machine did (/proc/stat, steal time included) less what
// this process and its children did. Other work makes every figure worse
// and noisier. Counts from its construction.
class OtherWork {
 public:
  OtherWork();

  // Writes the average number of cores that other work took, and a note
  // when that makes the figures noisy. Call once every child has been
  // reaped, so that their time counts as the benchmark's own.
  void report(std::ostream& out) const;

 private:
  std::chrono::steady_clock::time_point start_;
  std::optional<double> machine_;
  double own_;
};

}  // namespace harlo_bench
