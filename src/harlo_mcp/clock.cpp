#include "harlo_mcp/clock.h"

#include <algorithm>
#include <cstdint>
#include <thread>

namespace harlo_mcp {
namespace {

class SystemClock final : public Clock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }

  void pause(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

  int wait(std::span<harlo_platform::Watch> watches, std::optional<TimePoint> deadline) override {
    if (!deadline) {
      for (;;) {
        const int ready = harlo_platform::wait_for(watches, -1);
        if (ready != 0) return ready;  // 0: interrupted; wait on
      }
    }
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now());
      const int ready = harlo_platform::wait_for(
          watches, static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX)));
      if (ready != 0 || left.count() <= 0) return ready;
      // Timed out or interrupted before the deadline: the clock decides.
      if (now() >= *deadline) return 0;
    }
  }
};

}  // namespace

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

}  // namespace harlo_mcp
