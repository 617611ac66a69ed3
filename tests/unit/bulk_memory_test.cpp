#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "icon/bulk_memory.h"
#include "test_support.h"

namespace {

struct Taken {
  std::uint8_t* start;
  std::size_t size;
};

bool all_zero(const std::uint8_t* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](std::uint8_t byte) { return byte == 0; });
}

// The buffers of a run as tarve takes them: many the size of an input, some tiny,
// enough of them to fill more than one region, and an output large enough for a
// mapping of its own. Each must be zero-filled, aligned, and the caller's alone:
// every buffer is filled with a byte of its own, and a buffer that overlapped
// another would show the other's byte.
TEST(BulkMemory, LastingBuffersAreZeroFilledAlignedAndSeparate) {
  keep_buffers_until_exit();
  std::vector<std::size_t> sizes = {0, 1, 15, 16, 17, 63, 64, 65};
  for (int i = 0; i < 300; ++i) sizes.push_back(262198 + static_cast<std::size_t>(i % 3));
  sizes.push_back(std::size_t{16} << 20);        // the first size that is mapped alone
  sizes.push_back((std::size_t{16} << 20) + 3);  // an output not a multiple of 2 MiB
  sizes.push_back(270376);                       // carving goes on after a large buffer

  std::vector<Taken> taken;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    SCOPED_TRACE("buffer " + std::to_string(i) + " of " + std::to_string(sizes[i]) + " bytes");
    std::uint8_t* buffer = take_buffer(sizes[i]);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 16, 0u);
    EXPECT_TRUE(all_zero(buffer, sizes[i]));
    std::memset(buffer, static_cast<int>(i % 251 + 1), sizes[i]);
    taken.push_back({buffer, sizes[i]});
  }
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const auto mark = static_cast<std::uint8_t>(i % 251 + 1);
    const std::uint8_t* start = taken[i].start;
    EXPECT_TRUE(
        std::all_of(start, start + taken[i].size, [mark](std::uint8_t b) { return b == mark; }))
        << "buffer " << i << " was written through another";
  }

  // No two overlap, and a buffer of 0 bytes still has a byte of its own.
  std::sort(taken.begin(), taken.end(),
            [](const Taken& a, const Taken& b) { return a.start < b.start; });
  for (std::size_t i = 1; i < taken.size(); ++i) {
    EXPECT_GE(taken[i].start, taken[i - 1].start + std::max<std::size_t>(taken[i - 1].size, 1));
  }
  for (const Taken& buffer : taken) release_buffer(buffer.start);
}

}  // namespace
