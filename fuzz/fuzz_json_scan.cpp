// Treats the input as one line of text and checks scan_json against the
// reference reader, read_json:
//   - both accept or both reject the text;
//   - what scan_json accepts is well-formed UTF-8 (the bridge relies on
//     this to check the UTF-8 of a line only once);
//   - each member found is the last top-level member of its name in the
//     reader's object, as a readable JSON text of the same value and kind,
//     and a member the reader has is found.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "mcp_wire/json.h"
#include "mcp_wire/json_scan.h"
#include "mcp_wire/utf8.h"

namespace {

using harlo_fuzz::fail;
using harlo_fuzz::printable;
using mcp_wire::Json;

constexpr std::array<std::string_view, 3> kNames = {"method", "id", "a"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::array<std::optional<std::string_view>, kNames.size()> found;
  const bool accepted = mcp_wire::scan_json(text, kNames, found);
  const std::optional<Json> reference = mcp_wire::read_json(text);
  if (accepted != reference.has_value()) {
    fail(accepted ? "scan_json accepts what the reader rejects"
                  : "scan_json rejects what the reader accepts",
         "text: " + printable(text));
  }
  if (!accepted) return 0;
  if (!mcp_wire::is_valid_utf8(text))
    fail("scan_json accepts text that is not UTF-8", printable(text));

  for (size_t i = 0; i < kNames.size(); ++i) {
    std::optional<Json> want;
    if (reference->is_object()) {
      const auto member = reference->find(std::string(kNames[i]));
      if (member != reference->end()) want = *member;
    }
    if (want.has_value() != found[i].has_value()) {
      fail("scan_json and the reader disagree on a member's presence",
           "member " + std::string(kNames[i]) + "\ntext: " + printable(text));
    }
    if (!want) continue;
    const std::optional<Json> got = mcp_wire::read_json(*found[i]);
    if (!got || !mcp_wire::json_equal(*got, *want) ||
        mcp_wire::write_json(*got) != mcp_wire::write_json(*want)) {
      fail("scan_json found another value for a member", "member " + std::string(kNames[i]) +
                                                             "\nfound: " + printable(*found[i]) +
                                                             "\ntext: " + printable(text));
    }
  }
  return 0;
}
