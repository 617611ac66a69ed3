// Writing the finished icon file.
#pragma once

#include <cstddef>
#include <cstdint>

// True for "nul" in any letter case: the null device's name on Windows. Elsewhere
// tarve takes the same name to mean the platform's null device, so that
// "tarve nul in.ico" inspects an icon everywhere and creates no file named "nul".
bool is_null_device_name(const char* path);

// Writes `size` bytes to `path` with one write, or ends the process with
// "file write error: <path>".
void write_output_file(const char* path, const std::uint8_t* bytes, std::size_t size);
