// The entry point that libFuzzer calls once per input, and that the replay program
// calls for every stored input.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
