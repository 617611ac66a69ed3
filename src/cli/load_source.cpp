#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "cli/fail.h"
#include "cli/platform.h"
#include "cli/source_file.h"
#include "icon/bulk_memory.h"

namespace {

[[noreturn]] void fail_read(const char* path) {
  fail("file read error: %s\n", path);
}

// The size of an open file, found by seeking to its end. File positions are taken as
// signed 32-bit numbers, so a file of 2^31 bytes or more is refused here, before any
// buffer is taken for it.
std::uint32_t file_size(std::FILE* file, const char* path) {
  if (std::fseek(file, 0, SEEK_END) != 0) fail_read(path);
  const std::int64_t end = file_position(file);
  if (end < 0 || end > INT32_MAX) fail_read(path);
  return static_cast<std::uint32_t>(end);
}

}  // namespace

SourceFile* load_source(SourceFile* previous, const char* path) {
  auto* source = new (std::nothrow) SourceFile{};
  if (source == nullptr) fail("out of memory: %s\n", path);
  previous->next = source;
  source->path = path;

  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) fail_read(path);
  // The file is read whole, straight into its buffer. Without a stream buffer the
  // seek to the end is one lseek and the read one read() of the whole size; with
  // one, the C library would read the last partial block at the seek and again
  // after the read, copying it through a buffer of its own.
  if (std::setvbuf(file, nullptr, _IONBF, 0) != 0) fail_read(path);
  source->size = file_size(file, path);
  if (source->size < kMinSourceSize) fail_read(path);
  source->content = take_buffer(source->size);
  if (source->content == nullptr) fail_read(path);
  if (std::fseek(file, 0, SEEK_SET) != 0) fail_read(path);
  if (std::fread(source->content, 1, source->size, file) != source->size) fail_read(path);
  if (std::fclose(file) != 0) fail_read(path);
  return source;
}
