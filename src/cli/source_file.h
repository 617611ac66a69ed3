// One loaded input file, and the loading of it.
#pragma once

#include <cstdint>

// One input, read whole into memory. The records form a singly linked list, in
// command-line order, that starts from an empty head record and lives until the
// process ends. Nothing in it changes after loading, except that the bitmap reader
// may reorder the pixel rows of a top-down bitmap inside `content`.
struct SourceFile {
  const char* path;       // the command-line argument itself, not a copy
  std::uint32_t size;     // bytes in `content`; at least kMinSourceSize
  std::uint8_t* content;  // the whole file, exactly `size` bytes, owned by this record
  SourceFile* next;       // the following input, or nullptr
};

// Inputs shorter than this are refused: every reader may look at the first 16 bytes.
inline constexpr std::uint32_t kMinSourceSize = 16;

// Creates the record for `path`, links it after `previous`, reads the file whole
// into it and returns it. On any failure prints "file read error: <path>" and ends
// the process with status 99.
SourceFile* load_source(SourceFile* previous, const char* path);
