#include "icon/write_icon.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cli/fail.h"
#include "cli/platform.h"
#include "icon/bulk_memory.h"
#include "icon/byte_order.h"
#include "icon/listing.h"

IconSize measure_icon(const EntryList& list) {
  IconSize size{0, kIconHeaderSize};
  for (const IconEntry* entry = list.head.next; entry != nullptr; entry = entry->next) {
    ++size.imageCount;
    size.fileSize += kDirectoryEntrySize + std::uint64_t{entry->bytesInRes};
  }
  return size;
}

void lay_out_icon(EntryList& list, const IconSize& size, std::uint8_t* buffer) {
  write_le16(buffer + 0, 0);  // idReserved
  write_le16(buffer + 2, 1);  // idType: icon
  write_le16(buffer + 4, static_cast<std::uint16_t>(size.imageCount));

  std::uint8_t* directory = buffer + kIconHeaderSize;
  auto data = static_cast<std::uint32_t>(kIconHeaderSize + kDirectoryEntrySize * size.imageCount);
  for (IconEntry* entry = list.head.next; entry != nullptr; entry = entry->next) {
    entry->imageOffset = data;
    store_directory_fields(entry, directory);
    if (entry->bytesInRes != 0) std::memcpy(buffer + data, entry->image, entry->bytesInRes);
    directory += kDirectoryEntrySize;
    data += entry->bytesInRes;
  }
}

void write_icon(const char* outputPath, EntryList& list) {
  const IconSize size = measure_icon(list);
  // idCount is 16 bits and every offset 32 bits: anything larger cannot be written.
  if (size.imageCount > kMaxImages || size.fileSize > UINT32_MAX) {
    fail("too many images for one icon file: %s\n", outputPath);
  }

  print_listing(list);

  const auto fileSize = static_cast<std::size_t>(size.fileSize);
  std::uint8_t* buffer = take_buffer(fileSize);
  if (buffer == nullptr) fail("out of memory: %s\n", outputPath);
  lay_out_icon(list, size, buffer);
  const bool written = replace_file(outputPath, buffer, fileSize);
  release_buffer(buffer);  // nothing else refers to it; the leak checker would flag it at exit
  if (!written) fail("file write error: %s\n", outputPath);
}
