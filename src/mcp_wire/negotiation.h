// Settling the protocol version of an MCP session at "initialize".
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "mcp_wire/response.h"

namespace mcp_wire {

// The newest protocol version known. It, and every version that compares
// at or above it, cannot be agreed over an initialize handshake.
inline constexpr std::string_view kLatestProtocolVersion = "2026-07-28";

// Versions compare byte by byte (a proper prefix sorts first); versions
// strictly below this one are available over initialize.
inline constexpr std::string_view kHandshakeCutoff = kLatestProtocolVersion;

// Every protocol version the bridge supports, oldest first.
inline constexpr std::array<std::string_view, 5> kSupportedProtocolVersions = {
    "2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25", kLatestProtocolVersion};

// The version to use, or the refusal of the initialize request.
using NegotiationOutcome = std::variant<std::string, ErrorData>;

// Chooses the version for an initialize answer; the first rule that
// applies decides:
//   1. `requested`, when available over initialize and in `supported`;
//   2. else `preferred`, when available over initialize (in `supported` or not);
//   3. else the greatest version of `supported` available over initialize;
//   4. else ErrorData::unsupported_protocol_version(requested, supported).
// A pure function of its inputs. The fallback of rules 2 and 3 and the
// refusal of rule 4 are deliberately not reported as diagnostic events:
// nothing is logged, and nothing reaches standard output or standard error.
NegotiationOutcome negotiate_protocol_version(std::string_view requested,
                                              std::string_view preferred,
                                              std::span<const std::string_view> supported);

}  // namespace mcp_wire
