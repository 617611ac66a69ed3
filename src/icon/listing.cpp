#include "icon/listing.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint8_t kPngStart[4] = {0x89, 0x50, 0x4E, 0x47};

// Widths and heights of 256 are stored as 0.
int pixels(std::uint8_t stored) {
  return stored == 0 ? 256 : stored;
}

}  // namespace

const char* image_kind(const IconEntry* entry) {
  const bool png = entry->bytesInRes >= sizeof kPngStart &&
                   std::memcmp(entry->image, kPngStart, sizeof kPngStart) == 0;
  return png ? "png" : "bmp";
}

void print_listing(const EntryList& list) {
  int index = 0;
  for (const IconEntry* entry = list.head.next; entry != nullptr; entry = entry->next) {
    ++index;
    // Height comes before width: the line reads rows by columns.
    std::printf("%2d: %s %3dx%3d%3dbpp%4dclr%7d %s\n", index, image_kind(entry),
                pixels(entry->height), pixels(entry->width), entry->bitCount, entry->colorCount,
                static_cast<int>(entry->bytesInRes), entry->sourcePath);
  }
}
