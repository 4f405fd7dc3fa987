#include "mcp_wire/initialize.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>

namespace mcp_wire {
namespace {

// ---- Reading -------------------------------------------------------------

// A read failure's message text, or nothing when the read succeeded.
using Failure = std::optional<std::string>;

// How a message describes the value it found.
std::string describe_found(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return value.get<bool>() ? "boolean `true`" : "boolean `false`";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "integer `" + value.dump() + "`";
    case Json::value_t::number_float:
      // dump() writes the shortest notation that reads back to the value.
      return "floating point `" + value.dump() + "`";
    case Json::value_t::string:
      return "string " + write_json(value);
    case Json::value_t::array:
      return "sequence";
    case Json::value_t::object:
      return "map";
    case Json::value_t::binary:
      return "byte array";
    case Json::value_t::discarded:
      break;
  }
  return "null";
}

Failure invalid_type(const Json& found, std::string_view wanted) {
  return "invalid type: " + describe_found(found) + ", expected " + std::string(wanted);
}

Failure read_string(const Json& value, std::string& out) {
  if (!value.is_string()) return invalid_type(value, "a string");
  out = value.get_ref<const std::string&>();
  return std::nullopt;
}

Failure read_bool(const Json& value, bool& out) {
  if (!value.is_boolean()) return invalid_type(value, "a boolean");
  out = value.get<bool>();
  return std::nullopt;
}

// A JSON object with members of any type.
Failure read_object(const Json& value, Json& out) {
  if (!value.is_object()) return invalid_type(value, "a map");
  out = value;
  return std::nullopt;
}

// A JSON object whose member values must all be JSON objects.
Failure read_object_map(const Json& value, ObjectMap& out) {
  if (!value.is_object()) return invalid_type(value, "a map");
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (Failure failure = read_object(it.value(), out[it.key()])) return failure;
  }
  return std::nullopt;
}

template <typename T, auto ReadElement>
Failure read_sequence(const Json& value, std::vector<T>& out) {
  if (!value.is_array()) return invalid_type(value, "a sequence");
  out.reserve(value.size());
  for (const Json& element : value) {
    if (Failure failure = ReadElement(element, out.emplace_back())) return failure;
  }
  return std::nullopt;
}

Failure read_icon_theme_name(const std::string& name, IconTheme& out) {
  if (name == "light") {
    out = IconTheme::kLight;
  } else if (name == "dark") {
    out = IconTheme::kDark;
  } else {
    return "unknown variant `" + name + "`, expected `light` or `dark`";
  }
  return std::nullopt;
}

// "light" or "dark"; also {"light":null} or {"dark":null}.
Failure read_icon_theme(const Json& value, IconTheme& out) {
  if (value.is_string()) return read_icon_theme_name(value.get_ref<const std::string&>(), out);
  if (!value.is_object()) return invalid_type(value, "string or map");
  if (value.size() != 1) return "invalid value: map, expected map with a single key";
  const auto only = value.begin();
  if (Failure failure = read_icon_theme_name(only.key(), out)) return failure;
  if (!only.value().is_null()) return invalid_type(only.value(), "unit");
  return std::nullopt;
}

// One member of a record: its JSON name, whether it must be present, and
// how to read its value into the record.
template <typename Record>
struct Member {
  std::string_view name;
  bool required;
  Failure (*read)(const Json& value, Record& record);
};

template <typename T>
inline constexpr bool kIsOptional = false;
template <typename T>
inline constexpr bool kIsOptional<std::optional<T>> = true;

template <typename Pointer>
struct FieldOf;
template <typename Record, typename Type>
struct FieldOf<Type Record::*> {
  using RecordType = Record;
  using FieldType = Type;
};

// Reads `value` into the field `Field` with `Read`. An optional field takes
// null as absent; a required one hands null to `Read`, which refuses it.
template <auto Field, auto Read>
Failure read_member(const Json& value, typename FieldOf<decltype(Field)>::RecordType& record) {
  auto& field = record.*Field;
  if constexpr (kIsOptional<typename FieldOf<decltype(Field)>::FieldType>) {
    if (value.is_null()) {
      field.reset();
      return std::nullopt;
    }
    return Read(value, field.emplace());
  } else {
    return Read(value, field);
  }
}

