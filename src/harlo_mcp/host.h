// What the session asks of the world outside the bridge process.
#pragma once

#include <optional>
#include <string>

namespace harlo_mcp {

// Why starting the app failed: an operating-system error number, or 0 with
// a fixed message. The session never shows either to the AI client.
struct LaunchError {
  int os_error = 0;
  std::string message;
};

class Host {
 public:
  virtual ~Host() = default;

  // Starts the desktop app in the background, or finds that another bridge
  // did so moments ago. Returns at once, without waiting for the app to
  // come up: nothing on success, else why nothing could be started.
  virtual std::optional<LaunchError> launch() const = 0;

  // Tells that the app answered after a successful launch(): whatever
  // launch() holds back other bridges with can go.
  virtual void app_reached() const = 0;
};

}  // namespace harlo_mcp
