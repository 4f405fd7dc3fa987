#include "mcp_wire/negotiation.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace mcp_wire {
namespace {

// The chosen version, or the refusal as compact JSON.
std::string outcome_text(const NegotiationOutcome& outcome) {
  if (const auto* version = std::get_if<std::string>(&outcome)) return *version;
  return "refused " + write_json(std::get<ErrorData>(outcome).to_json());
}

TEST(NegotiateProtocolVersion, BridgeVersions) {
  struct Case {
    std::string requested;
    std::string agreed;
  };
  const Case kCases[] = {
      {"2024-11-05", "2024-11-05"},
      {"2025-03-26", "2025-03-26"},
      {"2025-06-18", "2025-06-18"},
      {"2025-11-25", "2025-11-25"},
      // The newest version is not available over initialize.
      {"2026-07-28", "2025-11-25"},
      // Anything else: older, newer, malformed, empty, or a known version
      // with something after it.
      {"2024-01-01", "2025-11-25"},
      {"2099-01-01", "2025-11-25"},
      {"not-a-date", "2025-11-25"},
      {"", "2025-11-25"},
      {"2025-06-18x", "2025-11-25"},
      {"2025-06-1", "2025-11-25"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.requested);
    EXPECT_EQ(outcome_text(negotiate_protocol_version(c.requested, kLatestProtocolVersion,
                                                      kSupportedProtocolVersions)),
              c.agreed);
  }
}

TEST(NegotiateProtocolVersion, RulesHoldForAnyInputs) {
  struct Case {
    const char* what;
    std::string requested;
    std::string preferred;
    std::vector<std::string_view> supported;
    std::string outcome;
  };
  const Case kCases[] = {
      {"requested, supported and below the cutoff",
       "2001-01-01",
       "2025-03-26",
       {"2001-01-01", "2024-11-05"},
       "2001-01-01"},
      {"requested but in the list only after a prefix match fails",
       "2024-11-0",
       "2025-03-26",
       {"2024-11-05"},
       "2025-03-26"},
      {"requested is supported but not below the cutoff",
       "2026-07-28",
       "2025-03-26",
       {"2024-11-05", "2026-07-28"},
       "2025-03-26"},
      {"preferred comes before the list",
       "2024-01-01",
       "2025-03-26",
       {"2024-11-05", "2025-06-18"},
       "2025-03-26"},
      {"preferred need not be supported", "x", "2000-01-01", {"2024-11-05"}, "2000-01-01"},
      {"preferred is used even with an empty list", "x", "2000-01-01", {}, "2000-01-01"},
      {"the greatest available version, wherever it stands",
       "x",
       "2026-07-28",
       {"2025-06-18", "2026-07-28", "2025-11-25", "2024-11-05"},
       "2025-11-25"},
      {"the greatest available version, first in the list",
       "x",
       "2026-07-28",
       {"2025-11-25", "2024-11-05", "2025-03-26"},
       "2025-11-25"},
      {"a proper prefix sorts first", "x", "9", {"2025", "2025-01", "2024-12-31"}, "2025-01"},
      {"a preferred version past the cutoff falls to the list",
       "2025-06-18",
       "2026-07-28x",
       {"2024-11-05"},
       "2024-11-05"},
      {"bytes compare unsigned: a high byte is past the cutoff",
       "\xC3\xA9",
       "\xFF",
       {"\xC3\xA9", "2025-06-18", "\xFF"},
       "2025-06-18"},
      {"nothing available: refused with the whole list",
       "2025-06-18",
       "2026-07-28",
       {"2026-07-28"},
       R"(refused {"code":-32022,"message":"Unsupported protocol version",)"
       R"("data":{"requested":"2025-06-18","supported":["2026-07-28"]}})"},
      {"refused with an empty list",
       "",
       "2027-01-01",
       {},
       R"(refused {"code":-32022,"message":"Unsupported protocol version",)"
       R"("data":{"requested":"","supported":[]}})"},
      {"refused, the list kept in its order",
       "a\"b",
       "3000",
       {"2027-01-01", "2026-07-28", "2026-07-28-rc"},
       R"(refused {"code":-32022,"message":"Unsupported protocol version",)"
       R"("data":{"requested":"a\"b","supported":["2027-01-01","2026-07-28","2026-07-28-rc"]}})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outcome_text(negotiate_protocol_version(c.requested, c.preferred, c.supported)),
              c.outcome);
  }
}

TEST(UnsupportedProtocolVersion, ListsEverySupportedVersion) {
  const ErrorData error =
      ErrorData::unsupported_protocol_version("1.0", kSupportedProtocolVersions);
  EXPECT_EQ(error.code, kUnsupportedProtocolVersion);
  EXPECT_EQ(write_json(error.to_json()),
            R"({"code":-32022,"message":"Unsupported protocol version","data":{"requested":"1.0",)"
            R"("supported":["2024-11-05","2025-03-26","2025-06-18","2025-11-25","2026-07-28"]}})");
}

}  // namespace
}  // namespace mcp_wire
