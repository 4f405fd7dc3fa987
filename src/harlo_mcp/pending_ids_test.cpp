#include "harlo_mcp/pending_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harlo_mcp {
namespace {

using mcp_wire::Json;

std::vector<std::string> texts(const std::vector<Json>& ids) {
  std::vector<std::string> out;
  for (const Json& id : ids) out.push_back(mcp_wire::write_json(id));
  return out;
}

Json id(const char* text) { return *mcp_wire::read_json(text); }

TEST(PendingIds, KeepsForwardingOrderAndRemovesEveryEqualId) {
  PendingIds pending;
  for (const char* text : {"5", "6", "\"5\"", "5.0", "5", R"({"a":1,"b":2})", "null"}) {
    pending.add(id(text));
  }
  pending.remove(id("5"));                 // both unsigned 5s, not "5" nor 5.0
  pending.remove(id(R"({"b":2,"a":1})"));  // member order does not matter
  pending.remove(id("7"));                 // unknown: ignored
  EXPECT_EQ(pending.size(), 4u);
  EXPECT_EQ(texts(pending.take_all()), (std::vector<std::string>{"6", "\"5\"", "5.0", "null"}));
  EXPECT_EQ(pending.size(), 0u);
  EXPECT_TRUE(pending.take_all().empty());
}

TEST(PendingIds, ManyInFlight) {
  PendingIds pending;
  for (int i = 0; i < 200'000; ++i) pending.add(Json(static_cast<uint64_t>(i)));
  for (int i = 0; i < 200'000; i += 2) pending.remove(Json(static_cast<uint64_t>(i)));
  const std::vector<Json> left = pending.take_all();
  ASSERT_EQ(left.size(), 100'000u);
  EXPECT_EQ(left.front().get<uint64_t>(), 1u);
  EXPECT_EQ(left.back().get<uint64_t>(), 199'999u);
}

}  // namespace
}  // namespace harlo_mcp
