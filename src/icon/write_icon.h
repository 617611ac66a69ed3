// The writer: the listing, then the output icon file laid out in one buffer and
// written in one piece.
#pragma once

#include <cstdint>

#include "icon/icon_entry.h"

// The count of images and the size of the icon file that holds them, in 64 bits so
// that a run too large for the format can be told from one that fits.
struct IconSize {
  std::uint64_t imageCount;
  std::uint64_t fileSize;
};

IconSize measure_icon(const EntryList& list);

// Lays the icon file out in `buffer` (exactly `size.fileSize` bytes): the header, the
// directory and the images back to back in list order. Sets each entry's
// `imageOffset` to where its image lands.
void lay_out_icon(EntryList& list, const IconSize& size, std::uint8_t* buffer);

// Prints the listing and writes the icon file to `outputPath`. Refuses runs that the
// format cannot hold before anything is printed or opened, and ends the process on
// any failure to write.
void write_icon(const char* outputPath, EntryList& list);
