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
