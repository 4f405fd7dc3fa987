#include "harlo_mcp/error_reply.h"

#include "mcp_wire/response.h"

namespace harlo_mcp {

std::string_view message_for(OfflineReason reason) {
  switch (reason) {
    case OfflineReason::NotRunning:
      return "Harlo is not running. Open Harlo and turn on Settings \u2192 MCP.";
    case OfflineReason::BridgeOutdated:
      return "Harlo was updated. Restart this AI client (or reload its MCP servers) and try again.";
    case OfflineReason::AppOutdated:
      return "Harlo was updated. Restart Harlo and try again.";
    case OfflineReason::Disabled:
      return "MCP is turned off in Harlo. Turn it on in Settings \u2192 MCP and try again.";
    case OfflineReason::LaunchFailed:
      return "Harlo could not be started. Open Harlo and try again.";
  }
  return {};
}

std::string error_reply(const mcp_wire::Json& id, std::string_view message) {
  const mcp_wire::ErrorData error{mcp_wire::kUserFacingError, std::string(message), std::nullopt};
  return mcp_wire::write_json(mcp_wire::error_response(id, error));
}

}  // namespace harlo_mcp
