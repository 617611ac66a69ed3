// A Windows bitmap file, all integers little-endian:
//
//   offset  size  field
//   0       2     bfType "BM"
//   2       4     bfSize, not used
//   6       4     two reserved words, not used
//   10      4     bfOffBits: where the first pixel row starts
//   14      4     the size of the header that follows:
//                   40  BITMAPINFOHEADER (see read_bitmap.h); its colour table
//                       follows at 54, four bytes an entry (blue, green, red, 0)
//                   12  BITMAPCOREHEADER: bcSize u32, bcWidth u16, bcHeight u16,
//                       bcPlanes u16, bcBitCount u16; its colour table follows at
//                       26, three bytes an entry (blue, green, red)
//   bfOffBits     the pixel rows, each padded to a multiple of four bytes; bottom
//                 row first, or top row first when the height is negative
//
// The icon image built from it:
//
//   40 bytes              BITMAPINFOHEADER, biHeight twice the row count (the colour
//                         rows and then the mask rows), 24 bits per pixel raised to 32
//   4 * colours           the colour table, four bytes an entry
//   rows * stride         the colour rows, bottom row first
//   rows * mask stride    the 1-bit mask rows, all zero: every pixel opaque

#include "readers/read_bitmap.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cli/fail.h"
#include "icon/bulk_memory.h"
#include "icon/byte_order.h"

namespace {

constexpr std::uint32_t kOffBits = 10;
constexpr std::uint32_t kHeaderStart = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kMaxBitCount = 32;
constexpr std::int32_t kMaxSide = 256;

[[noreturn]] void fail_unsupported(const SourceFile* source) {
  fail("unsupported/compressed (or planes not 1): %s\n", source->path);
}

[[noreturn]] void fail_truncated(const SourceFile* source) {
  fail("truncated bitmap file: %s\n", source->path);
}

// Fails unless the file holds `length` bytes from `offset`; the sum cannot wrap.
void require_bytes(const SourceFile* source, std::uint64_t offset, std::uint64_t length) {
  if (offset + length > source->size) fail_truncated(source);
}

BitmapInfoHeader read_info_header(const std::uint8_t* bytes) {
  BitmapInfoHeader header{};
  header.biSize = read_le32(bytes + 0);
  header.biWidth = static_cast<std::int32_t>(read_le32(bytes + 4));
  header.biHeight = static_cast<std::int32_t>(read_le32(bytes + 8));
  header.biPlanes = read_le16(bytes + 12);
  header.biBitCount = read_le16(bytes + 14);
  header.biCompression = read_le32(bytes + 16);
  header.biSizeImage = read_le32(bytes + 20);
  header.biXPelsPerMeter = static_cast<std::int32_t>(read_le32(bytes + 24));
  header.biYPelsPerMeter = static_cast<std::int32_t>(read_le32(bytes + 28));
  header.biClrUsed = read_le32(bytes + 32);
  header.biClrImportant = read_le32(bytes + 36);
  return header;
}

// A core header's unsigned 16-bit sides are zero-extended, so its rows always run
// bottom-up; compression, image size, resolutions and colour counts are 0.
BitmapInfoHeader widen_core_header(const std::uint8_t* bytes) {
  BitmapInfoHeader header{};
  header.biSize = kInfoHeaderSize;
  header.biWidth = read_le16(bytes + 4);
  header.biHeight = read_le16(bytes + 6);
  header.biPlanes = read_le16(bytes + 8);
  header.biBitCount = read_le16(bytes + 10);
  return header;
}

void store_info_header(const BitmapInfoHeader& header, std::uint8_t* bytes) {
  write_le32(bytes + 0, header.biSize);
  write_le32(bytes + 4, static_cast<std::uint32_t>(header.biWidth));
  write_le32(bytes + 8, static_cast<std::uint32_t>(header.biHeight));
  write_le16(bytes + 12, header.biPlanes);
  write_le16(bytes + 14, header.biBitCount);
  write_le32(bytes + 16, header.biCompression);
  write_le32(bytes + 20, header.biSizeImage);
  write_le32(bytes + 24, static_cast<std::uint32_t>(header.biXPelsPerMeter));
  write_le32(bytes + 28, static_cast<std::uint32_t>(header.biYPelsPerMeter));
  write_le32(bytes + 32, header.biClrUsed);
  write_le32(bytes + 36, header.biClrImportant);
}

// The size of the header stored in the file, which decides how it is read.
std::uint32_t stored_header_size(const SourceFile* source) {
  require_bytes(source, kHeaderStart, 4);
  const std::uint32_t size = read_le32(source->content + kHeaderStart);
  if (size != kInfoHeaderSize && size != kCoreHeaderSize) fail_unsupported(source);
  require_bytes(source, kHeaderStart, size);
  return size;
}

// The row count of a height whose sign tells the row order. The negation wraps in
// 32 bits, so -2^31 stays negative and is refused as out of range.
std::int32_t row_count(std::int32_t height) {
  if (height >= 0) return height;
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(height));
}

