// The records of the MCP "tools/list" answer, as the bridge writes them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mcp_wire/initialize.h"
#include "mcp_wire/json.h"

namespace mcp_wire {

// A JSON object held by reference count, so that one schema can be handed
// to many tools and many answers without being copied.
using SharedJson = std::shared_ptr<const Json>;

// Behaviour hints; each is true, false or absent, and false is written.
struct ToolAnnotations {
  std::optional<std::string> title;
  std::optional<bool> read_only_hint;
  std::optional<bool> destructive_hint;
  std::optional<bool> idempotent_hint;
  std::optional<bool> open_world_hint;
};

struct Tool {
  std::string name;
  std::optional<std::string> title;
  std::optional<std::string> description;
  SharedJson input_schema;  // a JSON object; written as {} if left empty
  std::optional<SharedJson> output_schema;
  std::optional<ToolAnnotations> annotations;
  std::optional<std::vector<Icon>> icons;
  std::optional<Json> meta;  // "_meta"
};

// Who may keep a copy of a listing.
enum class CacheScope { kPublic, kPrivate };

struct ListToolsResult {
  std::optional<std::string> result_type;
  std::optional<Json> meta;  // "_meta"
  std::optional<std::string> next_cursor;
  std::optional<uint64_t> ttl_ms;
  std::optional<CacheScope> cache_scope;
  std::vector<Tool> tools;
};

// The JSON forms below write members in a fixed order and leave absent
// members out entirely, never as null. Schema and "_meta" objects are
// written as stored. None of them can fail.

// "title", "readOnlyHint", "destructiveHint", "idempotentHint",
// "openWorldHint"; {} when nothing is present.
Json to_json(const ToolAnnotations& annotations);

// "name", "title", "description", "inputSchema", "outputSchema",
// "annotations", "icons", "_meta".
Json to_json(const Tool& tool);

// "resultType", "_meta", "nextCursor", "ttlMs", "cacheScope" ("public" or
// "private"), then "tools", which is always written, also when empty.
Json to_json(const ListToolsResult& result);

}  // namespace mcp_wire
