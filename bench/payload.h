// Realistic JSON for the benchmarks: the rows of a database result, as the
// desktop app sends them back for a query, and request lines of the sizes
// an AI client sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace harlo_bench {

// A compact JSON object {"columns":[...],"rows":[...],"row_count":N,
// "truncated":false} of at least `bytes` bytes and at most one row (about
// 600 bytes) more. The rows mix what real results hold: strings with
// escapes (\" \\ \n \t \u00e9) and raw non-ASCII UTF-8 (é, →, 日本), signed
// integers, doubles, booleans, nulls, and nested arrays and objects. The
// same `bytes` always gives the same text; the text is valid UTF-8 and
// valid JSON.
std::string result_rows(size_t bytes);

// {"jsonrpc":"2.0","id":<id>,"result":<result>}, without a line feed.
std::string response_line(std::string_view id, std::string_view result);

}  // namespace harlo_bench
