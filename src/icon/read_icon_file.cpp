#include "icon/read_icon_file.h"

#include <cstdint>

#include "cli/fail.h"
#include "icon/byte_order.h"

IconEntry* read_icon_file(IconEntry* tail, SourceFile* source) {
  const std::uint8_t* content = source->content;
  const std::uint16_t count = read_le16(content + 4);

  // Nothing in the directory is trusted until it is checked against the file's size;
  // sums are taken in 64 bits so that no offset plus length can wrap.
  const std::uint64_t directoryEnd = kIconHeaderSize + std::uint64_t{kDirectoryEntrySize} * count;
  if (directoryEnd > source->size) fail("corrupt icon file: %s\n", source->path);

  for (std::uint32_t i = 0; i < count; ++i) {
    IconEntry* entry = append_entry(tail, source);
    load_directory_fields(entry, content + kIconHeaderSize + kDirectoryEntrySize * i);
    if (std::uint64_t{entry->imageOffset} + entry->bytesInRes > source->size) {
      fail("corrupt icon file: %s\n", source->path);
    }
    entry->image = content + entry->imageOffset;
    tail = entry;
  }
  return tail;
}
