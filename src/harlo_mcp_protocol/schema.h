// Input schemas of the catalog's tools: derived from each parameter
// record's field table, checked for an object root, stripped of the root's
// "title" and "description", and cached per thread as shared objects.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mcp_wire/json.h"
#include "mcp_wire/tools_list.h"

namespace harlo_mcp_protocol::catalog {

using mcp_wire::Json;
using mcp_wire::SharedJson;

// The identifier of the JSON Schema draft 2020-12 meta-schema, written as
// the root "$schema" of every derived schema.
inline constexpr std::string_view kMetaSchemaUri = "https://json-schema.org/draft/2020-12/schema";

// The name that the catalog hands to validate_and_strip for its messages.
inline constexpr std::string_view kInputSchemaName = "inputSchema";

// The schema members of a field's C++ type, before its description:
//   std::string                {"type":"string"}
//   uint64_t                   {"type":"integer","format":"uint64","minimum":0}
//   std::vector<std::string>   {"type":"array","items":{"type":"string"}}
//   std::optional<T>           T's, with "type" becoming [<T's type>,"null"]
// Only std::optional fields are optional; every other field is required.
template <typename T>
struct FieldType;

template <>
struct FieldType<std::string> {
  static constexpr bool kRequired = true;
  static Json schema();
};

template <>
struct FieldType<uint64_t> {
  static constexpr bool kRequired = true;
  static Json schema();
};

template <>
struct FieldType<std::vector<std::string>> {
  static constexpr bool kRequired = true;
  static Json schema();
};

template <typename T>
struct FieldType<std::optional<T>> {
  static constexpr bool kRequired = false;
  static Json schema() {
    Json members = FieldType<T>::schema();
    members["type"] = Json::array({members["type"], "null"});  // keeps its position
    return members;
  }
};

// One field of a parameter record as its schema shows it.
struct ParamsField {
  std::string_view name;  // the JSON member name
  bool required;
  Json (*type_schema)();
  std::string_view description;  // empty: no "description" member
};

// A row of a record's field table. The member pointer only lends its type,
// so the table cannot disagree with the record about a field's type or
// about whether it is required.
template <typename Record, typename Type>
constexpr ParamsField field(Type Record::*, std::string_view name, std::string_view description) {
  return {name, FieldType<Type>::kRequired, &FieldType<Type>::schema, description};
}

// A parameter record: its name and its fields in declaration order. The
// caches below know a record by the address of its table, so every table
// must have static storage duration.
struct ParamsTable {
  std::string_view name;
  std::span<const ParamsField> fields;
};

// A stripped schema, or the text saying why the schema was refused.
using SchemaOutcome = std::variant<SharedJson, std::string>;

// Derives the record's schema, a fresh object with members in schema order:
// the root reads "$schema", "title", "type", "properties" and, when a field
// is required, "required"; each property reads "description", "type", then
// "format" and "minimum", or "items". Not cached.
Json derive_schema(const ParamsTable& record);

// The derived schema of `record`, built once per thread and then shared:
// on one thread every call returns the same object.
SharedJson schema_of(const ParamsTable& record);

// The input schema of `record`: schema_of() passed through
// validate_and_strip with kInputSchemaName. The outcome, refusal included,
// is kept per thread: on one thread every call returns the same object.
SchemaOutcome input_schema(const ParamsTable& record);

// The input schema of a parameter record type (one with a `kTable`).
template <typename Record>
SchemaOutcome input_schema() {
  return input_schema(Record::kTable);
}

// Checks that `schema` has the root type "object" and returns a copy
// without the root "title" and "description", as a new shared object;
// `schema` itself is left as it is. Each removal moves the last member into
// the removed member's place and leaves the others where they were. Refuses,
// with `name` in the text, a root without "type", with another type name,
// or with a "type" that is not a string.
SchemaOutcome validate_and_strip(const Json& schema, std::string_view name);

// {"type":"object","properties":{}}: the input schema of a tool without
// arguments. Built once per process on first use (concurrent first uses
// wait for that one build); every call returns the same object. Neither
// checked nor stripped.
SharedJson schema_for_empty_input();

}  // namespace harlo_mcp_protocol::catalog
