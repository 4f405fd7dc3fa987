#include "mcp_wire/response.h"

#include <gtest/gtest.h>

namespace mcp_wire {
namespace {

Json id_of(const char* text) { return *read_json(text); }

TEST(Response, EnvelopeCopiesTheIdInItsOwnForm) {
  for (const char* id : {"\"abc\"", "7", "-3", "3.5", "null", R"({"k":[1,2]})", "1.0"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(write_json(success_response(id_of(id), Json::object())),
              std::string(R"({"jsonrpc":"2.0","id":)") + id + R"(,"result":{}})");
  }
}

TEST(Response, ErrorWithoutDataHasNoDataMember) {
  const ErrorData error{kInvalidParams, "bad \"x\"\nline", std::nullopt};
  EXPECT_EQ(write_json(error_response(id_of("1"), error)),
            R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"bad \"x\"\nline"}})");
}

TEST(Response, ErrorDataMembersInOrderCodeMessageData) {
  const ErrorData error{kUnsupportedProtocolVersion, "m", Json::parse(R"({"z":1,"a":2})")};
  EXPECT_EQ(write_json(error.to_json()), R"({"code":-32022,"message":"m","data":{"z":1,"a":2}})");
}

}  // namespace
}  // namespace mcp_wire
