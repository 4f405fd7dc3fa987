#include "harlo_mcp_protocol/prefs.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace harlo_mcp_protocol::prefs {
namespace {

// One preferences file in a fresh directory.
class McpEnabledTest : public ::testing::Test {
 protected:
  bool enabled_with(const std::string& contents) {
    harlo_test::write_file(path_, contents);
    return mcp_enabled(path_);
  }

  harlo_test::TempDir temp_;
  const std::string dir_ = temp_.path();
  const std::string path_ = temp_.file("preferences.json");
};

TEST_F(McpEnabledTest, AnswersFromTheFile) {
  struct Case {
    const char* contents;
    bool enabled;
  };
  const Case cases[] = {
      {R"({"mcp": {"enabled": true}})", true},
      {R"({"theme":"dark","mcp": {"enabled": true, "max_rows": 200, "timeout_secs": 30},"x":[1]})",
       true},
      {" \n\t{\"mcp\":{\"enabled\":true}}\r\n ", true},
      {R"({"mcp": {"enabled": false}})", false},
      {R"({"mcp": {}})", false},
      {R"({"mcp": null})", false},
      {R"({"other": {"enabled": true}})", false},
      {R"({"mcp": {"enabled": "true"}})", false},
      {R"({"mcp": {"enabled": 1}})", false},
      {R"({"mcp": {"enabled": null}})", false},
      {R"({"mcp": {"enabled": true, "timeout_secs": 30.5}})", false},
      {R"({"mcp": {"enabled": true, "timeout_secs": 30.0}})", false},
      {R"({"mcp": {"enabled": true, "max_rows": -1}})", false},
      {R"({"mcp": {"enabled": true, "max_rows": 1e3}})", false},
      {R"({"mcp": {"enabled": true, "max_rows": "200"}})", false},
      {R"({"mcp": {"enabled": true, "max_rows": null}})", false},
      {R"({"mcp": {"enabled": true, "max_rows": 18446744073709551615}})", true},
      {R"({"mcp": {"enabled": true, "max_rows": 18446744073709551616}})", false},
      {R"({"mcp": {"enabled": true, "timeout_secs": 0}})", true},
      {R"({"mcp": {"enabled": true, "Enabled": false, "extra": {"any": [null]}}})", true},
      {R"({"mcp": {"enabled": true}} {})", false},
      {R"({"mcp": {"enabled": true}} x)", false},
      {"\xEF\xBB\xBF{\"mcp\": {\"enabled\": true}}", false},
      {R"([{"mcp": {"enabled": true}}])", false},
      {R"("mcp")", false},
      {R"({"mcp": [true]})", true},
      {R"({"mcp": [true, 200, 30]})", true},
      {R"({"mcp": [true, 200, 30, 0]})", false},
      {R"({"mcp": [true, -1]})", false},
      {R"({"mcp": []})", false},
      {R"({"mcp": true})", false},
      {R"({"mcp": {"enabled": false}, "mcp": {"enabled": true}})", true},
      {R"({"mcp": {"enabled": true}, "mcp": {"enabled": false}})", false},
      {R"({"mcp": {"enabled": false, "enabled": true}})", true},
      {"", false},
      {" \n ", false},
      {"\xC2\xA0", false},
      {"{\"mcp\": {\"enabled\": true}, \"x\": \"\xff\"}", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    EXPECT_EQ(enabled_with(c.contents), c.enabled);
  }
}

TEST_F(McpEnabledTest, MissingOrUnreadableFileIsOff) {
  EXPECT_FALSE(mcp_enabled(path_));
  EXPECT_FALSE(mcp_enabled(dir_));  // a directory cannot be read as a file
}

}  // namespace
}  // namespace harlo_mcp_protocol::prefs
