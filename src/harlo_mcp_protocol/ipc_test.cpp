#include "harlo_mcp_protocol/ipc.h"

#include <gtest/gtest.h>

#include <string>

namespace harlo_mcp_protocol::ipc {
namespace {

TEST(IsNewer, ComparesDottedNumbers) {
  struct Case {
    const char* a;
    const char* b;
    bool newer;
  };
  const Case cases[] = {
      {"0.11.0", "0.10.0", true},
      {"0.10.0", "0.10.0", false},
      {"0.10", "0.10.0", false},
      {"0.10.1", "0.10.0", true},
      {"1.0.0", "0.10.0", true},
      {"0.9.12", "0.10.0", false},
      {"0.10.0-beta.2", "0.10.0", true},  // parts 0, 10, 0, 2
      {"beta1.0", "0.10.0", false},       // parts 0, 0
      {"", "0.10.0", false},
      {"0.10.0", "", true},
      {"", "", false},
      {"0.10.0.0.1", "0.10.0", true},
      {"18446744073709551615", "18446744073709551614", true},
      {"18446744073709551616", "1", false},  // beyond 64 bits reads as 0
      {"0..11", "0.0.10", true},
      {"010", "9", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(is_newer(c.a, c.b), c.newer);
  }
}

TEST(HandshakeReply, Judgement) {
  using Kind = HandshakeReply::Kind;
  struct Case {
    std::string reply;
    Kind kind;
    std::optional<std::string> version;
  };
  const Case cases[] = {
      {R"({"ok":true})", Kind::kAccepted, std::nullopt},
      {"{\"ok\":true}\r", Kind::kAccepted, std::nullopt},
      {R"({"ok":true,"version":"0.11.0"})", Kind::kAccepted, std::nullopt},
      {R"({"ok":true,"error":"x"})", Kind::kAccepted, std::nullopt},
      {R"({"ok":false})", Kind::kUnusable, std::nullopt},
      {R"({"ok":"true"})", Kind::kUnusable, std::nullopt},
      {R"({"error":"disabled"})", Kind::kRejected, std::nullopt},
      {R"({"error":"x","version":"0.11.0"})", Kind::kRejected, "0.11.0"},
      {R"({"ok":false,"error":null,"version":"0.9"})", Kind::kRejected, "0.9"},
      {R"({"error":"x","version":0.11})", Kind::kRejected, std::nullopt},
      {R"({})", Kind::kUnusable, std::nullopt},
      {R"([{"ok":true}])", Kind::kUnusable, std::nullopt},
      {"true", Kind::kUnusable, std::nullopt},
      {"", Kind::kUnusable, std::nullopt},
      {"garbage", Kind::kUnusable, std::nullopt},
      {"{\"error\":\"\xff\"}", Kind::kUnusable, std::nullopt},
      {R"({"ok":true})" + std::string(500, ' '), Kind::kAccepted, std::nullopt},
      {R"({"ok":true})" + std::string(502, ' '), Kind::kUnusable, std::nullopt},  // 513 bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const HandshakeReply judged = judge_handshake_reply(c.reply);
    EXPECT_EQ(judged.kind, c.kind);
    EXPECT_EQ(judged.version, c.version);
  }
}

}  // namespace
}  // namespace harlo_mcp_protocol::ipc
