// The records of the MCP "initialize" exchange: the client's parameters as
// the bridge reads them, and the result it writes when it answers itself.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "mcp_wire/json.h"

namespace mcp_wire {

// ---- Records read and written -------------------------------------------

enum class IconTheme { kLight, kDark };

struct Icon {
  std::string src;
  std::optional<std::string> mime_type;
  std::optional<std::vector<std::string>> sizes;
  std::optional<IconTheme> theme;
};

// Read as "clientInfo", written as "serverInfo".
struct Implementation {
  std::string name;
  std::optional<std::string> title;
  std::string version;
  std::optional<std::string> description;
  std::optional<std::vector<Icon>> icons;
  std::optional<std::string> website_url;
};

// ---- Records read --------------------------------------------------------

struct RootsCapabilities {
  std::optional<bool> list_changed;
};

struct SamplingCapability {
  std::optional<Json> tools;    // always an object when present
  std::optional<Json> context;  // always an object when present
};

struct FormElicitationCapability {
  std::optional<bool> schema_validation;
};

// No members: any object is accepted.
struct UrlElicitationCapability {};

struct ElicitationCapability {
  std::optional<FormElicitationCapability> form;
  std::optional<UrlElicitationCapability> url;
};

// A JSON object whose member values are all JSON objects, by member name.
using ObjectMap = std::map<std::string, Json>;

struct ClientCapabilities {
  std::optional<ObjectMap> experimental;
  std::optional<ObjectMap> extensions;
  std::optional<RootsCapabilities> roots;
  std::optional<SamplingCapability> sampling;
  std::optional<ElicitationCapability> elicitation;
};

struct InitializeRequestParams {
  std::optional<Json> meta;  // "_meta", always an object when present
  std::string protocol_version;
  ClientCapabilities capabilities;
  Implementation client_info;
};

// Either the record read or the failure's message text.
using InitializeParamsRead = std::variant<InitializeRequestParams, std::string>;

// Reads the "params" of an initialize request (null when the request has
// none). Never throws. An object is read member by member in its own order:
// unknown members are skipped, the first member that cannot be read ends
// the read with its message, and then the first missing required member in
// record order is reported. An array is read positionally, one element per
// member in record order. An optional member given as null is absent.
// The messages name what was found and what was wanted, never where:
//   invalid type: integer `5`, expected a string
//   missing field `protocolVersion`
//   invalid length 1, expected struct InitializeRequestParams with 4 elements
//   unknown variant `Dark`, expected `light` or `dark`
InitializeParamsRead read_initialize_request_params(const Json& params);

// ---- Records written -----------------------------------------------------

struct PromptsCapability {
  std::optional<bool> list_changed;
};

struct ResourcesCapability {
  std::optional<bool> subscribe;
  std::optional<bool> list_changed;
};

struct ToolsCapability {
  std::optional<bool> list_changed;
};

struct ServerCapabilities {
  std::optional<ObjectMap> experimental;
  std::optional<ObjectMap> extensions;
  std::optional<Json> logging;
  std::optional<Json> completions;
  std::optional<PromptsCapability> prompts;
  std::optional<ResourcesCapability> resources;
  std::optional<ToolsCapability> tools;
};

struct InitializeResult {
  std::string protocol_version;
  ServerCapabilities capabilities;
  Implementation server_info;
  std::optional<std::string> instructions;
  std::optional<Json> meta;  // "_meta"
};

// The JSON forms below write members in a fixed order and leave absent
// members out entirely, never as null. A record with nothing present is an
// empty object. Maps of objects ("experimental", "extensions") are written
// in ascending byte order of their names. None of them can fail.

// "src", "mimeType", "sizes", "theme".
Json to_json(const Icon& icon);

// "name", "title", "version", "description", "icons", "websiteUrl".
Json to_json(const Implementation& implementation);

// "experimental", "extensions", "logging", "completions", "prompts",
// "resources" ("subscribe", "listChanged"), "tools" ("listChanged").
Json to_json(const ServerCapabilities& capabilities);

// "protocolVersion", "capabilities", "serverInfo", "instructions", "_meta".
Json to_json(const InitializeResult& result);

}  // namespace mcp_wire
