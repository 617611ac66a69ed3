#include "icon/bulk_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "cli/platform.h"

// Under AddressSanitizer every buffer comes from the C library, so that a read past
// the end of one is caught rather than landing in its neighbour within a region.
#if defined(__SANITIZE_ADDRESS__)
#define TARVE_PLAIN_BUFFERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define TARVE_PLAIN_BUFFERS 1
#endif
#endif
#if !defined(TARVE_PLAIN_BUFFERS)
#define TARVE_PLAIN_BUFFERS 0
#endif

namespace {

constexpr bool kPlainBuffers = TARVE_PLAIN_BUFFERS != 0;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kAlignment = 64;  // a cache line
// Buffers of kOwnMapping bytes or more (in practice the output) get a mapping of
// their own. Smaller ones are carved one after another from shared regions, the
// first kFirstRegion bytes long and each later one twice as long as the one before,
// up to kLargestRegion. Until its pages are touched a region is only address space,
// so the unused end of a region costs no memory beyond the huge page that its last
// buffer ends in.
constexpr std::size_t kOwnMapping = std::size_t{16} << 20;
constexpr std::size_t kFirstRegion = std::size_t{64} << 20;
constexpr std::size_t kLargestRegion = std::size_t{1} << 30;

bool lasting = false;  // set by keep_buffers_until_exit

// calloc takes large blocks as fresh pages from the system and then skips the
// zero-filling that the system has already done.
std::uint8_t* take_plain_buffer(std::size_t size) {
  return static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
}

std::size_t round_up(std::size_t size, std::size_t step) {
  return (size + step - 1) / step * step;
}

struct Region {
  std::uint8_t* start = nullptr;  // nullptr before the first region
  std::size_t length = 0;
  std::size_t used = 0;  // bytes from `start` that buffers have taken
};

Region region;

// Starts a new region for a buffer of `length` bytes that the current one cannot
// hold. Where the system commits address space as it is mapped, a full region may
// be refused while one just long enough for the buffer is not, so that is tried
// next. The unused end of the old region, from the first huge page that no buffer
// reaches, is given back.
bool start_region(std::size_t length) {
  std::size_t wanted = kFirstRegion;
  if (region.start != nullptr) wanted = std::clamp(2 * region.length, kFirstRegion, kLargestRegion);
  std::uint8_t* start = map_fresh_memory(wanted);
  if (start == nullptr) {
    wanted = round_up(length, kHugePage);
    start = map_fresh_memory(wanted);
    if (start == nullptr) return false;
  }
  const std::size_t kept = round_up(region.used, kHugePage);
  if (kept < region.length) unmap_memory(region.start + kept, region.length - kept);
  region = Region{start, wanted, 0};
  return true;
}

std::uint8_t* carve(std::size_t size) {
  const std::size_t length = round_up(size, kAlignment);
  if (length > region.length - region.used && !start_region(length)) return nullptr;
  std::uint8_t* buffer = region.start + region.used;
  region.used += length;
  return buffer;
}

}  // namespace

void keep_buffers_until_exit() {
  lasting = true;
}

std::uint8_t* take_buffer(std::size_t size) {
  if (kPlainBuffers || !lasting) return take_plain_buffer(size);
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  std::uint8_t* buffer = size < kOwnMapping ? carve(std::max<std::size_t>(size, 1))
                                            : map_fresh_memory(round_up(size, kHugePage));
  // Where the system has no such mapping to give, the C library's memory serves.
  return buffer != nullptr ? buffer : take_plain_buffer(size);
}

// Once buffers are lasting, the process's end releases them all at once.
void release_buffer(std::uint8_t* buffer) {
  if (kPlainBuffers || !lasting) std::free(buffer);
}
