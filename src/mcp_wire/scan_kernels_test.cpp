#include "mcp_wire/scan_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace mcp_wire::kernels {
namespace {

// Bytes that end a run, bytes that do not, and non-ASCII bytes.
constexpr unsigned char kSpecial[] = {'"', '\\', 0x00, 0x1F, '\n', 0x20,
                                      'a', 0x7F, 0x80, 0xC3, 0xFF};

// Buffers of `size` plain bytes with one special byte at every offset below
// `offsets` and a second one `gap` bytes behind it. `check` gets each
// buffer and how it was marked, and returns false to stop at a failure.
template <typename Check>
void for_each_marked_buffer(size_t size, size_t offsets, size_t gap, Check check) {
  for (const unsigned char first : kSpecial) {
    for (const unsigned char second : kSpecial) {
      for (size_t at = 0; at < offsets; ++at) {
        std::string buffer(size, 'x');
        buffer[at] = static_cast<char>(first);
        if (at + gap < size) buffer[at + gap] = static_cast<char>(second);
        const std::string marks = "special bytes " + std::to_string(first) + ", " +
                                  std::to_string(second) + " at " + std::to_string(at);
        if (!check(reinterpret_cast<const Byte*>(buffer.data()), marks)) return;
      }
    }
  }
}

// Each marked buffer, checked at every start and end: the kernel in use
// (vector where the architecture has one) gives what the portable one
// gives.
TEST(ScanKernels, VectorFormAgreesWithThePortableOne) {
  constexpr size_t kSize = 48;
  for_each_marked_buffer(kSize, 40, 3, [](const Byte* bytes, const std::string& marks) {
    for (size_t start = 0; start <= 8; ++start) {
      for (size_t end = start; end <= kSize; end += 1 + (end > 24) * 5) {
        bool vector_non_ascii = false;
        bool portable_non_ascii = false;
        const bool same =
            string_stop(bytes + start, bytes + end, vector_non_ascii) ==
                string_stop_portable(bytes + start, bytes + end, portable_non_ascii) &&
            vector_non_ascii == portable_non_ascii &&
            ascii_end(bytes + start, bytes + end) == ascii_end_portable(bytes + start, bytes + end);
        if (!same) {
          ADD_FAILURE() << marks << ", bytes " << start << " to " << end;
          return false;
        }
      }
    }
    return true;
  });
}

// The length of a string's contents when its closing quotation mark comes
// first among the bytes that end a run or are not ASCII, from the bytes
// themselves, or -1.
int reference_plain_length(const Byte* p, const Byte* end) {
  for (const Byte* at = p; at != end; ++at) {
    if (*at == '"') return static_cast<int>(at - p);
    if (*at == '\\' || *at < 0x20 || *at >= 0x80) return -1;
  }
  return -1;
}

// Each form answers exactly for a closing quotation mark within its window
// (eight bytes, or sixteen for the vector form, which falls back to the
// portable one when fewer are left), and -1 for everything else.
TEST(ScanKernels, PlainStringLengthAnswersWithinItsWindow) {
  constexpr size_t kSize = 32;
  for_each_marked_buffer(kSize, 24, 2, [](const Byte* bytes, const std::string& marks) {
    for (size_t start = 0; start <= 4; ++start) {
      for (size_t end = start; end <= kSize; ++end) {
        const int reference = reference_plain_length(bytes + start, bytes + end);
        const auto within = [&](size_t window) {
          return end - start >= window && reference < static_cast<int>(window) ? reference : -1;
        };
#if defined(HARLO_SCAN_VECTOR)
        const int vector_expected = end - start >= 16 ? within(16) : within(8);
#else
        const int vector_expected = within(8);
#endif
        const int portable = plain_string_length_portable(bytes + start, bytes + end);
        const int in_use = plain_string_length(bytes + start, bytes + end);
        if (portable != within(8) || in_use != vector_expected) {
          ADD_FAILURE() << marks << ", bytes " << start << " to " << end << ": portable "
                        << portable << " (expected " << within(8) << "), in use " << in_use
                        << " (expected " << vector_expected << ")";
          return false;
        }
      }
    }
    return true;
  });
}

// The portable kernel against the plainest reading of its contract.
TEST(ScanKernels, PortableFormFindsTheFirstStop) {
  const std::string text = "plain text \xC3\xA9 with a \"quote";
  const auto* bytes = reinterpret_cast<const Byte*>(text.data());
  bool non_ascii = false;
  EXPECT_EQ(string_stop_portable(bytes, bytes + text.size(), non_ascii) - bytes,
            static_cast<ptrdiff_t>(text.find('"')));
  EXPECT_TRUE(non_ascii);
  non_ascii = false;
  EXPECT_EQ(string_stop_portable(bytes, bytes + 10, non_ascii), bytes + 10);
  EXPECT_FALSE(non_ascii);
  EXPECT_EQ(ascii_end_portable(bytes, bytes + text.size()) - bytes,
            static_cast<ptrdiff_t>(text.find('\xC3')));
}

}  // namespace
}  // namespace mcp_wire::kernels