// Swaps the first row with the last, the second with the last but one, and so on,
// through one row-long buffer.
void reverse_rows(std::uint8_t* rows, std::uint32_t stride, std::uint32_t count,
                  const SourceFile* source) {
  if (count < 2 || stride == 0) return;
  auto* spare = static_cast<std::uint8_t*>(std::malloc(stride));
  if (spare == nullptr) fail("out of memory: %s\n", source->path);
  for (std::uint32_t top = 0, bottom = count - 1; top < bottom; ++top, --bottom) {
    std::uint8_t* upper = rows + std::size_t{top} * stride;
    std::uint8_t* lower = rows + std::size_t{bottom} * stride;
    std::memcpy(spare, upper, stride);
    std::memcpy(upper, lower, stride);
    std::memcpy(lower, spare, stride);
  }
  std::free(spare);
}

// Copies the colour table into four-byte entries; a core header's three-byte entries
// get a zero fourth byte (already zero in the new image).
void copy_colour_table(const SourceFile* source, std::uint32_t headerSize, std::uint32_t colours,
                       std::uint8_t* table) {
  const std::uint8_t* stored = source->content + kHeaderStart + headerSize;
  if (headerSize == kInfoHeaderSize) {
    std::memcpy(table, stored, std::size_t{colours} * 4);
    return;
  }
  for (std::uint32_t i = 0; i < colours; ++i) std::memcpy(table + 4 * i, stored + 3 * i, 3);
}

// Widens rows of 24-bit pixels to 32 bits, each pixel's three bytes followed by a
// zero byte (already zero in the new image).
void widen_rows(const std::uint8_t* rows, std::uint32_t stride, std::uint32_t width,
                std::uint32_t count, std::uint8_t* widened) {
  for (std::uint32_t row = 0; row < count; ++row) {
    const std::uint8_t* pixel = rows + std::size_t{row} * stride;
    for (std::uint32_t x = 0; x < width; ++x, pixel += 3, widened += 4) {
      std::memcpy(widened, pixel, 3);
    }
  }
}

}  // namespace

std::uint32_t row_stride(std::uint32_t bitCount, std::uint32_t width) {
  return (bitCount * width + 31) / 32 * 4;
}

IconEntry* read_bitmap(IconEntry* tail, SourceFile* source) {
  const std::uint32_t headerSize = stored_header_size(source);
  const std::uint8_t* stored = source->content + kHeaderStart;
  const BitmapInfoHeader header =
      headerSize == kInfoHeaderSize ? read_info_header(stored) : widen_core_header(stored);

  if (header.biCompression != 0 || header.biPlanes != 1 || header.biBitCount > kMaxBitCount) {
    fail_unsupported(source);
  }
  const std::int32_t rows = row_count(header.biHeight);
  if (header.biWidth < 1 || header.biWidth > kMaxSide || rows < 1 || rows > kMaxSide) {
    fail("bad row,col for icon: %d,%d [%s]\n", rows, header.biWidth, source->path);
  }
  const auto width = static_cast<std::uint32_t>(header.biWidth);
  const auto rowCount = static_cast<std::uint32_t>(rows);

  std::uint32_t colours = header.biClrUsed;
  if (colours == 0 && header.biBitCount <= 8) colours = 1u << header.biBitCount;
  const std::uint32_t tableEntrySize = headerSize == kInfoHeaderSize ? 4 : 3;
  require_bytes(source, kHeaderStart + headerSize, std::uint64_t{tableEntrySize} * colours);

  const std::uint32_t offBits = read_le32(source->content + kOffBits);
  const std::uint32_t sourceStride = row_stride(header.biBitCount, width);
  require_bytes(source, offBits, std::uint64_t{sourceStride} * rowCount);
  std::uint8_t* pixelRows = source->content + offBits;

  // Icon images run bottom-up: a top-down file's rows are turned round in place.
  if (header.biHeight < 0) reverse_rows(pixelRows, sourceStride, rowCount, source);

  const std::uint32_t outputBits = header.biBitCount == 24 ? 32 : header.biBitCount;
  const std::uint32_t destinationStride = row_stride(outputBits, width);
  const std::uint32_t maskStride = row_stride(1, width);
  // Bounded by the file's size (the table) plus 256 rows of at most 1056 bytes.
  const auto imageSize =
      static_cast<std::uint32_t>(kInfoHeaderSize + std::uint64_t{4} * colours +
                                 std::uint64_t{rowCount} * (destinationStride + maskStride));

  std::uint8_t* image = take_buffer(imageSize);
  if (image == nullptr) fail("out of memory: %s\n", source->path);

  BitmapInfoHeader iconHeader = header;
  iconHeader.biHeight = 2 * rows;
  iconHeader.biBitCount = static_cast<std::uint16_t>(outputBits);
  iconHeader.biClrUsed = colours;
  store_info_header(iconHeader, image);

  std::uint8_t* table = image + kInfoHeaderSize;
  copy_colour_table(source, headerSize, colours, table);

  std::uint8_t* colourRows = table + std::size_t{colours} * 4;
  if (header.biBitCount == 24) {
    widen_rows(pixelRows, sourceStride, width, rowCount, colourRows);
  } else {
    std::memcpy(colourRows, pixelRows, std::size_t{rowCount} * sourceStride);
  }
  // The mask rows that follow stay zero.

  IconEntry* entry = append_entry(tail, source);
  entry->width = static_cast<std::uint8_t>(width);  // 256 is stored as 0
  entry->height = static_cast<std::uint8_t>(rowCount);
  entry->colorCount = static_cast<std::uint8_t>(colours);
  entry->planes = 1;
  entry->bitCount = static_cast<std::uint16_t>(outputBits);
  entry->bytesInRes = imageSize;
  entry->image = image;
  return entry;
}
