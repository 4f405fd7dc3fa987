#include "harlo_mcp/offline.h"

#include <utility>
#include <variant>

#include "harlo_mcp_protocol/catalog.h"
#include "mcp_wire/initialize.h"
#include "mcp_wire/json.h"
#include "mcp_wire/negotiation.h"
#include "mcp_wire/response.h"
#include "mcp_wire/tools_list.h"
#include "platform/fatal.h"

namespace harlo_mcp::offline {
namespace {

using mcp_wire::ErrorData;
using mcp_wire::Json;

// A request's result, or the error to answer it with.
using Outcome = std::variant<Json, ErrorData>;

Outcome initialize(std::string_view line, OfflineMemory& memory) {
  // The line was classified as a request, so it reads as a JSON object.
  const std::optional<Json> request = mcp_wire::read_json(line);
  if (!request || !request->is_object()) harlo_platform::fatal("a request that does not read");
  const Json absent;  // a request without "params" is read as null params
  const auto params = request->find("params");
  mcp_wire::InitializeParamsRead read =
      mcp_wire::read_initialize_request_params(params != request->end() ? *params : absent);
  if (auto* failure = std::get_if<std::string>(&read)) {
    return ErrorData{mcp_wire::kInvalidParams, std::move(*failure), std::nullopt};
  }
  const auto& requested = std::get<mcp_wire::InitializeRequestParams>(read).protocol_version;

  mcp_wire::InitializeResult result = harlo_mcp_protocol::catalog::server_info();
  mcp_wire::NegotiationOutcome agreed = mcp_wire::negotiate_protocol_version(
      requested, result.protocol_version, mcp_wire::kSupportedProtocolVersions);
  if (auto* refusal = std::get_if<ErrorData>(&agreed)) return std::move(*refusal);

  result.protocol_version = std::get<std::string>(std::move(agreed));
  memory.protocol_version = result.protocol_version;
  return mcp_wire::to_json(result);
}

Outcome list_tools(const OfflineMemory& memory) {
  return mcp_wire::to_json(harlo_mcp_protocol::catalog::list_tools_result(memory.protocol_version));
}

}  // namespace

std::optional<std::string> answer(const Request& request, std::string_view line,
                                  OfflineMemory& memory) {
  Outcome outcome;
  if (request.method == "ping") {
    outcome = Json::object();
  } else if (request.method == "initialize") {
    outcome = initialize(line, memory);
  } else if (request.method == "tools/list") {
    outcome = list_tools(memory);
  } else {
    return std::nullopt;
  }

  // The results convert to JSON without a failure of their own, so no
  // answer here is ever an internal error.
  if (auto* error = std::get_if<ErrorData>(&outcome)) {
    return mcp_wire::write_json(mcp_wire::error_response(request.id, *error));
  }
  return mcp_wire::write_json(
      mcp_wire::success_response(request.id, std::get<Json>(std::move(outcome))));
}

}  // namespace harlo_mcp::offline
