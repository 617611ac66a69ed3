// PNG images, taken into an icon whole: icon files may hold a PNG file as one of
// their images. The file is never decoded or copied before it is written.
#pragma once

#include <cstdint>

#include "icon/icon_entry.h"

// The unsigned 32-bit number stored most significant byte first, as PNG stores them.
std::uint32_t read_be32(const std::uint8_t* bytes);

// Appends one entry that refers to the source's whole content. Refuses files whose
// first chunk is not IHDR ("unrecognized PNG file") and images wider or higher than
// 256 pixels, or empty ("bad row,col for icon").
IconEntry* read_png(IconEntry* tail, SourceFile* source);
