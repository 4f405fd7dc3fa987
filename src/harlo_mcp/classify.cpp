#include "harlo_mcp/classify.h"

namespace harlo_mcp {

Incoming classify(std::string_view line) {
  std::optional<Json> value = mcp_wire::read_json(line);
  if (!value || !value->is_object()) return Other{};

  std::optional<std::string> method;
  if (const auto it = value->find("method"); it != value->end()) {
    method = it->is_string() ? it->get_ref<const std::string&>() : std::string();
  }
  std::optional<Json> id;
  if (const auto it = value->find("id"); it != value->end()) id = std::move(*it);

  if (method && id) return Request{std::move(*method), std::move(*id)};
  if (method) return Notification{std::move(*method)};
  if (id) return Response{std::move(*id)};
  return Other{};
}

}  // namespace harlo_mcp
