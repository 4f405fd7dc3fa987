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
