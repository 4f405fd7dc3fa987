#include "mcp_wire/tools_list.h"

namespace mcp_wire {
namespace {

template <typename T>
void put_if_present(Json& object, const char* name, const std::optional<T>& field) {
  if (field) object[name] = *field;
}

}  // namespace

Json to_json(const ToolAnnotations& annotations) {
  Json object = Json::object();
  put_if_present(object, "title", annotations.title);
  put_if_present(object, "readOnlyHint", annotations.read_only_hint);
  put_if_present(object, "destructiveHint", annotations.destructive_hint);
  put_if_present(object, "idempotentHint", annotations.idempotent_hint);
  put_if_present(object, "openWorldHint", annotations.open_world_hint);
  return object;
}

Json to_json(const Tool& tool) {
  Json object = Json::object();
  object["name"] = tool.name;
  put_if_present(object, "title", tool.title);
  put_if_present(object, "description", tool.description);
  object["inputSchema"] = tool.input_schema ? *tool.input_schema : Json::object();
  if (tool.output_schema) {
    object["outputSchema"] = *tool.output_schema ? **tool.output_schema : Json::object();
  }
  if (tool.annotations) object["annotations"] = to_json(*tool.annotations);
  if (tool.icons) {
    Json icons = Json::array();
    for (const Icon& icon : *tool.icons) icons.push_back(to_json(icon));
    object["icons"] = std::move(icons);
  }
  put_if_present(object, "_meta", tool.meta);
  return object;
}

Json to_json(const ListToolsResult& result) {
  Json object = Json::object();
  put_if_present(object, "resultType", result.result_type);
  put_if_present(object, "_meta", result.meta);
  put_if_present(object, "nextCursor", result.next_cursor);
  put_if_present(object, "ttlMs", result.ttl_ms);
  if (result.cache_scope) {
    object["cacheScope"] = *result.cache_scope == CacheScope::kPublic ? "public" : "private";
  }
  Json tools = Json::array();
  for (const Tool& tool : result.tools) tools.push_back(to_json(tool));
  object["tools"] = std::move(tools);
  return object;
}

}  // namespace mcp_wire
