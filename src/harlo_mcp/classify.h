// What one JSON-RPC line is. The bridge relays lines without rewriting
// them; it only needs to know their kind, method and id.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "mcp_wire/json.h"
#include "mcp_wire/json_scan.h"

namespace harlo_mcp {

using mcp_wire::Json;

// A JSON object with "method" and "id".
struct Request {
  std::string method;
  Json id;
};

// A JSON object with "method" and no "id".
struct Notification {
  std::string method;
};

// A JSON object with "id" and no "method".
struct Response {
  Json id;
  bool has_error = false;  // it has an "error" member, of any value
};

// Anything else: not JSON, not an object, or an object with neither member.
struct Other {};

using Incoming = std::variant<Request, Notification, Response, Other>;

// Classifies one line (without its terminator) by the bridge's JSON rules.
// A "method" that is not a string gives the method ""; an "id" of any type,
// null included, counts as present and is copied with its number kind.
// Besides these two members only the presence of "error" is looked at.
// Never fails: what cannot be read is Other.
Incoming classify(std::string_view line);

// Classifies a line whose UTF-8 has not been checked yet: nothing when it
// is not valid UTF-8 (for the reader, a read error), else as classify().
// A line that reads as JSON needs no second pass: the reader of JSON
// accepts only well-formed UTF-8.
std::optional<Incoming> classify_line(std::string_view line);

// The same for a line that LineReader has already scanned as it read it
// (its scanned()), with no further pass over the line.
std::optional<Incoming> classify_line(const mcp_wire::ScannedLine& scanned);

}  // namespace harlo_mcp
