// Judges the input as the app's handshake reply, and compares versions cut
// from it. Checks that
//   - judge_handshake_reply agrees with a judgement worked out here from
//     read_json: at most 512 bytes of UTF-8 holding an object, accepted
//     when "ok" is true, else rejected when it has "error" (with "version"
//     when that is a string), else unusable; a problem is named exactly for
//     an unusable reply;
//   - is_newer agrees with a comparison worked out here on decimal texts,
//     and is a strict order: never is_newer(a, a), never both directions,
//     transitive, and versions that are neither newer nor older compare
//     alike with a third.
// The versions a, b and c are the input cut at its first two NULs or line
// feeds (b and c are empty when there are fewer).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "harlo_mcp_protocol/ipc.h"
#include "mcp_wire/json.h"
#include "mcp_wire/utf8.h"

namespace {

using harlo_fuzz::fail;
using harlo_fuzz::printable;
using harlo_mcp_protocol::ipc::HandshakeReply;
using harlo_mcp_protocol::ipc::is_newer;
using mcp_wire::Json;

// ---- The reply -------------------------------------------------------------

HandshakeReply reference_judge(std::string_view reply) {
  HandshakeReply judged;  // unusable
  if (reply.size() > 512 || !mcp_wire::is_valid_utf8(reply)) return judged;
  const std::optional<Json> value = mcp_wire::read_json(reply);
  if (!value || !value->is_object()) return judged;
  const Json* ok = nullptr;
  const Json* error = nullptr;
  const Json* version = nullptr;
  for (const auto& [name, member] : value->items()) {
    if (name == "ok") ok = &member;
    if (name == "error") error = &member;
    if (name == "version") version = &member;
  }
  if (ok != nullptr && ok->is_boolean() && ok->get<bool>()) {
    judged.kind = HandshakeReply::Kind::kAccepted;
  } else if (error != nullptr) {
    judged.kind = HandshakeReply::Kind::kRejected;
    if (version != nullptr && version->is_string()) judged.version = version->get<std::string>();
  }
  return judged;
}

std::string describe(const HandshakeReply& reply) {
  static constexpr const char* kNames[] = {"accepted", "rejected", "unusable"};
  std::string text = kNames[static_cast<int>(reply.kind)];
  if (reply.version) text += ", version " + printable(*reply.version);
  if (!reply.problem.empty()) text += ", problem " + printable(reply.problem);
  return text;
}

void check_judgement(std::string_view reply) {
  const HandshakeReply got = harlo_mcp_protocol::ipc::judge_handshake_reply(reply);
  const HandshakeReply want = reference_judge(reply);
  const bool unusable = got.kind == HandshakeReply::Kind::kUnusable;
  if (got.kind != want.kind || got.version != want.version || got.problem.empty() == unusable) {
    fail("judge_handshake_reply disagrees with the reference judgement",
         "reply:     " + printable(reply) + "\njudged:    " + describe(got) +
             "\nreference: " + describe(want));
  }
}

// ---- Versions --------------------------------------------------------------

// One component's number as a decimal text without leading zeros, "" for
// zero: its leading ASCII digits, or "" when there are none or their value
// needs more than 64 bits.
std::string component_number(std::string_view part) {
  static constexpr std::string_view kLargest = "18446744073709551615";
  size_t digits = 0;
  while (digits < part.size() && part[digits] >= '0' && part[digits] <= '9') ++digits;
  std::string_view number = part.substr(0, digits);
  while (number.starts_with('0')) number.remove_prefix(1);
  if (number.size() > kLargest.size() || (number.size() == kLargest.size() && number > kLargest)) {
    return {};
  }
  return std::string(number);
}

std::vector<std::string> component_numbers(std::string_view version) {
  std::vector<std::string> numbers;
  size_t start = 0;
  for (;;) {
    const size_t dot = version.find('.', start);
    numbers.push_back(component_number(version.substr(start, dot - start)));
    if (dot == std::string_view::npos) return numbers;
    start = dot + 1;
  }
}

// Compares decimal texts without leading zeros: the longer is larger, and
// of equal length the one that sorts later.
bool reference_is_newer(std::string_view a, std::string_view b) {
  const std::vector<std::string> left = component_numbers(a);
  const std::vector<std::string> right = component_numbers(b);
  for (size_t i = 0; i < left.size() || i < right.size(); ++i) {
    const std::string_view x = i < left.size() ? left[i] : std::string_view();
    const std::string_view y = i < right.size() ? right[i] : std::string_view();
    if (x != y) return x.size() != y.size() ? x.size() > y.size() : x > y;
  }
  return false;
}

[[noreturn]] void fail_versions(std::string_view what, std::string_view a, std::string_view b,
                                std::string_view c = {}) {
  std::string versions = "a: " + printable(a) + "\nb: " + printable(b);
  if (!c.empty()) versions += "\nc: " + printable(c);
  fail(what, versions);
}

void check_versions(const std::string_view (&versions)[3]) {
  // newer[i][j]: whether versions[i] is newer than versions[j].
  bool newer[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const std::string_view a = versions[i], b = versions[j];
      newer[i][j] = is_newer(a, b);
      if (newer[i][j] != reference_is_newer(a, b)) {
        fail_versions(newer[i][j] ? "is_newer(a, b) is true, the reference says false"
                                  : "is_newer(a, b) is false, the reference says true",
                      a, b);
      }
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (newer[i][i]) fail_versions("is_newer(a, a) is true", versions[i], versions[i]);
    for (int j = 0; j < 3; ++j) {
      if (newer[i][j] && newer[j][i]) {
        fail_versions("is_newer(a, b) and is_newer(b, a)", versions[i], versions[j]);
      }
      for (int k = 0; k < 3; ++k) {
        if (newer[i][j] && newer[j][k] && !newer[i][k]) {
          fail_versions("is_newer(a, b) and is_newer(b, c) but not is_newer(a, c)", versions[i],
                        versions[j], versions[k]);
        }
        const bool alike = !newer[i][j] && !newer[j][i];
        if (alike && (newer[i][k] != newer[j][k] || newer[k][i] != newer[k][j])) {
          fail_versions("a and b are alike but compare differently with c", versions[i],
                        versions[j], versions[k]);
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check_judgement(input);

  std::string_view versions[3];
  std::string_view rest = input;
  for (int i = 0; i < 2; ++i) {
    const size_t cut = rest.find_first_of(std::string_view("\0\n", 2));
    versions[i] = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  versions[2] = rest;
  check_versions(versions);
  return 0;
}
