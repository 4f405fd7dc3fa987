#include "mcp_wire/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace mcp_wire {
namespace {

// The checker's one-step-per-byte form, which must agree with the one that
// skips ASCII.
bool valid_step_by_step(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return (utf8_states::after_each(utf8_states::kAccept, p, p + bytes.size()) & 63) ==
         utf8_states::kAccept;
}

TEST(Utf8, AcceptsWellFormedText) {
  for (const char* text : {"", "plain ascii that is longer than eight bytes", "\u00e9", "\u2192",
                           "\U0001F600", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF",
                           "abcdefg\u2192abcdefgh\u00e9", "abcdefg\u00e9",
                           "\u00e9"
                           "abcdefgh\U0001F600"
                           "abcdefgh"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(is_valid_utf8(text));
    EXPECT_TRUE(valid_step_by_step(text));
  }
}

TEST(Utf8, RejectsMalformedText) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"lone continuation", "\x80"},
      {"overlong two-byte", "\xC0\xAF"},
      {"overlong C1", "\xC1\xBF"},
      {"overlong three-byte", "\xE0\x80\xAF"},
      {"overlong four-byte", "\xF0\x80\x80\xAF"},
      {"surrogate", "\xED\xA0\x80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
      {"F5 lead", "\xF5\x80\x80\x80"},
      {"FF", "\xFF"},
      {"truncated at end", "abc\xE2\x86"},
      {"bad continuation", "\xE2\x28\x92"},
      {"after ascii run", "abcdefghijklmnop\xC3"},
      {"cut short before an ascii word",
       "\xC3"
       "abcdefgh"},
      {"split by an ascii word",
       "\xC3"
       "abcdefgh"
       "\xA9"},
      {"three-byte cut short before an ascii word",
       "\xE2\x86"
       "abcdefghij"},
      {"truncated four-byte", "abc\xF0\x9F\x98"},
      {"bad byte after an ascii word",
       "\xC3\xA9"
       "abcdefgh\xFE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(is_valid_utf8(c.bytes));
    EXPECT_FALSE(valid_step_by_step(c.bytes));
  }
}

}  // namespace
}  // namespace mcp_wire
