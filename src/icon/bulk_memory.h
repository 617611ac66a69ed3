// Memory for a run's large buffers: the content of every input, the bitmap images
// built from them and the output file. Together they come to about three times the
// input, all of it fresh memory that is written once; on Linux the first touch of
// each 4 KiB page is a fault, which costs more than copying the page's bytes.
//
// Once a run has said that its buffers live until the process ends, they are carved
// one after another from large regions that are aligned to 2 MiB and marked for
// transparent huge pages, so that one fault brings in 2 MiB. Until then, and in
// builds with AddressSanitizer (which must see where each buffer ends), every buffer
// comes from the C library and can be released one by one.
#pragma once

#include <cstddef>
#include <cstdint>

// Says that every buffer taken from now on is kept until the process ends. A run of
// tarve says so first, since it frees nothing before the end; code that runs the
// readers many times in one process and frees what they made does not.
void keep_buffers_until_exit();

// Returns `size` bytes of zero-filled memory (at least 1 byte, aligned to 16), or
// nullptr if none can be had. The buffer is the caller's alone: it overlaps no
// other buffer.
std::uint8_t* take_buffer(std::size_t size);

// Releases a buffer that take_buffer returned. A buffer carved from a region stays
// until the process ends, and this does nothing for it.
void release_buffer(std::uint8_t* buffer);
