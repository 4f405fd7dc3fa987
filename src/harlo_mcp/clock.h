// Time as the session and the link to the app see it: the clock their
// deadlines are read on, the pauses while the app starts, and every wait on
// descriptors that has a deadline. Tests put a clock of their own in its
// place, so that ten-second deadlines pass in no time.
#pragma once

#include <chrono>
#include <optional>
#include <span>

#include "platform/platform.h"

namespace harlo_mcp {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;

  virtual TimePoint now() = 0;

  // Returns once `duration` has passed.
  virtual void pause(std::chrono::milliseconds duration) = 0;

  // Blocks until at least one of `watches` is ready or `deadline` has
  // passed (nothing: no limit), and marks what is ready as
  // harlo_platform::wait_for does. Returns the number of ready descriptors,
  // 0 once the deadline has passed, -1 with errno when waiting fails.
  virtual int wait(std::span<harlo_platform::Watch> watches, std::optional<TimePoint> deadline) = 0;
};

// The system's steady clock, real pauses and real waits.
Clock& system_clock();

}  // namespace harlo_mcp
