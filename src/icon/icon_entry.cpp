#include "icon/icon_entry.h"

#include <bit>
#include <cstring>
#include <new>

#include "cli/fail.h"

static_assert(std::endian::native == std::endian::little,
              "directory fields are copied as stored; a big-endian host would need byte swaps");

IconEntry* append_entry(IconEntry* tail, const SourceFile* source) {
  auto* entry = new (std::nothrow) IconEntry{};
  if (entry == nullptr) fail("out of memory: %s\n", source->path);
  entry->sourcePath = source->path;
  tail->next = entry;
  return entry;
}

void load_directory_fields(IconEntry* entry, const std::uint8_t* directoryEntry) {
  std::memcpy(static_cast<void*>(entry), directoryEntry, kDirectoryEntrySize);
}

void store_directory_fields(const IconEntry* entry, std::uint8_t* directoryEntry) {
  std::memcpy(directoryEntry, static_cast<const void*>(entry), kDirectoryEntrySize);
}
