// The icon file format, one icon image in memory, and the list of them.
//
// An icon file (.ico), all integers little-endian:
//
//   offset  size       field
//   0       2          idReserved     0
//   2       2          idType         1 for an icon (2 is a cursor)
//   4       2          idCount        number of images
//   6       16 * n     directory      one ICONDIRENTRY per image, in image order
//   ...                image bytes    anywhere in the file, found through the directory
//
// ICONDIRENTRY, 16 bytes:
//
//   0   1  bWidth         width in pixels, 0 standing for 256
//   1   1  bHeight        height in pixels, 0 standing for 256
//   2   1  bColorCount    colour-table entries, low eight bits (0 for none and for 256)
//   3   1  bReserved      0 in images tarve builds
//   4   2  wPlanes        1 in images tarve builds
//   6   2  wBitCount      bits per pixel (for a PNG image, its bit depth)
//   8   4  dwBytesInRes   length of the image's bytes
//   12  4  dwImageOffset  where the image's bytes start, from the start of the file
//
// An image is either a bitmap (a 40-byte BITMAPINFOHEADER whose height is twice the
// image's, then the colour table, the colour rows and the 1-bit mask rows, all
// bottom-up) or a complete PNG file. tarve writes the images back to back right
// after the directory, in directory order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/source_file.h"

inline constexpr std::size_t kIconHeaderSize = 6;
inline constexpr std::size_t kDirectoryEntrySize = 16;
inline constexpr std::uint32_t kMaxImages = 65535;  // what the 16-bit idCount can count

// One icon image. Fields `width` to `imageOffset` are an ICONDIRENTRY exactly as it
// is stored (same order, widths and byte order), so that they move between a
// directory and an entry as one 16-byte block.
struct IconEntry {
  std::uint8_t width;         // bWidth
  std::uint8_t height;        // bHeight
  std::uint8_t colorCount;    // bColorCount
  std::uint8_t reserved;      // bReserved
  std::uint16_t planes;       // wPlanes
  std::uint16_t bitCount;     // wBitCount
  std::uint32_t bytesInRes;   // dwBytesInRes
  std::uint32_t imageOffset;  // dwImageOffset: in the input first, then in the output
  const char* sourcePath;     // the input the image came from, shown in the listing
  const std::uint8_t* image;  // `bytesInRes` bytes, owned by the input or by the reader
  IconEntry* next;            // the following entry, or nullptr
};

// The block copy relies on the directory fields sitting at their stored offsets, and
// on the host storing integers little-endian as the format does.
static_assert(offsetof(IconEntry, planes) == 4);
static_assert(offsetof(IconEntry, bitCount) == 6);
static_assert(offsetof(IconEntry, bytesInRes) == 8);
static_assert(offsetof(IconEntry, imageOffset) == 12);
static_assert(offsetof(IconEntry, sourcePath) >= kDirectoryEntrySize);

// All icon images of a run, in the order of the inputs and, within an icon file, of
// its directory. `head` is an empty record whose only used field is `next`.
struct EntryList {
  IconEntry head;
};

// The form every reader has: it appends the images it makes from `source` after
// `tail`, the list's last entry, and returns the new last entry. It returns only on
// success.
using Reader = IconEntry* (*)(IconEntry* tail, SourceFile* source);

// Makes a zero-filled entry for an image of `source`, links it after `tail` and
// returns it. Ends the process with "out of memory: <path>" if no memory is left.
IconEntry* append_entry(IconEntry* tail, const SourceFile* source);

// Moves an entry's directory fields from and to a stored ICONDIRENTRY.
void load_directory_fields(IconEntry* entry, const std::uint8_t* directoryEntry);
void store_directory_fields(const IconEntry* entry, std::uint8_t* directoryEntry);
