#include "harlo_mcp_protocol/schema.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace harlo_mcp_protocol::catalog {
namespace {

Json parse(std::string_view text) {
  std::optional<Json> value = mcp_wire::read_json(text);
  EXPECT_TRUE(value.has_value()) << "test input is not JSON: " << text;
  return value.value_or(Json());
}

// The stripped schema as compact text, or "refused: " and the message.
std::string outcome_text(const SchemaOutcome& outcome) {
  if (const auto* refusal = std::get_if<std::string>(&outcome)) return "refused: " + *refusal;
  return mcp_wire::write_json(*std::get<SharedJson>(outcome));
}

// A record with every field type, a field without description, and a
// required field after an optional one.
struct MixedParams {
  std::optional<std::string> note;
  std::string name;
  uint64_t count = 0;
  std::optional<uint64_t> limit;
  std::vector<std::string> tags;
  std::string bare;
};

constexpr ParamsField kMixedFields[] = {
    field(&MixedParams::note, "note", "A note."),
    field(&MixedParams::name, "name", "The name."),
    field(&MixedParams::count, "count", "How many."),
    field(&MixedParams::limit, "limit", "At most."),
    field(&MixedParams::tags, "tags", "Tags."),
    field(&MixedParams::bare, "bare", ""),
};
const ParamsTable kMixed = {"MixedParams", kMixedFields};

// A record whose fields are all optional, so its schema has no "required".
struct LooseParams {
  std::optional<std::string> only;
};
constexpr ParamsField kLooseFields[] = {field(&LooseParams::only, "only", "Only.")};
const ParamsTable kLoose = {"LooseParams", kLooseFields};

constexpr char kMixedProperties[] =
    R"({"note":{"description":"A note.","type":["string","null"]},)"
    R"("name":{"description":"The name.","type":"string"},)"
    R"("count":{"description":"How many.","type":"integer","format":"uint64","minimum":0},)"
    R"("limit":{"description":"At most.","type":["integer","null"],"format":"uint64","minimum":0},)"
    R"("tags":{"description":"Tags.","type":"array","items":{"type":"string"}},)"
    R"("bare":{"type":"string"}})";

TEST(FieldType, SchemaMembersOfEachType) {
  struct Case {
    const char* type;
    Json schema;
    bool required;
    std::string json;
  };
  const Case kCases[] = {
      {"text", FieldType<std::string>::schema(), FieldType<std::string>::kRequired,
       R"({"type":"string"})"},
      {"optional text", FieldType<std::optional<std::string>>::schema(),
       FieldType<std::optional<std::string>>::kRequired, R"({"type":["string","null"]})"},
      {"integer", FieldType<uint64_t>::schema(), FieldType<uint64_t>::kRequired,
       R"({"type":"integer","format":"uint64","minimum":0})"},
      {"optional integer", FieldType<std::optional<uint64_t>>::schema(),
       FieldType<std::optional<uint64_t>>::kRequired,
       R"({"type":["integer","null"],"format":"uint64","minimum":0})"},
      {"list of texts", FieldType<std::vector<std::string>>::schema(),
       FieldType<std::vector<std::string>>::kRequired,
       R"({"type":"array","items":{"type":"string"}})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(mcp_wire::write_json(c.schema), c.json);
    EXPECT_EQ(c.required, c.json.find("null") == std::string::npos);
  }
}

TEST(DeriveSchema, WritesMembersInSchemaOrder) {
  EXPECT_EQ(mcp_wire::write_json(derive_schema(kMixed)),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema","title":"MixedParams",)"
            R"("type":"object","properties":)" +
                std::string(kMixedProperties) + R"(,"required":["name","count","tags","bare"]})");
  EXPECT_EQ(mcp_wire::write_json(derive_schema(kLoose)),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema","title":"LooseParams",)"
            R"("type":"object","properties":{"only":{"description":"Only.",)"
            R"("type":["string","null"]}}})");
}

TEST(InputSchema, StripsTheRootTitleBySwapRemoval) {
  // The last root member takes the title's place.
  EXPECT_EQ(outcome_text(input_schema(kMixed)),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema",)"
            R"("required":["name","count","tags","bare"],"type":"object","properties":)" +
                std::string(kMixedProperties) + "}");
  EXPECT_EQ(outcome_text(input_schema(kLoose)),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema",)"
            R"("properties":{"only":{"description":"Only.","type":["string","null"]}},)"
            R"("type":"object"})");
}

TEST(InputSchema, IsDerivedOncePerThreadAndShared) {
  const SharedJson schema = schema_of(kMixed);
  EXPECT_EQ(schema_of(kMixed).get(), schema.get());

  const SchemaOutcome first = input_schema(kMixed);
  const SchemaOutcome second = input_schema(kMixed);
  ASSERT_TRUE(std::holds_alternative<SharedJson>(first));
  EXPECT_EQ(std::get<SharedJson>(second).get(), std::get<SharedJson>(first).get());
  EXPECT_NE(std::get<SharedJson>(first).get(), schema.get());

  // Another thread keeps caches of its own: equal schemas, other objects.
  SchemaOutcome elsewhere;
  std::thread([&] { elsewhere = input_schema(kMixed); }).join();
  ASSERT_TRUE(std::holds_alternative<SharedJson>(elsewhere));
  EXPECT_NE(std::get<SharedJson>(elsewhere).get(), std::get<SharedJson>(first).get());
  EXPECT_EQ(outcome_text(elsewhere), outcome_text(first));
}

TEST(ValidateAndStrip, RemovesRootTitleAndDescriptionOnly) {
  struct Case {
    std::string schema;
    std::string outcome;
  };
  const Case kCases[] = {
      // Removing "title" moves the last member into its place; "description",
      // by then last, simply goes.
      {R"({"type":"object","title":"T","description":"D","extra":1})",
       R"({"type":"object","extra":1})"},
      {R"({"$schema":"s","title":"T","type":"object","properties":{},"required":["a"]})",
       R"({"$schema":"s","required":["a"],"type":"object","properties":{}})"},
      {R"({"description":"D","type":"object","a":1,"b":2})", R"({"b":2,"type":"object","a":1})"},
      {R"({"title":"T","description":"D","type":"object","a":1,"b":2})",
       R"({"b":2,"a":1,"type":"object"})"},
      {R"({"type":"object","a":1,"title":"T"})", R"({"type":"object","a":1})"},
      {R"({"type":"object","a":1})", R"({"type":"object","a":1})"},
      {R"({"type":"object","title":"T"})", R"({"type":"object"})"},
      // Nested titles and descriptions stay.
      {R"({"type":"object","properties":{"p":{"title":"P","description":"D","type":"string"}}})",
       R"({"type":"object","properties":{"p":{"title":"P","description":"D","type":"string"}}})"},
      // Refusals.
      {R"({"type":"array","title":"T"})",
       "refused: MCP specification requires tool inputSchema to have root type 'object', but "
       "found 'array'."},
      {R"({"type":"Object"})",
       "refused: MCP specification requires tool inputSchema to have root type 'object', but "
       "found 'Object'."},
      {R"({"properties":{}})",
       "refused: Schema is missing 'type' field. MCP specification requires inputSchema to have "
       "root type 'object'."},
      {R"({"type":["object","null"]})",
       R"(refused: Schema 'type' field has unexpected format: array ["object","null"]. )"
       R"(Expected "object".)"},
      {R"({"type":5})",
       R"(refused: Schema 'type' field has unexpected format: number 5. Expected "object".)"},
      {R"({"type":null})",
       R"(refused: Schema 'type' field has unexpected format: null. Expected "object".)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.schema);
    const Json schema = parse(c.schema);
    EXPECT_EQ(outcome_text(validate_and_strip(schema, kInputSchemaName)), c.outcome);
    EXPECT_EQ(mcp_wire::write_json(schema), c.schema);  // the given object is left as it was
  }
}

TEST(ValidateAndStrip, NamesTheGivenSchemaInRefusals) {
  EXPECT_EQ(outcome_text(validate_and_strip(parse("{}"), "outputSchema")),
            "refused: Schema is missing 'type' field. MCP specification requires outputSchema to "
            "have root type 'object'.");
}

TEST(SchemaForEmptyInput, IsOneObjectForTheWholeProcess) {
  const SharedJson schema = schema_for_empty_input();
  EXPECT_EQ(mcp_wire::write_json(*schema), R"({"type":"object","properties":{}})");
  EXPECT_EQ(schema_for_empty_input().get(), schema.get());
  SharedJson elsewhere;
  std::thread([&] { elsewhere = schema_for_empty_input(); }).join();
  EXPECT_EQ(elsewhere.get(), schema.get());
}

}  // namespace
}  // namespace harlo_mcp_protocol::catalog
