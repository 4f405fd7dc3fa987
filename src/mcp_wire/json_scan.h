// Reading a relayed line without building it: the bridge only needs to
// know whether a line is readable JSON and what a few top-level members
// hold, and a line may be tens of megabytes.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace mcp_wire {

// Checks `text` by exactly the rules of read_json (one value, JSON
// whitespace around it, nesting at most kMaxNesting, strings of valid
// UTF-8 with valid escapes, numbers that fit a double) in one pass and
// without allocating. Returns false when read_json would return nothing.
//
// When the value is an object, `found[i]` receives the raw text of the
// value of the last top-level member named `names[i]` (names compared
// after unescaping), or stays empty when there is none. The text is a
// view into `text`, and itself a readable JSON value.
bool scan_json(std::string_view text, std::span<const std::string_view> names,
               std::span<std::optional<std::string_view>> found);

}  // namespace mcp_wire