// A member is required exactly when its field is not a std::optional.
template <auto Field, auto Read>
constexpr Member<typename FieldOf<decltype(Field)>::RecordType> member(std::string_view name) {
  return {name, !kIsOptional<typename FieldOf<decltype(Field)>::FieldType>,
          &read_member<Field, Read>};
}

// The name and members, in order, of each record read. The order is the
// order of the positional form and of the missing-member check.
template <typename Record>
struct Shape;

template <typename Record>
Failure read_record(const Json& value, Record& record);

template <>
struct Shape<Icon> {
  static constexpr std::string_view kName = "Icon";
  static constexpr std::array kMembers = {
      member<&Icon::src, read_string>("src"),
      member<&Icon::mime_type, read_string>("mimeType"),
      member<&Icon::sizes, read_sequence<std::string, read_string>>("sizes"),
      member<&Icon::theme, read_icon_theme>("theme"),
  };
};

template <>
struct Shape<Implementation> {
  static constexpr std::string_view kName = "Implementation";
  static constexpr std::array kMembers = {
      member<&Implementation::name, read_string>("name"),
      member<&Implementation::title, read_string>("title"),
      member<&Implementation::version, read_string>("version"),
      member<&Implementation::description, read_string>("description"),
      member<&Implementation::icons, read_sequence<Icon, read_record<Icon>>>("icons"),
      member<&Implementation::website_url, read_string>("websiteUrl"),
  };
};

template <>
struct Shape<RootsCapabilities> {
  static constexpr std::string_view kName = "RootsCapabilities";
  static constexpr std::array kMembers = {
      member<&RootsCapabilities::list_changed, read_bool>("listChanged"),
  };
};

template <>
struct Shape<SamplingCapability> {
  static constexpr std::string_view kName = "SamplingCapability";
  static constexpr std::array kMembers = {
      member<&SamplingCapability::tools, read_object>("tools"),
      member<&SamplingCapability::context, read_object>("context"),
  };
};

template <>
struct Shape<FormElicitationCapability> {
  static constexpr std::string_view kName = "FormElicitationCapability";
  static constexpr std::array kMembers = {
      member<&FormElicitationCapability::schema_validation, read_bool>("schemaValidation"),
  };
};

template <>
struct Shape<UrlElicitationCapability> {
  static constexpr std::string_view kName = "UrlElicitationCapability";
  static constexpr std::array<Member<UrlElicitationCapability>, 0> kMembers = {};
};

template <>
struct Shape<ElicitationCapability> {
  static constexpr std::string_view kName = "ElicitationCapability";
  static constexpr std::array kMembers = {
      member<&ElicitationCapability::form, read_record<FormElicitationCapability>>("form"),
      member<&ElicitationCapability::url, read_record<UrlElicitationCapability>>("url"),
  };
};

template <>
struct Shape<ClientCapabilities> {
  static constexpr std::string_view kName = "ClientCapabilities";
  static constexpr std::array kMembers = {
      member<&ClientCapabilities::experimental, read_object_map>("experimental"),
      member<&ClientCapabilities::extensions, read_object_map>("extensions"),
      member<&ClientCapabilities::roots, read_record<RootsCapabilities>>("roots"),
      member<&ClientCapabilities::sampling, read_record<SamplingCapability>>("sampling"),
      member<&ClientCapabilities::elicitation, read_record<ElicitationCapability>>("elicitation"),
  };
};

template <>
struct Shape<InitializeRequestParams> {
  static constexpr std::string_view kName = "InitializeRequestParams";
  static constexpr std::array kMembers = {
      member<&InitializeRequestParams::meta, read_object>("_meta"),
      member<&InitializeRequestParams::protocol_version, read_string>("protocolVersion"),
      member<&InitializeRequestParams::capabilities, read_record<ClientCapabilities>>(
          "capabilities"),
      member<&InitializeRequestParams::client_info, read_record<Implementation>>("clientInfo"),
  };
};

