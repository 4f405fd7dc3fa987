// The JSON rules of every message the bridge reads or writes.
//
// Values are nlohmann::ordered_json: objects keep insertion order, and
// numbers keep one of three kinds (unsigned 64-bit, signed 64-bit for
// negative integers only, double). read_json is the only caller of the
// library's parser; the relay path classifies lines with scan_json
// (json_scan.h), which holds them to the same rules without building values.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace mcp_wire {

using Json = nlohmann::ordered_json;

// Deepest nesting of arrays and objects that read_json accepts.
inline constexpr int kMaxNesting = 127;

// Reads `text` as exactly one JSON value, surrounded by nothing but JSON
// whitespace (space, tab, CR, LF). Returns nothing when the text is not
// such a value, when arrays and objects nest deeper than kMaxNesting, or
// when a number does not fit a double. A repeated member name keeps the
// last value at the position of its first occurrence; integers outside
// both 64-bit ranges become doubles. The nesting is checked by a linear
// scan before parsing, so hostile input is rejected in bounded stack.
std::optional<Json> read_json(std::string_view text);

// Writes `value` as compact JSON: no whitespace, members in stored order,
// non-ASCII as raw UTF-8, control characters escaped (\b \t \n \f \r, the
// rest as lowercase \u00xx), doubles in the shortest form that reads back
// to the same value.
std::string write_json(const Json& value);

// Value equality for request ids: same type and value, numbers only within
// one kind (1, 1.0 and -1 as signed are all distinct kinds), objects equal
// regardless of member order. nlohmann's operator== does neither.
bool json_equal(const Json& a, const Json& b);

// A hash that agrees with json_equal: equal values hash alike, whatever the
// order of their object members.
size_t json_hash(const Json& value);

}  // namespace mcp_wire
