#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "icon/listing.h"
#include "icon/write_icon.h"
#include "test_support.h"

namespace {

// A list of entries over caller-owned records; the records must outlive it.
void link(EntryList& list, std::vector<IconEntry>& entries) {
  IconEntry* tail = &list.head;
  for (IconEntry& entry : entries) {
    tail->next = &entry;
    tail = &entry;
  }
  tail->next = nullptr;
}

IconEntry entry_of(const Bytes& image, const char* path) {
  IconEntry entry{};
  entry.bytesInRes = static_cast<std::uint32_t>(image.size());
  entry.image = image.data();
  entry.sourcePath = path;
  return entry;
}

TEST(Listing, PrintsOneLinePerImageWithHeightBeforeWidth) {
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A};
  const Bytes bitmap = {40, 0, 0, 0};
  const Bytes almostPng = {0x89, 'P', 'N'};  // too short to be told a PNG
  std::vector<IconEntry> entries = {entry_of(png, "a.png"), entry_of(bitmap, "b.bmp"),
                                    entry_of(almostPng, "c.ico")};
  entries[0].bitCount = 8;  // 256 x 256, stored as 0 x 0
  entries[1].width = 16;
  entries[1].height = 24;
  entries[1].bitCount = 4;
  entries[1].colorCount = 16;
  entries[2].width = 1;
  entries[2].height = 1;
  entries[2].bitCount = 65535;
  EntryList list{};
  link(list, entries);

  ::testing::internal::CaptureStdout();
  print_listing(list);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            " 1: png 256x256  8bpp   0clr      6 a.png\n"
            " 2: bmp  24x 16  4bpp  16clr      4 b.bmp\n"
            " 3: bmp   1x  165535bpp   0clr      3 c.ico\n");
}

TEST(Listing, NumbersPastNineAndLargeImagesWidenTheirColumns) {
  const Bytes image(4, 0);
  std::vector<IconEntry> entries(10, entry_of(image, "x"));
  entries[9].bytesInRes = 12345678;  // listed only: the image bytes are not read past 4
  EntryList list{};
  link(list, entries);
  ::testing::internal::CaptureStdout();
  print_listing(list);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" 9: bmp 256x256  0bpp   0clr      4 x\n"), std::string::npos);
  EXPECT_NE(out.find("10: bmp 256x256  0bpp   0clr12345678 x\n"), std::string::npos);
}

TEST(Listing, TellsPngImagesByTheirFirstFourBytes) {
  struct Case {
    Bytes image;
    const char* kind;
  };
  const Case cases[] = {{{0x89, 'P', 'N', 'G'}, "png"},
                        {{0x89, 'P', 'N', 'G', 1, 2}, "png"},
                        {{0x89, 'P', 'N', 'g'}, "bmp"},
                        {{0x89, 'P', 'N'}, "bmp"},
                        {{}, "bmp"}};
  for (const Case& c : cases) {
    const IconEntry entry = entry_of(c.image, "x");
    EXPECT_STREQ(image_kind(&entry), c.kind) << c.image.size() << " bytes";
  }
}

TEST(Layout, PutsImagesBackToBackAfterTheDirectory) {
  const Bytes first(100, 0xAA);
  const Bytes second(200, 0xBB);
  std::vector<IconEntry> entries = {entry_of(first, "a"), entry_of(second, "b")};
  entries[0].width = 32;
  entries[0].height = 16;
  entries[0].colorCount = 2;
  entries[0].reserved = 9;
  entries[0].planes = 1;
  entries[0].bitCount = 1;
  entries[0].imageOffset = 1234;  // where it was in its input
  EntryList list{};
  link(list, entries);

  const IconSize size = measure_icon(list);
  EXPECT_EQ(size.imageCount, 2u);
  ASSERT_EQ(size.fileSize, 338u);
  Bytes file(338, 0);
  lay_out_icon(list, size, file.data());

  EXPECT_EQ(Bytes(file.begin(), file.begin() + 6), (Bytes{0, 0, 1, 0, 2, 0}));
  EXPECT_EQ(Bytes(file.begin() + 6, file.begin() + 22),
            (Bytes{32, 16, 2, 9, 1, 0, 1, 0, 100, 0, 0, 0, 38, 0, 0, 0}));
  EXPECT_EQ(get_le32(file.data() + 22 + 8), 200u);
  EXPECT_EQ(get_le32(file.data() + 22 + 12), 138u);
  EXPECT_EQ(entries[0].imageOffset, 38u);
  EXPECT_EQ(entries[1].imageOffset, 138u);
  EXPECT_EQ(Bytes(file.begin() + 38, file.begin() + 138), first);
  EXPECT_EQ(Bytes(file.begin() + 138, file.end()), second);
}

TEST(Layout, AnEmptyListIsAHeaderAlone) {
  EntryList list{};
  const IconSize size = measure_icon(list);
  ASSERT_EQ(size.fileSize, 6u);
  Bytes file(6, 0xFF);
  lay_out_icon(list, size, file.data());
  EXPECT_EQ(file, (Bytes{0, 0, 1, 0, 0, 0}));
}

TEST(WriteIcon, ListsThenWritesTheWholeFile) {
  const std::string out = (scratch_dir("writer-write") / "out.ico").string();
  const Bytes image = {1, 2, 3, 4, 5};
  std::vector<IconEntry> entries = {entry_of(image, "in.ico")};
  EntryList list{};
  link(list, entries);
  ::testing::internal::CaptureStdout();
  write_icon(out.c_str(), list);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            " 1: bmp 256x256  0bpp   0clr      5 in.ico\n");
  EXPECT_EQ(read_file(out), (Bytes{0, 0, 1, 0, 1,  0, 0, 0, 0, 0, 0, 0, 0, 0,
                                   5, 0, 0, 0, 22, 0, 0, 0, 1, 2, 3, 4, 5}));
}

TEST(WriteIcon, HoldsAsManyImagesAsTheCountCanCount) {
  const std::string out = (scratch_dir("writer-most") / "out.ico").string();
  const Bytes none;
  std::vector<IconEntry> entries(kMaxImages, entry_of(none, "x"));
  EntryList list{};
  link(list, entries);
  ::testing::internal::CaptureStdout();
  write_icon(out.c_str(), list);
  ::testing::internal::GetCapturedStdout();
  const Bytes file = read_file(out);
  ASSERT_EQ(file.size(), 6 + 16 * std::size_t{kMaxImages});
  EXPECT_EQ(get_le16(file.data() + 4), 65535);
}

TEST(WriteIcon, RefusesRunsTheFormatCannotHoldBeforeListingAnything) {
  const Bytes none;
  std::vector<IconEntry> many(kMaxImages + 1, entry_of(none, "x"));
  EntryList tooMany{};
  link(tooMany, many);
  EXPECT_RUN_FAILS(write_icon("out.ico", tooMany), "too many images for one icon file: out.ico\n");

  // Two images of 2 GiB: the lengths are never read, only added up.
  std::vector<IconEntry> huge = {entry_of(none, "a"), entry_of(none, "b")};
  huge[0].bytesInRes = huge[1].bytesInRes = 0x80000000u;
  EntryList tooLarge{};
  link(tooLarge, huge);
  EXPECT_RUN_FAILS(write_icon("big.ico", tooLarge), "too many images for one icon file: big.ico\n");
}

}  // namespace
