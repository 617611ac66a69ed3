#include "cli/recognize.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cli/fail.h"
#include "icon/read_icon_file.h"
#include "readers/read_bitmap.h"
#include "readers/read_png.h"

namespace {

struct Recognition {
  std::size_t length;     // how many leading bytes are compared
  std::uint8_t start[4];  // their values
  Reader reader;
};

// Tested in this order. Only these bytes are compared: the rest of the PNG signature
// and the icon's image count play no part, and a cursor file (00 00 02 00) matches
// no row.
constexpr Recognition kRecognitionTable[] = {
    {2, {0x42, 0x4D}, read_bitmap},                 // "BM"
    {4, {0x89, 0x50, 0x4E, 0x47}, read_png},        // "\x89PNG"
    {4, {0x00, 0x00, 0x01, 0x00}, read_icon_file},  // reserved 0, type 1 (icon)
};

}  // namespace

IconEntry* recognize_and_convert(IconEntry* tail, SourceFile* source) {
  for (const Recognition& row : kRecognitionTable) {
    if (source->size >= row.length && std::memcmp(source->content, row.start, row.length) == 0) {
      return row.reader(tail, source);
    }
  }
  fail("unknown file format: %s\n", source->path);
}
