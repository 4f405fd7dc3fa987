#include "mcp_wire/initialize.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace mcp_wire {
namespace {

Json parse(std::string_view text) {
  std::optional<Json> value = read_json(text);
  EXPECT_TRUE(value.has_value()) << "test input is not JSON: " << text;
  return value.value_or(Json());
}

// The message of a failed read, or "" when the read succeeded.
std::string failure_of(std::string_view params) {
  const InitializeParamsRead read = read_initialize_request_params(parse(params));
  if (const auto* message = std::get_if<std::string>(&read)) return *message;
  return "";
}

TEST(ReadInitializeParams, AcceptsWellFormedParams) {
  const char* const kReadable[] = {
      R"({"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"c","version":"1"}})",
      R"({"protocolVersion":"2025-06-18","capabilities":{"roots":{"listChanged":true},)"
      R"("sampling":{},"elicitation":{"form":{},"url":{}}},"clientInfo":{"name":"c","version":"1"}})",
      // Unknown members anywhere, whatever their values.
      R"({"zz":[[{}]],"protocolVersion":"v","capabilities":{"other":5,"roots":{"x":null},)"
      R"("elicitation":{"url":{"anything":[1]},"form":{"y":1}}},)"
      R"("clientInfo":{"name":"c","version":"1","icons":[{"src":"s","extra":true}],"q":{}}})",
      // The version text is not checked here.
      R"({"protocolVersion":"not-a-date","capabilities":{},"clientInfo":{"name":"c","version":"1"}})",
      R"({"protocolVersion":"","capabilities":{},"clientInfo":{"name":"","version":""}})",
      // Null optional members are absent.
      R"({"_meta":null,"protocolVersion":"v","capabilities":{"experimental":null,"roots":null,)"
      R"("sampling":{"tools":null},"elicitation":{"form":null,"url":null}},)"
      R"("clientInfo":{"name":"c","title":null,"version":"1","icons":null,"websiteUrl":null}})",
      // Positional forms, nulls standing for absent members.
      R"([null,"2025-06-18",{},{"name":"c","version":"1"}])",
      R"([{"k":1},"v",[null,null,[true],[{},null],[[false],[]]],["c",null,"1",null,[["s",null,null,null]],null]])",
      // An icon theme as a one-member object with a null value.
      R"({"protocolVersion":"v","capabilities":{},)"
      R"("clientInfo":{"name":"c","version":"1","icons":[{"src":"s","theme":{"dark":null}}]}})",
  };
  for (const char* params : kReadable) {
    SCOPED_TRACE(params);
    EXPECT_EQ(failure_of(params), "");
  }
}

TEST(ReadInitializeParams, KeepsEveryMemberRead) {
  const InitializeParamsRead read = read_initialize_request_params(parse(R"({
    "_meta": {"progressToken": 3},
    "protocolVersion": "2025-11-25",
    "capabilities": {
      "experimental": {"b": {"x": 1}, "a": {}},
      "extensions": {"ext": {}},
      "roots": {"listChanged": false},
      "sampling": {"tools": {}, "context": {"c": 2}},
      "elicitation": {"form": {"schemaValidation": true}, "url": {}}
    },
    "clientInfo": {
      "name": "client", "title": "Client", "version": "2.1", "description": "d",
      "websiteUrl": "https://example.test",
      "icons": [{"src": "a.png", "mimeType": "image/png", "sizes": ["16x16", "32x32"],
                 "theme": "light"}, {"src": "b.svg", "theme": "dark"}]
    }})"));
  ASSERT_TRUE(std::holds_alternative<InitializeRequestParams>(read)) << std::get<std::string>(read);
  const auto& params = std::get<InitializeRequestParams>(read);

  EXPECT_EQ(write_json(params.meta.value()), R"({"progressToken":3})");
  EXPECT_EQ(params.protocol_version, "2025-11-25");

  const ClientCapabilities& capabilities = params.capabilities;
  ASSERT_TRUE(capabilities.experimental.has_value());
  EXPECT_EQ(capabilities.experimental->size(), 2u);
  EXPECT_EQ(write_json(capabilities.experimental->at("b")), R"({"x":1})");
  ASSERT_TRUE(capabilities.extensions.has_value());
  EXPECT_EQ(capabilities.extensions->count("ext"), 1u);
  EXPECT_EQ(capabilities.roots.value().list_changed, false);
  EXPECT_EQ(write_json(capabilities.sampling.value().context.value()), R"({"c":2})");
  EXPECT_EQ(write_json(capabilities.sampling.value().tools.value()), "{}");
  EXPECT_EQ(capabilities.elicitation.value().form.value().schema_validation, true);
  EXPECT_TRUE(capabilities.elicitation.value().url.has_value());

  const Implementation& client = params.client_info;
  EXPECT_EQ(client.name, "client");
  EXPECT_EQ(client.title, "Client");
  EXPECT_EQ(client.version, "2.1");
  EXPECT_EQ(client.description, "d");
  EXPECT_EQ(client.website_url, "https://example.test");
  ASSERT_TRUE(client.icons.has_value());
  ASSERT_EQ(client.icons->size(), 2u);
  const Icon& first = (*client.icons)[0];
  EXPECT_EQ(first.src, "a.png");
  EXPECT_EQ(first.mime_type, "image/png");
  EXPECT_EQ(first.sizes, (std::vector<std::string>{"16x16", "32x32"}));
  EXPECT_EQ(first.theme, IconTheme::kLight);
  const Icon& second = (*client.icons)[1];
  EXPECT_EQ(second.theme, IconTheme::kDark);
  EXPECT_FALSE(second.mime_type.has_value());
  EXPECT_FALSE(second.sizes.has_value());
}

