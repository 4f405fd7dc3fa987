#include "mcp_wire/scan_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace mcp_wire::kernels {
namespace {

// Bytes that end a run, bytes that do not, and non-ASCII bytes.
constexpr unsigned char kSpecial[] = {'"', '\\', 0x00, 0x1F, '\n', 0x20,
                                      'a', 0x7F, 0x80, 0xC3, 0xFF};

// Buffers of plain bytes with one special byte at every offset, and with a
// second one behind it, checked at every start and end: the kernel in use
// (vector where the architecture has one) gives what the portable one
// gives.
TEST(ScanKernels, VectorFormAgreesWithThePortableOne) {
  for (const unsigned char first : kSpecial) {
    for (const unsigned char second : kSpecial) {
      for (size_t at = 0; at < 40; ++at) {
        std::string buffer(48, 'x');
        buffer[at] = static_cast<char>(first);
        if (at + 3 < buffer.size()) buffer[at + 3] = static_cast<char>(second);
        const auto* bytes = reinterpret_cast<const Byte*>(buffer.data());
        for (size_t start = 0; start <= 8; ++start) {
          for (size_t end = start; end <= buffer.size(); end += 1 + (end > 24) * 5) {
            bool vector_non_ascii = false;
            bool portable_non_ascii = false;
            const bool same =
                string_stop(bytes + start, bytes + end, vector_non_ascii) ==
                    string_stop_portable(bytes + start, bytes + end, portable_non_ascii) &&
                vector_non_ascii == portable_non_ascii &&
                ascii_end(bytes + start, bytes + end) ==
                    ascii_end_portable(bytes + start, bytes + end);
            ASSERT_TRUE(same) << "special bytes " << int{first} << ", " << int{second} << " at "
                              << at << ", bytes " << start << " to " << end;
          }
        }
      }
    }
  }
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
