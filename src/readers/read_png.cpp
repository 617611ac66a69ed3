// A PNG file starts with an eight-byte signature and then its first chunk, which
// must be IHDR:
//
//   offset  size  field
//   0       8     signature 89 50 4E 47 0D 0A 1A 0A
//   8       4     chunk length (13)
//   12      4     chunk type "IHDR"
//   16      4     width, big-endian
//   20      4     height, big-endian
//   24      1     bit depth: bits per sample, not per pixel
//   ...           colour type, compression, filter, interlace, check value, more chunks
//
// Only the chunk type, the size and the bit depth are read.

#include "readers/read_png.h"

#include <cstring>

#include "cli/fail.h"

namespace {

constexpr std::uint32_t kIhdrType = 12;
constexpr std::uint32_t kWidth = 16;
constexpr std::uint32_t kHeight = 20;
constexpr std::uint32_t kBitDepth = 24;
constexpr std::uint32_t kMaxSide = 256;

}  // namespace

std::uint32_t read_be32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

IconEntry* read_png(IconEntry* tail, SourceFile* source) {
  const std::uint8_t* content = source->content;
  if (source->size <= kBitDepth || std::memcmp(content + kIhdrType, "IHDR", 4) != 0) {
    fail("unrecognized PNG file: %s\n", source->path);
  }

  const std::uint32_t width = read_be32(content + kWidth);
  const std::uint32_t height = read_be32(content + kHeight);
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
    // Rows before columns; the numbers are printed signed, as they would be read.
    fail("bad row,col for icon: %d,%d [%s]\n", static_cast<int>(height), static_cast<int>(width),
         source->path);
  }

  IconEntry* entry = append_entry(tail, source);
  entry->width = static_cast<std::uint8_t>(width);  // 256 is stored as 0
  entry->height = static_cast<std::uint8_t>(height);
  entry->planes = 1;
  // The depth byte is widened with its sign: no valid PNG has a depth of 128 or more,
  // and such a byte shows as a number near 65535 rather than a plausible depth.
  entry->bitCount = static_cast<std::uint16_t>(static_cast<std::int8_t>(content[kBitDepth]));
  entry->bytesInRes = source->size;
  entry->image = content;
  return entry;
}