TEST(ReadInitializeParams, PositionalFormReadsLikeObjectForm) {
  const InitializeParamsRead read = read_initialize_request_params(
      parse(R"([null,"2025-06-18",[null,null,[true],null,null],["c","T","1",null,null,"w"]])"));
  ASSERT_TRUE(std::holds_alternative<InitializeRequestParams>(read)) << std::get<std::string>(read);
  const auto& params = std::get<InitializeRequestParams>(read);
  EXPECT_FALSE(params.meta.has_value());
  EXPECT_EQ(params.protocol_version, "2025-06-18");
  EXPECT_EQ(params.capabilities.roots.value().list_changed, true);
  EXPECT_FALSE(params.capabilities.sampling.has_value());
  EXPECT_EQ(params.client_info.name, "c");
  EXPECT_EQ(params.client_info.title, "T");
  EXPECT_EQ(params.client_info.version, "1");
  EXPECT_FALSE(params.client_info.description.has_value());
  EXPECT_EQ(params.client_info.website_url, "w");
}

TEST(ReadInitializeParams, FailureMessages) {
  // Wraps a capabilities object, or a clientInfo object, into params that
  // are otherwise readable.
  const auto with_capabilities = [](std::string capabilities) {
    return R"({"protocolVersion":"v","capabilities":)" + capabilities +
           R"(,"clientInfo":{"name":"c","version":"1"}})";
  };
  const auto with_client = [](std::string client) {
    return R"({"protocolVersion":"v","capabilities":{},"clientInfo":)" + client + "}";
  };
  const auto with_icon = [&](std::string icon) {
    return with_client(R"({"name":"c","version":"1","icons":[)" + icon + "]}");
  };
  struct Case {
    std::string params;
    std::string message;
  };
  const Case kCases[] = {
      // Not a record at all.
      {"null", "invalid type: null, expected struct InitializeRequestParams"},
      {R"("x")", R"(invalid type: string "x", expected struct InitializeRequestParams)"},
      {"true", "invalid type: boolean `true`, expected struct InitializeRequestParams"},
      {"7", "invalid type: integer `7`, expected struct InitializeRequestParams"},

      // Missing members: the first in record order, not in the text's order.
      {R"({"protocolVersion":"v","clientInfo":{"name":"c","version":"1"}})",
       "missing field `capabilities`"},
      {R"({"protocolVersion":"v"})", "missing field `capabilities`"},
      {R"({"clientInfo":{"name":"c","version":"1"},"capabilities":{}})",
       "missing field `protocolVersion`"},
      {"{}", "missing field `protocolVersion`"},
      {with_client(R"({"version":"1"})"), "missing field `name`"},
      {with_client(R"({"name":"c"})"), "missing field `version`"},
      {with_icon(R"({"mimeType":"image/png"})"), "missing field `src`"},

      // Wrong types; the found value is described, never the member's path.
      {R"({"protocolVersion":20250618})", "invalid type: integer `20250618`, expected a string"},
      {R"({"protocolVersion":-3})", "invalid type: integer `-3`, expected a string"},
      {R"({"protocolVersion":1.5})", "invalid type: floating point `1.5`, expected a string"},
      {R"({"protocolVersion":2.0})", "invalid type: floating point `2.0`, expected a string"},
      {R"({"protocolVersion":false})", "invalid type: boolean `false`, expected a string"},
      {R"({"protocolVersion":null})", "invalid type: null, expected a string"},
      {R"({"protocolVersion":["v"]})", "invalid type: sequence, expected a string"},
      {R"({"protocolVersion":{}})", "invalid type: map, expected a string"},
      {R"({"_meta":[]})", "invalid type: sequence, expected a map"},
      {R"({"_meta":"m"})", R"(invalid type: string "m", expected a map)"},
      {with_capabilities(R"("a\"b\n")"),
       R"(invalid type: string "a\"b\n", expected struct ClientCapabilities)"},
      {with_client("5"), "invalid type: integer `5`, expected struct Implementation"},
      {with_client(R"({"name":5,"version":"1"})"), "invalid type: integer `5`, expected a string"},
      {with_client(R"({"name":"c","version":5})"), "invalid type: integer `5`, expected a string"},

      // The first unreadable member in the text's order ends the read,
      // before any missing member is looked for.
      {R"({"clientInfo":1,"protocolVersion":2})",
       "invalid type: integer `1`, expected struct Implementation"},
      {R"({"protocolVersion":2,"clientInfo":1})", "invalid type: integer `2`, expected a string"},

      // Capabilities, each nested record and object.
      {with_capabilities(R"({"experimental":[]})"), "invalid type: sequence, expected a map"},
      {with_capabilities(R"({"experimental":{"a":{},"b":1}})"),
       "invalid type: integer `1`, expected a map"},
      {with_capabilities(R"({"extensions":{"x":null}})"), "invalid type: null, expected a map"},
      {with_capabilities(R"({"roots":1})"),
       "invalid type: integer `1`, expected struct RootsCapabilities"},
      {with_capabilities(R"({"roots":{"listChanged":"yes"}})"),
       R"(invalid type: string "yes", expected a boolean)"},
      {with_capabilities(R"({"sampling":true})"),
       "invalid type: boolean `true`, expected struct SamplingCapability"},
      {with_capabilities(R"({"sampling":{"tools":[]}})"), "invalid type: sequence, expected a map"},
      {with_capabilities(R"({"sampling":{"context":"c"}})"),
       R"(invalid type: string "c", expected a map)"},
      {with_capabilities(R"({"elicitation":"e"})"),
       R"(invalid type: string "e", expected struct ElicitationCapability)"},
      {with_capabilities(R"({"elicitation":{"form":{"schemaValidation":1}}})"),
       "invalid type: integer `1`, expected a boolean"},
      {with_capabilities(R"({"elicitation":{"form":3}})"),
       "invalid type: integer `3`, expected struct FormElicitationCapability"},
      {with_capabilities(R"({"elicitation":{"url":1}})"),
       "invalid type: integer `1`, expected struct UrlElicitationCapability"},

      // Icons.
      {with_client(R"({"name":"c","version":"1","icons":{}})"),
       "invalid type: map, expected a sequence"},
      {with_icon("5"), "invalid type: integer `5`, expected struct Icon"},
      {with_icon(R"({"src":1})"), "invalid type: integer `1`, expected a string"},
      {with_icon(R"({"src":"s","sizes":"16x16"})"),
       R"(invalid type: string "16x16", expected a sequence)"},
      {with_icon(R"({"src":"s","sizes":["16x16",16]})"),
       "invalid type: integer `16`, expected a string"},
      {with_icon(R"({"src":"s","theme":"Dark"})"),
       "unknown variant `Dark`, expected `light` or `dark`"},
      {with_icon(R"({"src":"s","theme":""})"), "unknown variant ``, expected `light` or `dark`"},
      {with_icon(R"({"src":"s","theme":5})"), "invalid type: integer `5`, expected string or map"},
      {with_icon(R"({"src":"s","theme":["dark"]})"),
       "invalid type: sequence, expected string or map"},
      {with_icon(R"({"src":"s","theme":{"Light":null}})"),
       "unknown variant `Light`, expected `light` or `dark`"},
      {with_icon(R"({"src":"s","theme":{"dark":1}})"), "invalid type: integer `1`, expected unit"},
      {with_icon(R"({"src":"s","theme":{}})"),
       "invalid value: map, expected map with a single key"},
      {with_icon(R"({"src":"s","theme":{"dark":null,"light":null}})"),
       "invalid value: map, expected map with a single key"},

      // Positional forms: too few elements name the record, too many do not;
      // an element that cannot be read is reported before a short count.
      {"[]", "invalid length 0, expected struct InitializeRequestParams with 4 elements"},
      {"[null]", "invalid length 1, expected struct InitializeRequestParams with 4 elements"},
      {R"(["2025-06-18"])", R"(invalid type: string "2025-06-18", expected a map)"},
      {R"([null,"v",{},{"name":"c","version":"1"},null])",
       "invalid length 5, expected fewer elements in array"},
      {R"([null,"v",[null,null,null,null],{"name":"c","version":"1"}])",
       "invalid length 4, expected struct ClientCapabilities with 5 elements"},
      {R"([null,"v",{},["c","t"]])",
       "invalid length 2, expected struct Implementation with 6 elements"},
      {with_icon(R"(["s"])"), "invalid length 1, expected struct Icon with 4 elements"},
      {with_capabilities(R"({"roots":[]})"),
       "invalid length 0, expected struct RootsCapabilities with 1 element"},
      {with_capabilities(R"({"roots":[true,false]})"),
       "invalid length 2, expected fewer elements in array"},
      {with_capabilities(R"({"sampling":[{}]})"),
       "invalid length 1, expected struct SamplingCapability with 2 elements"},
      {with_capabilities(R"({"elicitation":[]})"),
       "invalid length 0, expected struct ElicitationCapability with 2 elements"},
      {with_capabilities(R"({"elicitation":{"form":[]}})"),
       "invalid length 0, expected struct FormElicitationCapability with 1 element"},
      {with_capabilities(R"({"elicitation":{"url":[]}})"), ""},
      {with_capabilities(R"({"elicitation":{"url":[1]}})"),
       "invalid length 1, expected fewer elements in array"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(failure_of(c.params), c.message);
  }
}

TEST(WriteInitializeResult, LeavesAbsentMembersOut) {
  InitializeResult result;
  result.protocol_version = "2025-06-18";
  result.server_info.name = "n";
  result.server_info.version = "1";
  EXPECT_EQ(write_json(to_json(result)), R"({"protocolVersion":"2025-06-18","capabilities":{},)"
                                         R"("serverInfo":{"name":"n","version":"1"}})");

  result.instructions = "i";
  result.meta = Json::object({{"k", 1}});
  EXPECT_EQ(write_json(to_json(result)),
            R"({"protocolVersion":"2025-06-18","capabilities":{},)"
            R"("serverInfo":{"name":"n","version":"1"},"instructions":"i","_meta":{"k":1}})");
}

TEST(WriteInitializeResult, WritesCapabilitiesInFixedOrder) {
  ServerCapabilities capabilities;
  EXPECT_EQ(write_json(to_json(capabilities)), "{}");

  capabilities.tools = ToolsCapability{};
  EXPECT_EQ(write_json(to_json(capabilities)), R"({"tools":{}})");

  capabilities.tools->list_changed = false;
  capabilities.resources = ResourcesCapability{true, false};
  capabilities.prompts = PromptsCapability{true};
  capabilities.completions = Json::object();
  capabilities.logging = Json::object();
  // Written in byte order of the names, whatever order they were added in.
  capabilities.extensions = ObjectMap{{"z", Json::object()}, {"\xC3\xA9", Json::object()}};
  capabilities.experimental =
      ObjectMap{{"b", Json::object()}, {"a", Json::object({{"x", 1}})}, {"B", Json::object()}};
  EXPECT_EQ(write_json(to_json(capabilities)),
            R"({"experimental":{"B":{},"a":{"x":1},"b":{}},"extensions":{"z":{},"é":{}},)"
            R"("logging":{},"completions":{},"prompts":{"listChanged":true},)"
            R"("resources":{"subscribe":true,"listChanged":false},"tools":{"listChanged":false}})");

  capabilities = ServerCapabilities{};
  capabilities.resources = ResourcesCapability{std::nullopt, true};
  EXPECT_EQ(write_json(to_json(capabilities)), R"({"resources":{"listChanged":true}})");
}

TEST(WriteInitializeResult, WritesImplementationAndIconsInFixedOrder) {
  Implementation implementation;
  implementation.name = "n";
  implementation.version = "1";
  EXPECT_EQ(write_json(to_json(implementation)), R"({"name":"n","version":"1"})");

  implementation.website_url = "w";
  implementation.description = "d";
  implementation.title = "t";
  Icon full;
  full.src = "s";
  full.theme = IconTheme::kDark;
  full.sizes = std::vector<std::string>{"16x16"};
  full.mime_type = "image/png";
  Icon bare;
  bare.src = "b";
  bare.theme = IconTheme::kLight;
  implementation.icons = std::vector<Icon>{full, bare};
  EXPECT_EQ(write_json(to_json(implementation)),
            R"({"name":"n","title":"t","version":"1","description":"d","icons":[)"
            R"({"src":"s","mimeType":"image/png","sizes":["16x16"],"theme":"dark"},)"
            R"({"src":"b","theme":"light"}],"websiteUrl":"w"})");
}

}  // namespace
}  // namespace mcp_wire
