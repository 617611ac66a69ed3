// Windows bitmaps (.bmp), each turned into one icon image in the bitmap form that
// icon files store.
#pragma once

#include <cstdint>

#include "icon/icon_entry.h"

// BITMAPINFOHEADER, the 40-byte header that starts an icon's bitmap image and that
// newer bitmap files carry after their 14-byte file header.
struct BitmapInfoHeader {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;  // negative in a file whose rows run top-down
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};

// Bytes in one row of `width` pixels of `bitCount` bits, padded to four bytes.
std::uint32_t row_stride(std::uint32_t bitCount, std::uint32_t width);

// Appends one entry holding a new image built from the bitmap: the header with a
// doubled height, the colour table, the colour rows bottom-up (24-bit pixels widened
// to 32 bits) and an all-zero mask. A top-down file has its rows reversed in place
// in the source's content. Refuses compressed files, headers other than 40 or 12
// bytes, plane counts other than 1, more than 32 bits per pixel, sides outside 1 to
// 256 and files shorter than their headers announce.
IconEntry* read_bitmap(IconEntry* tail, SourceFile* source);
