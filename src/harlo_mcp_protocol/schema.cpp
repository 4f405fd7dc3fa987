#include "harlo_mcp_protocol/schema.h"

#include <algorithm>
#include <array>
#include <memory>
#include <unordered_map>
#include <utility>

#include "platform/fatal.h"

namespace harlo_mcp_protocol::catalog {
namespace {

// Members that lead every schema object, in this order, and members that
// close it; everything else stands between them in insertion order.
constexpr std::array<std::string_view, 7> kLeadingMembers = {
    "$id", "$schema", "title", "description", "type", "format", "properties"};
constexpr std::array<std::string_view, 2> kClosingMembers = {"$defs", "definitions"};

bool is_one_of(std::string_view name, std::span<const std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// How a message shows a JSON value: its kind, then its compact text.
std::string render(const Json& value) {
  std::string kind;
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      kind = "boolean";
      break;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      kind = "number";
      break;
    case Json::value_t::string:
      kind = "string";
      break;
    case Json::value_t::array:
      kind = "array";
      break;
    case Json::value_t::object:
      kind = "object";
      break;
    case Json::value_t::binary:
    case Json::value_t::discarded:
      kind = "value";
      break;
  }
  return kind + " " + mcp_wire::write_json(value);
}

// Rewrites one schema object, and the schemas nested in it, in schema
// member order.
Json in_schema_order(Json schema) {
  if (!schema.is_object()) return schema;

  for (const char* map_of_schemas : {"properties", "$defs", "definitions"}) {
    const auto it = schema.find(map_of_schemas);
    if (it == schema.end() || !it->is_object()) continue;
    for (auto& [name, nested] : it->items()) nested = in_schema_order(std::move(nested));
  }
  if (const auto items = schema.find("items"); items != schema.end()) {
    *items = in_schema_order(std::move(*items));
  }

  Json ordered = Json::object();
  for (const std::string_view name : kLeadingMembers) {
    if (const auto it = schema.find(name); it != schema.end()) {
      ordered[std::string(name)] = std::move(*it);
    }
  }
  for (auto it = schema.begin(); it != schema.end(); ++it) {
    if (!is_one_of(it.key(), kLeadingMembers) && !is_one_of(it.key(), kClosingMembers)) {
      ordered[it.key()] = std::move(it.value());
    }
  }
  for (const std::string_view name : kClosingMembers) {
    if (const auto it = schema.find(name); it != schema.end()) {
      ordered[std::string(name)] = std::move(*it);
    }
  }
  return ordered;
}

// Removes the member `name`, if there is one: the last member moves into
// its place, the others keep theirs. (Json::erase would instead shift every
// later member up by one.)
void swap_remove(Json& object, std::string_view name) {
  const auto found = object.find(name);
  if (found == object.end()) return;
  const auto position = static_cast<size_t>(std::distance(object.begin(), found));

  std::vector<std::pair<std::string, Json>> members;
  members.reserve(object.size());
  for (auto it = object.begin(); it != object.end(); ++it) {
    members.emplace_back(it.key(), std::move(it.value()));
  }
  if (position + 1 != members.size()) members[position] = std::move(members.back());
  members.pop_back();

  object = Json::object();
  for (auto& [key, value] : members) object[key] = std::move(value);
}

// Each thread owns its caches and is the only one to touch them, so no lock
// guards them. Entries are added on first use and kept for the thread's life.
struct ThreadCaches {
  std::unordered_map<const ParamsTable*, SharedJson> schemas;
  std::unordered_map<const ParamsTable*, SchemaOutcome> input_schemas;
};

ThreadCaches& thread_caches() {
  thread_local ThreadCaches caches;
  return caches;
}

}  // namespace

Json FieldType<std::string>::schema() {
  Json members = Json::object();
  members["type"] = "string";
  return members;
}

Json FieldType<uint64_t>::schema() {
  Json members = Json::object();
  members["type"] = "integer";
  members["format"] = "uint64";
  members["minimum"] = 0;
  return members;
}

Json FieldType<std::vector<std::string>>::schema() {
  Json members = Json::object();
  members["type"] = "array";
  members["items"] = FieldType<std::string>::schema();
  return members;
}

Json derive_schema(const ParamsTable& record) {
  Json schema = Json::object();
  schema["type"] = "object";
  for (const ParamsField& field : record.fields) {
    Json property = field.type_schema();
    if (!field.description.empty()) property["description"] = field.description;
    schema["properties"][std::string(field.name)] = std::move(property);
    if (field.required) schema["required"].push_back(field.name);
  }
  if (!schema.contains("title")) schema["title"] = record.name;
  schema["$schema"] = kMetaSchemaUri;
  // Every field type is written in place, so there are no shared
  // definitions and no "$defs" member.

  Json converted = in_schema_order(std::move(schema));
  if (!converted.is_object()) {
    harlo_platform::fatal(
        "Schema serialization produced non-object value: expected JSON object but got " +
        render(converted));
  }
  return converted;
}

SharedJson schema_of(const ParamsTable& record) {
  auto& schemas = thread_caches().schemas;
  if (const auto it = schemas.find(&record); it != schemas.end()) return it->second;
  SharedJson schema = std::make_shared<const Json>(derive_schema(record));
  schemas.emplace(&record, schema);
  return schema;
}

SchemaOutcome input_schema(const ParamsTable& record) {
  auto& input_schemas = thread_caches().input_schemas;
  if (const auto it = input_schemas.find(&record); it != input_schemas.end()) return it->second;
  SchemaOutcome outcome = validate_and_strip(*schema_of(record), kInputSchemaName);
  input_schemas.emplace(&record, outcome);
  return outcome;
}

SchemaOutcome validate_and_strip(const Json& schema, std::string_view name) {
  const auto type = schema.find("type");
  if (type == schema.end()) {
    return "Schema is missing 'type' field. MCP specification requires " + std::string(name) +
           " to have root type 'object'.";
  }
  if (!type->is_string()) {
    return "Schema 'type' field has unexpected format: " + render(*type) + ". Expected \"object\".";
  }
  const auto& type_name = type->get_ref<const std::string&>();
  if (type_name != "object") {
    return "MCP specification requires tool " + std::string(name) +
           " to have root type 'object', but found '" + type_name + "'.";
  }
  Json stripped = schema;
  swap_remove(stripped, "title");
  swap_remove(stripped, "description");
  return std::make_shared<const Json>(std::move(stripped));
}

SharedJson schema_for_empty_input() {
  static const SharedJson kEmptyInput = [] {
    Json schema = Json::object();
    schema["type"] = "object";
    schema["properties"] = Json::object();
    return std::make_shared<const Json>(std::move(schema));
  }();
  return kEmptyInput;
}

}  // namespace harlo_mcp_protocol::catalog
