#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/source_file.h"
#include "test_support.h"

namespace {

TEST(LoadSource, ReadsTheWholeFileAndLinksItAfterThePrevious) {
  const auto dir = scratch_dir("load-whole");
  Bytes bytes(16);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
  const std::string path = write_file(dir / "sixteen.bin", bytes);

  SourceFile head{};
  SourceFile* first = load_source(&head, path.c_str());
  EXPECT_EQ(head.next, first);
  EXPECT_EQ(first->path, path.c_str());  // the argument itself, not a copy
  EXPECT_EQ(first->next, nullptr);
  ASSERT_EQ(first->size, 16u);
  EXPECT_EQ(Bytes(first->content, first->content + 16), bytes);

  // The same path again gets a buffer of its own.
  SourceFile* second = load_source(first, path.c_str());
  EXPECT_EQ(first->next, second);
  EXPECT_NE(second->content, first->content);
  EXPECT_EQ(Bytes(second->content, second->content + 16), bytes);
}

TEST(LoadSource, UnreadableOrShortInputsAreReadErrors) {
  const auto dir = scratch_dir("load-errors");
  const std::string missing = (dir / "missing.ico").string();
  const std::string empty = write_file(dir / "empty.ico", {});
  const std::string fifteen = write_file(dir / "fifteen.ico", Bytes(15, 0));
  const std::string directory = (dir / "folder.ico").string();
  std::filesystem::create_directory(directory);
  for (const std::string& path : {missing, empty, fifteen, directory}) {
    SourceFile head{};
    EXPECT_RUN_FAILS(load_source(&head, path.c_str()), "file read error: " + path + "\n");
  }
}

// Sparse files take no space: sizes at the 32-bit edges are cheap to make. Each is
// refused before any buffer is taken for it, and none may wrap to a small size.
TEST(LoadSource, InputsOfTwoGigabytesOrMoreAreReadErrors) {
  const auto dir = scratch_dir("load-huge");
  for (const std::uintmax_t size : {std::uintmax_t{1} << 31, (std::uintmax_t{1} << 32) + 100}) {
    const std::string path =
        write_file(dir / ("huge-" + std::to_string(size) + ".ico"), {0, 0, 1, 0});
    std::filesystem::resize_file(path, size);
    SourceFile head{};
    EXPECT_RUN_FAILS(load_source(&head, path.c_str()), "file read error: " + path + "\n");
  }
}

}  // namespace
