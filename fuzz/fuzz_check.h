// What every fuzz target uses to report a broken property. libFuzzer saves
// the input of any run that aborts, so a failed check becomes a crash file
// that scripts/fuzz reports and fuzz/regressions/ keeps.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace harlo_fuzz {

// `bytes` as a quoted, printable text for a failure message: printable
// ASCII as is, `"` and `\` escaped, everything else as \xNN. Long texts are
// cut after `limit` bytes, with the full length noted.
inline std::string printable(std::string_view bytes, size_t limit = 400) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "\"";
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 0xf];
    }
  }
  text += '"';
  if (bytes.size() > limit) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

// Ends the run on a broken property: writes "FUZZ CHECK FAILED: <what>",
// then `details` on the next line, to standard error and aborts.
[[noreturn]] inline void fail(std::string_view what, std::string_view details = {}) {
  std::string text = "\nFUZZ CHECK FAILED: ";
  text += what;
  text += '\n';
  if (!details.empty()) {
    text += details;
    text += '\n';
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  std::abort();
}

// Fails with `what` unless `condition` holds.
inline void check(bool condition, std::string_view what, std::string_view details = {}) {
  if (!condition) fail(what, details);
}

}  // namespace harlo_fuzz
