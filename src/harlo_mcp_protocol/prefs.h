// The MCP switch in the desktop app's preferences.json. The bridge only
// reads that file, afresh on every question; it never writes or locks it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mcp_wire/json.h"

namespace harlo_mcp_protocol::prefs {

// The "mcp" member of preferences.json.
struct McpPreferences {
  bool enabled = false;
  uint64_t max_rows = 200;
  uint64_t timeout_secs = 30;

  // Reads the record from an object (members by name, others ignored) or
  // from an array of at most three elements in field order. Missing fields
  // take their defaults. Nothing when any field has the wrong type: only
  // true/false for `enabled`, and integers from 0 to 2^64-1 written without
  // fraction or exponent for the other two.
  static std::optional<McpPreferences> from_json(const mcp_wire::Json& value);
};

// Whether the user switched MCP on. Every problem — a missing or unreadable
// file, text that is not UTF-8 or not exactly one JSON value, a wrong shape
// or type anywhere in the record — answers false, silently.
bool mcp_enabled(const std::string& preferences_path);

}  // namespace harlo_mcp_protocol::prefs