// Reads a record from an object (by member name) or from an array (by
// position); anything else is refused.
template <typename Record>
Failure read_record(const Json& value, Record& record) {
  const std::string_view name = Shape<Record>::kName;
  const auto& members = Shape<Record>::kMembers;
  constexpr size_t kCount = std::tuple_size_v<std::remove_cvref_t<decltype(members)>>;

  if (value.is_object()) {
    std::array<bool, kCount> seen{};
    for (auto it = value.begin(); it != value.end(); ++it) {
      for (size_t i = 0; i < kCount; ++i) {
        if (members[i].name != it.key()) continue;
        seen[i] = true;
        if (Failure failure = members[i].read(it.value(), record)) return failure;
        break;
      }
    }
    for (size_t i = 0; i < kCount; ++i) {
      if (members[i].required && !seen[i]) {
        return "missing field `" + std::string(members[i].name) + "`";
      }
    }
    return std::nullopt;
  }

  if (value.is_array()) {
    const size_t length = value.size();
    for (size_t i = 0; i < kCount; ++i) {
      if (i == length) {
        return "invalid length " + std::to_string(length) + ", expected struct " +
               std::string(name) + " with " + std::to_string(kCount) +
               (kCount == 1 ? " element" : " elements");
      }
      if (Failure failure = members[i].read(value[i], record)) return failure;
    }
    if (length > kCount) {
      return "invalid length " + std::to_string(length) + ", expected fewer elements in array";
    }
    return std::nullopt;
  }

  return invalid_type(value, "struct " + std::string(name));
}

// ---- Writing -------------------------------------------------------------

template <typename T>
void put_if_present(Json& object, const char* name, const std::optional<T>& field) {
  if (field) object[name] = *field;
}

Json to_json(const ObjectMap& map) {
  Json object = Json::object();
  for (const auto& [name, value] : map) object[name] = value;  // std::map: byte order
  return object;
}

Json to_json(const PromptsCapability& prompts) {
  Json object = Json::object();
  put_if_present(object, "listChanged", prompts.list_changed);
  return object;
}

Json to_json(const ResourcesCapability& resources) {
  Json object = Json::object();
  put_if_present(object, "subscribe", resources.subscribe);
  put_if_present(object, "listChanged", resources.list_changed);
  return object;
}

Json to_json(const ToolsCapability& tools) {
  Json object = Json::object();
  put_if_present(object, "listChanged", tools.list_changed);
  return object;
}

}  // namespace

InitializeParamsRead read_initialize_request_params(const Json& params) {
  InitializeRequestParams record;
  if (Failure failure = read_record(params, record)) return std::move(*failure);
  return record;
}

Json to_json(const Icon& icon) {
  Json object = Json::object();
  object["src"] = icon.src;
  put_if_present(object, "mimeType", icon.mime_type);
  put_if_present(object, "sizes", icon.sizes);
  if (icon.theme) object["theme"] = *icon.theme == IconTheme::kLight ? "light" : "dark";
  return object;
}

Json to_json(const Implementation& implementation) {
  Json object = Json::object();
  object["name"] = implementation.name;
  put_if_present(object, "title", implementation.title);
  object["version"] = implementation.version;
  put_if_present(object, "description", implementation.description);
  if (implementation.icons) {
    Json icons = Json::array();
    for (const Icon& icon : *implementation.icons) icons.push_back(to_json(icon));
    object["icons"] = std::move(icons);
  }
  put_if_present(object, "websiteUrl", implementation.website_url);
  return object;
}

Json to_json(const ServerCapabilities& capabilities) {
  Json object = Json::object();
  if (capabilities.experimental) object["experimental"] = to_json(*capabilities.experimental);
  if (capabilities.extensions) object["extensions"] = to_json(*capabilities.extensions);
  put_if_present(object, "logging", capabilities.logging);
  put_if_present(object, "completions", capabilities.completions);
  if (capabilities.prompts) object["prompts"] = to_json(*capabilities.prompts);
  if (capabilities.resources) object["resources"] = to_json(*capabilities.resources);
  if (capabilities.tools) object["tools"] = to_json(*capabilities.tools);
  return object;
}

Json to_json(const InitializeResult& result) {
  Json object = Json::object();
  object["protocolVersion"] = result.protocol_version;
  object["capabilities"] = to_json(result.capabilities);
  object["serverInfo"] = to_json(result.server_info);
  put_if_present(object, "instructions", result.instructions);
  put_if_present(object, "_meta", result.meta);
  return object;
}

}  // namespace mcp_wire
