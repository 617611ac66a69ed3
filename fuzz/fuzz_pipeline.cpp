// Drives tarve's whole pipeline on one input, as the driver does after loading it:
// recognition and the reader it selects, then the writer's measuring and layout into
// a buffer of exactly the file's size, and the listing's check of each image's kind.
// Nothing is printed and no file is written. A failure that tarve would report (and
// end the run with) comes back as a RunFailure; what the harness itself finds wrong
// aborts, so that libFuzzer keeps the input.
//
// Beyond what the sanitizers see, each run checks that:
//   - a failure's message is one line, ending in a line feed and naming the input;
//   - the reader returns the list's last entry;
//   - only a bitmap gets an image buffer of its own; PNG and icon images refer into
//     the input, and those inputs are left as they were;
//   - the icon file laid out reads back as an icon with the same directory entries,
//     the images back to back after the directory and byte for byte the same.
//
// Every record and buffer a run takes is released before it returns, so that the
// leak checker keeps meaning something. The harness never declares its buffers
// lasting (keep_buffers_until_exit), so each bitmap image is a buffer of its own that
// release_buffer gives back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "cli/recognize.h"
#include "cli/source_file.h"
#include "fail_returns.h"
#include "fuzz_entry.h"
#include "icon/bulk_memory.h"
#include "icon/icon_entry.h"
#include "icon/listing.h"
#include "icon/read_icon_file.h"
#include "icon/write_icon.h"

namespace {

constexpr const char* kInputPath = "fuzz-input.bin";
constexpr const char* kOutputPath = "fuzz-output.ico";

// The loader refuses files of 2^31 bytes or more, as well as those below 16 bytes.
constexpr std::size_t kMaxSourceSize = 0x7FFFFFFF;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "fuzz_pipeline: %s\n", what);
  std::abort();
}

// PNG and icon images refer into the input's content (an empty image may sit right at
// its end); a bitmap's image is a buffer of its own.
bool points_into(const std::uint8_t* image, const SourceFile& source) {
  const std::less_equal<const std::uint8_t*> at_or_before;
  return at_or_before(source.content, image) && at_or_before(image, source.content + source.size);
}

void release(EntryList& list, const SourceFile* source) {
  IconEntry* entry = list.head.next;
  while (entry != nullptr) {
    IconEntry* next = entry->next;
    if (source != nullptr && entry->image != nullptr && !points_into(entry->image, *source)) {
      release_buffer(const_cast<std::uint8_t*>(entry->image));
    }
    delete entry;
    entry = next;
  }
  list.head.next = nullptr;
}

void check_failure_message(const RunFailure& failure) {
  const auto length = static_cast<std::size_t>(failure.length);
  if (failure.length <= 0 || length >= sizeof failure.message) broken("failure message length");
  if (failure.message[length - 1] != '\n') broken("failure message does not end its line");
  if (std::memchr(failure.message, '\n', length - 1) != nullptr) {
    broken("failure message spans several lines");
  }
  if (std::strstr(failure.message, kInputPath) == nullptr) {
    broken("failure message does not name the input");
  }
}

void check_entries(const EntryList& list, const IconEntry* tail, const SourceFile& source,
                   bool bitmap) {
  const IconEntry* last = &list.head;
  while (last->next != nullptr) last = last->next;
  if (tail != last) broken("the reader did not return the list's last entry");

  for (const IconEntry* entry = list.head.next; entry != nullptr; entry = entry->next) {
    if (entry->image == nullptr) broken("an entry without an image");
    if (points_into(entry->image, source) == bitmap) {
      broken(bitmap ? "a bitmap's image refers into the input"
                    : "an image was copied out of the input");
    }
    (void)image_kind(entry);
  }
}

// Reads the laid-out file back as an icon file and compares it with the entries.
void check_written_icon(const EntryList& list, std::uint8_t* file, const IconSize& size) {
  static constexpr std::uint8_t kIconStart[4] = {0x00, 0x00, 0x01, 0x00};
  if (std::memcmp(file, kIconStart, sizeof kIconStart) != 0) broken("not an icon file header");

  SourceFile written{kOutputPath, static_cast<std::uint32_t>(size.fileSize), file, nullptr};
  EntryList reread{};
  try {
    read_icon_file(&reread.head, &written);
  } catch (const RunFailure&) {
    broken("the icon file written does not read back");
  }

  auto offset = static_cast<std::uint32_t>(kIconHeaderSize + kDirectoryEntrySize * size.imageCount);
  const IconEntry* original = list.head.next;
  const IconEntry* copy = reread.head.next;
  for (; original != nullptr && copy != nullptr; original = original->next, copy = copy->next) {
    std::uint8_t expected[kDirectoryEntrySize];
    std::uint8_t stored[kDirectoryEntrySize];
    store_directory_fields(original, expected);
    store_directory_fields(copy, stored);
    if (std::memcmp(expected, stored, sizeof expected) != 0) broken("directory entry differs");
    if (copy->imageOffset != offset) broken("images are not back to back");
    if (copy->bytesInRes != 0 && std::memcmp(original->image, copy->image, copy->bytesInRes) != 0) {
      broken("image bytes differ");
    }
    offset += copy->bytesInRes;
  }
  if (original != nullptr || copy != nullptr) broken("image count differs");
  if (offset != size.fileSize) broken("file size differs from its contents");
  release(reread, nullptr);
}

void write_in_memory(EntryList& list) {
  const IconSize size = measure_icon(list);
  // What write_icon refuses: more images than idCount counts, or offsets past 32 bits.
  if (size.imageCount > kMaxImages || size.fileSize > UINT32_MAX) return;

  auto* file = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size.fileSize)));
  if (file == nullptr) return;
  lay_out_icon(list, size, file);
  check_written_icon(list, file, size);
  std::free(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kMinSourceSize || size > kMaxSourceSize) return 0;

  // A buffer of the input's exact size, as the loader makes: the bitmap reader turns
  // top-down rows around inside it, and the sanitizer must see where it ends.
  auto* content = static_cast<std::uint8_t*>(std::malloc(size));
  if (content == nullptr) return 0;
  std::memcpy(content, data, size);
  SourceFile source{kInputPath, static_cast<std::uint32_t>(size), content, nullptr};
  const bool bitmap = data[0] == 0x42 && data[1] == 0x4D;  // "BM"

  EntryList entries{};
  try {
    const IconEntry* tail = recognize_and_convert(&entries.head, &source);
    check_entries(entries, tail, source, bitmap);
    write_in_memory(entries);
  } catch (const RunFailure& failure) {
    check_failure_message(failure);
  }

  if (!bitmap && std::memcmp(content, data, size) != 0) broken("a reader changed its input");

  release(entries, &source);
  std::free(content);
  return 0;
}
