// Small helpers shared by the unit tests: in-memory sources, little-endian
// builders, and a check that a call ends the run with a given message.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define TARVE_DUP2 _dup2
#else
#include <unistd.h>
#define TARVE_DUP2 dup2
#endif

#include "cli/source_file.h"

using Bytes = std::vector<std::uint8_t>;

// A fresh, empty directory of the tests' own under the system's temporary directory.
inline std::filesystem::path scratch_dir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("tarve-unit-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` to `path` and returns the path as a string.
inline std::string write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

// The names in a directory, sorted.
inline std::vector<std::filesystem::path> names_in(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> names;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    names.push_back(item.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A source whose content is `bytes`, which must outlive it.
inline SourceFile source_of(Bytes& bytes, const char* path = "in.bin") {
  return SourceFile{path, static_cast<std::uint32_t>(bytes.size()), bytes.data(), nullptr};
}

inline void put_le16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  if (bytes.size() < offset + 2) bytes.resize(offset + 2);
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put_le32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  put_le16(bytes, offset, value & 0xFFFF);
  put_le16(bytes, offset + 2, value >> 16);
}

inline std::uint32_t get_le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
         static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint16_t get_le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// Failures are printed to standard output; the death test reads the child's
// standard error, so the child sends its standard output there first.
inline void send_stdout_to_stderr() {
  std::fflush(stdout);
  TARVE_DUP2(2, 1);
}

// Expects `statement` to end the process with status 99 after printing exactly
// `message` (the whole of what it prints).
#define EXPECT_RUN_FAILS(statement, message) \
  EXPECT_EXIT(                               \
      {                                      \
        send_stdout_to_stderr();             \
        statement;                           \
      },                                     \
      ::testing::ExitedWithCode(99), ::testing::Eq(std::string(message)))

// Names parameterised tests after the `name` field of their case.
struct CaseName {
  template <class Info>
  std::string operator()(const Info& test) const {
    return test.param.name;
  }
};
