// The listing: one line per icon image, printed before the output is written.
#pragma once

#include "icon/icon_entry.h"

// "png" when the image starts with the first four bytes of the PNG signature,
// otherwise "bmp".
const char* image_kind(const IconEntry* entry);

// Prints one line per entry of the list, numbered from 1: index, kind, height x
// width (0 shown as 256), bits per pixel, colours, bytes and source path.
void print_listing(const EntryList& list);
