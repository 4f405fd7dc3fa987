#include "harlo_mcp/classify.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace harlo_mcp {
namespace {

enum class Kind { kRequest, kNotification, kResponse, kOther };

Kind kind_of(const Incoming& incoming) { return static_cast<Kind>(incoming.index()); }

TEST(Classify, KindMethodAndId) {
  struct Case {
    const char* line;
    Kind kind;
    const char* method;  // for requests and notifications
    const char* id;      // the id as compact JSON, for requests and responses
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", Kind::kRequest, "tools/list", "1"},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", Kind::kNotification,
       "notifications/initialized", nullptr},
      {R"({"jsonrpc":"2.0","id":"a7","result":{}})", Kind::kResponse, nullptr, "\"a7\""},
      {R"({"jsonrpc":"2.0","id":"a7","error":{"code":1}})", Kind::kResponse, nullptr, "\"a7\""},
      {R"({"id":null,"method":"ping"})", Kind::kRequest, "ping", "null"},
      {R"({"method":5,"id":2})", Kind::kRequest, "", "2"},
      {R"({"method":null})", Kind::kNotification, "", nullptr},
      {R"({"method":{"x":1}})", Kind::kNotification, "", nullptr},
      {R"({"method":"x","method":"y","id":1})", Kind::kRequest, "y", "1"},
      {R"({"id":1.0,"method":"m"})", Kind::kRequest, "m", "1.0"},
      {R"({"id":-4,"method":"m"})", Kind::kRequest, "m", "-4"},
      {R"({"id":-0,"method":"m"})", Kind::kRequest, "m", "0"},
      {R"({"id":123456789012345678,"result":1})", Kind::kResponse, nullptr, "123456789012345678"},
      {R"({"id":-123456789012345678,"result":1})", Kind::kResponse, nullptr, "-123456789012345678"},
      {R"({"id":18446744073709551615,"result":1})", Kind::kResponse, nullptr,
       "18446744073709551615"},
      {R"({"id":-9223372036854775808,"result":1})", Kind::kResponse, nullptr,
       "-9223372036854775808"},
      {R"({"id":18446744073709551616,"result":1})", Kind::kResponse, nullptr,
       "1.8446744073709552e+19"},
      {R"({"id":1e2,"result":1})", Kind::kResponse, nullptr, "100.0"},
      {R"({"id":"a\"b","result":1})", Kind::kResponse, nullptr, R"("a\"b")"},
      {R"({"id":"ü→","result":1})", Kind::kResponse, nullptr, R"("ü→")"},
      {R"({"id":{"b":[1]},"result":1})", Kind::kResponse, nullptr, R"({"b":[1]})"},
      {"{\"ID\":1,\"Method\":\"m\"}", Kind::kOther, nullptr, nullptr},
      {R"({"id":1,"method":"x"} trailing)", Kind::kOther, nullptr, nullptr},
      {"", Kind::kOther, nullptr, nullptr},
      {"   ", Kind::kOther, nullptr, nullptr},
      {"{}", Kind::kOther, nullptr, nullptr},
      {R"({"jsonrpc":"2.0"})", Kind::kOther, nullptr, nullptr},
      {R"("text")", Kind::kOther, nullptr, nullptr},
      {"42", Kind::kOther, nullptr, nullptr},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", Kind::kOther, nullptr, nullptr},
      {"not json", Kind::kOther, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const Incoming incoming = classify(c.line);
    ASSERT_EQ(kind_of(incoming), c.kind);
    if (const auto* request = std::get_if<Request>(&incoming)) {
      EXPECT_EQ(request->method, c.method);
      EXPECT_EQ(mcp_wire::write_json(request->id), c.id);
      EXPECT_TRUE(mcp_wire::json_equal(request->id, *mcp_wire::read_json(c.id)));
    } else if (const auto* notification = std::get_if<Notification>(&incoming)) {
      EXPECT_EQ(notification->method, c.method);
    } else if (const auto* response = std::get_if<Response>(&incoming)) {
      EXPECT_EQ(mcp_wire::write_json(response->id), c.id);
      EXPECT_TRUE(mcp_wire::json_equal(response->id, *mcp_wire::read_json(c.id)));
    }
  }
}

// Whether a response carries "error" tells how the app answered a replayed
// initialize; only a top-level member counts, whatever its value.
TEST(Classify, ResponseTellsWhetherItHasAnError) {
  struct Case {
    const char* line;
    bool has_error;
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"result":{}})", false},
      {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32000,"message":"x"}})", true},
      {R"({"id":1,"error":null})", true},
      {R"({"error":false,"id":1})", true},
      {R"({"id":1,"result":{"error":1}})", false},
      {R"({"id":1,"Error":1})", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const Incoming incoming = classify(c.line);
    ASSERT_TRUE(std::holds_alternative<Response>(incoming));
    EXPECT_EQ(std::get<Response>(incoming).has_error, c.has_error);
  }
}

// Lines whose UTF-8 nobody has checked yet: a line that reads as JSON is
// taken as it is, anything else must still be UTF-8 to be Other.
TEST(ClassifyLine, NotUtf8IsNothingElseAsClassify) {
  struct Case {
    std::string line;
    std::optional<Kind> kind;  // nothing: not UTF-8
  };
  const Case cases[] = {
      {R"({"id":1,"method":"café →"})", Kind::kRequest},
      {"{\"id\":1,\"result\":\"\xF0\x9D\x84\x9E\"}", Kind::kResponse},
      {"na\xC3\xAFve, not JSON", Kind::kOther},
      {"[\"\xE2\x86\x92\"]", Kind::kOther},
      {"{\"id\":1,\"result\":\"\xC0\xAF\"}", std::nullopt},      // overlong
      {"{\"id\":1,\"result\":\"\xED\xA0\x80\"}", std::nullopt},  // surrogate
      {"{\"id\":1,\"result\":\"\xE2\x86\"}", std::nullopt},      // cut short
      {"{\"id\":1} \xFF", std::nullopt},
      {"\xFF", std::nullopt},
      {std::string("{\"id\":1}\0", 9), Kind::kOther},  // NUL is UTF-8, not JSON
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    const std::optional<Incoming> incoming = classify_line(c.line);
    ASSERT_EQ(incoming.has_value(), c.kind.has_value());
    if (incoming) {
      EXPECT_EQ(kind_of(*incoming), *c.kind);
    }
  }
}

}  // namespace
}  // namespace harlo_mcp
