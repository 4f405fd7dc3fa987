#include "mcp_wire/response.h"

namespace mcp_wire {
namespace {

Json envelope(const Json& id) {
  Json response = Json::object();
  response["jsonrpc"] = "2.0";
  response["id"] = id;
  return response;
}

}  // namespace

ErrorData ErrorData::unsupported_protocol_version(std::string_view requested,
                                                  std::span<const std::string_view> supported) {
  Json data = Json::object();
  data["requested"] = requested;
  Json versions = Json::array();
  for (const std::string_view version : supported) versions.push_back(version);
  data["supported"] = std::move(versions);
  return ErrorData{kUnsupportedProtocolVersion, "Unsupported protocol version", std::move(data)};
}

Json ErrorData::to_json() const {
  Json error = Json::object();
  error["code"] = code;
  error["message"] = message;
  if (data) error["data"] = *data;
  return error;
}

Json success_response(const Json& id, Json result) {
  Json response = envelope(id);
  response["result"] = std::move(result);
  return response;
}

Json error_response(const Json& id, const ErrorData& error) {
  Json response = envelope(id);
  response["error"] = error.to_json();
  return response;
}

}  // namespace mcp_wire
