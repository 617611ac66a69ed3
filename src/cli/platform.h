// What differs between platforms: the null device, how the output file replaces
// an existing one, and how a standard output that cannot be written is survived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Called first in main. A standard output that cannot be written must change nothing
// else in the run: a closed pipe must not kill the process, and a closed standard
// descriptor must not be handed out again to a file tarve opens, where the listing
// would end up. A write over the file-size limit must fail rather than kill.
void prepare_process();

// Opens a file named by a command-line argument, as std::fopen does.
std::FILE* open_file(const char* path, const char* mode);

// True for "nul" in any letter case: the null device's name on Windows. Elsewhere
// tarve takes the same name to mean the platform's null device, so that
// "tarve nul in.ico" inspects an icon everywhere and creates no file named "nul".
bool is_null_device_name(const char* path);

// Makes `bytes` the whole content of the file at `path`. A regular file is written
// under a temporary name in its own directory and renamed over the old one only when
// complete, so that a failed write leaves the old file byte for byte as it was and
// no temporary file behind. A replaced file keeps its permission bits, a new one
// gets 0666 less the umask, and a symbolic link stays a link to the replaced file.
// The null device and anything else that is not a regular file are written directly.
// Returns false on any failure.
bool replace_file(const char* path, const std::uint8_t* bytes, std::size_t size);

#if !defined(_WIN32)
#include <sys/stat.h>
#include <string>

// The replacement through a uniquely named temporary file, taken where the system
// offers no unnamed files (or no /proc to name them through). `existing` is the
// status of the file being replaced, or nullptr for a new one. Exposed for tests.
bool replace_through_named_file(const std::string& target, mode_t mode, const struct stat* existing,
                                const std::uint8_t* bytes, std::size_t size);
#endif

// Fresh memory straight from the system for buffers that live until the process
// ends: zero-filled, starting on a 2 MiB boundary and marked for transparent huge
// pages where the system has them, so that one page fault brings in 2 MiB rather
// than 4 KiB. `length` is a multiple of 2 MiB. Returns nullptr where the platform
// offers no such mapping (Windows) or none can be had; callers then use the C
// library's memory.
std::uint8_t* map_fresh_memory(std::size_t length);

// Gives back `length` bytes from `start`, a part of what map_fresh_memory returned
// that no buffer uses, on a 2 MiB boundary.
void unmap_memory(std::uint8_t* start, std::size_t length);

// The position of an open file, or -1 if it cannot be told. It has 64 bits on every
// platform: std::ftell's long has only 32 on Windows, where the position of a file
// of 4 GiB and more would wrap to a small number.
std::int64_t file_position(std::FILE* file);

#if defined(_WIN32)
#include <optional>
#include <string>

// Windows hands a program its arguments, and takes file names, in UTF-16; tarve
// keeps them in UTF-8 throughout, converting once at the start and again only where
// it asks the system to open a file. A Windows file name need not be valid UTF-16 (a
// lone surrogate is allowed), so a lone surrogate is carried in UTF-8's three-byte
// form on its own (the form known as WTF-8): every name converts back to the same
// UTF-16 and so opens the same file.
std::string utf8_from_wide(const wchar_t* text);

// The UTF-16 form of UTF-8 `text` (WTF-8: lone surrogates allowed), or nothing if
// the bytes are not well-formed.
std::optional<std::wstring> wide_from_utf8(const char* text);

// Turns wmain's UTF-16 arguments into UTF-8 ones in the form main takes: argc
// strings and a null pointer after them, kept until the process ends.
char** utf8_arguments(int argc, wchar_t** argv);
#endif
