#include <cstdint>
#include <string>

#include "icon/read_icon_file.h"
#include "test_support.h"

namespace {

struct StoredEntry {
  std::uint8_t width, height, colorCount, reserved;
  std::uint16_t planes, bitCount;
  std::uint32_t bytesInRes, imageOffset;
};

// An icon file whose directory holds `entries` as given, followed by `tail` bytes
// (where the images are expected to lie).
Bytes make_icon(const std::vector<StoredEntry>& entries, std::size_t tail) {
  Bytes bytes = {0, 0, 1, 0};
  put_le16(bytes, 4, static_cast<std::uint32_t>(entries.size()));
  for (const StoredEntry& e : entries) {
    bytes.insert(bytes.end(), {e.width, e.height, e.colorCount, e.reserved});
    const std::size_t at = bytes.size();
    put_le16(bytes, at, e.planes);
    put_le16(bytes, at + 2, e.bitCount);
    put_le32(bytes, at + 4, e.bytesInRes);
    put_le32(bytes, at + 8, e.imageOffset);
  }
  for (std::size_t i = 0; i < tail; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  if (bytes.size() < kMinSourceSize) bytes.resize(kMinSourceSize);
  return bytes;
}

TEST(IconFileReader, TakesEveryDirectoryEntryUnchangedInDirectoryOrder) {
  // Images anywhere in the file, in any order, with whatever fields they hold.
  Bytes bytes = make_icon({{0, 0, 0, 0, 1, 32, 10, 60},
                           {16, 24, 16, 7, 0, 4, 4, 54},
                           {255, 1, 2, 3, 0xBEEF, 0xCAFE, 2, 70}},
                          20);
  SourceFile source = source_of(bytes, "three.ico");
  IconEntry head{};
  const IconEntry* last = read_icon_file(&head, &source);

  const IconEntry* first = head.next;
  ASSERT_NE(first, nullptr);
  const IconEntry* second = first->next;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->next, last);
  EXPECT_EQ(last->next, nullptr);

  EXPECT_EQ(first->width, 0);  // 256 stays stored as 0
  EXPECT_EQ(first->bitCount, 32);
  EXPECT_EQ(first->bytesInRes, 10u);
  EXPECT_EQ(first->imageOffset, 60u);
  EXPECT_EQ(first->image, bytes.data() + 60);
  EXPECT_EQ(second->width, 16);
  EXPECT_EQ(second->height, 24);
  EXPECT_EQ(second->colorCount, 16);
  EXPECT_EQ(second->reserved, 7);
  EXPECT_EQ(second->planes, 0);
  EXPECT_EQ(second->image, bytes.data() + 54);
  EXPECT_EQ(last->width, 255);
  EXPECT_EQ(last->planes, 0xBEEF);
  EXPECT_EQ(last->bitCount, 0xCAFE);
  EXPECT_EQ(last->bytesInRes, 2u);  // shorter than four bytes, inside the file
  for (const IconEntry* e = head.next; e != nullptr; e = e->next) {
    EXPECT_STREQ(e->sourcePath, "three.ico");
  }
}

TEST(IconFileReader, AnEmptyDirectoryAddsNothing) {
  Bytes bytes = make_icon({}, 0);
  SourceFile source = source_of(bytes, "empty.ico");
  IconEntry head{};
  EXPECT_EQ(read_icon_file(&head, &source), &head);
  EXPECT_EQ(head.next, nullptr);
}

TEST(IconFileReader, AppendsAfterTheGivenTail) {
  Bytes bytes = make_icon({{1, 1, 0, 0, 1, 1, 1, 22}}, 1);
  SourceFile source = source_of(bytes);
  IconEntry head{};
  IconEntry earlier{};
  head.next = &earlier;
  const IconEntry* added = read_icon_file(&earlier, &source);
  EXPECT_EQ(earlier.next, added);
  EXPECT_EQ(head.next, &earlier);
}

TEST(IconFileReader, AnImageMayEndExactlyAtTheEndOfTheFile) {
  Bytes bytes = make_icon({{1, 1, 0, 0, 1, 1, 10, 38}, {1, 1, 0, 0, 1, 1, 0, 48}}, 10);
  ASSERT_EQ(bytes.size(), 48u);
  SourceFile source = source_of(bytes);
  IconEntry head{};
  const IconEntry* last = read_icon_file(&head, &source);
  EXPECT_EQ(head.next->bytesInRes, 10u);
  EXPECT_EQ(last->bytesInRes, 0u);
}

struct Corrupt {
  const char* name;
  Bytes bytes;
};

class CorruptIcons : public ::testing::TestWithParam<Corrupt> {};

TEST_P(CorruptIcons, AreRefused) {
  Bytes bytes = GetParam().bytes;
  SourceFile source = source_of(bytes, "bad.ico");
  IconEntry head{};
  EXPECT_RUN_FAILS(read_icon_file(&head, &source), "corrupt icon file: bad.ico\n");
}

Bytes with_count(Bytes bytes, std::uint32_t count) {
  put_le16(bytes, 4, count);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Icons, CorruptIcons,
    ::testing::Values(
        Corrupt{"DirectoryLongerThanFile", with_count(make_icon({}, 10), 1)},
        Corrupt{"DirectoryOfAllEntriesClaimed", with_count(make_icon({}, 10), 65535)},
        Corrupt{"ImagePastTheEnd", make_icon({{1, 1, 0, 0, 1, 1, 11, 22}}, 10)},
        Corrupt{"OffsetPastTheEnd", make_icon({{1, 1, 0, 0, 1, 1, 0, 33}}, 10)},
        Corrupt{"SecondImageBad",
                make_icon({{1, 1, 0, 0, 1, 1, 4, 38}, {1, 1, 0, 0, 1, 1, 4, 40}}, 4)},
        Corrupt{"SumWrapsThirtyTwoBits", make_icon({{1, 1, 0, 0, 1, 1, 0x20, 0xFFFFFFF0u}}, 10)},
        Corrupt{"LengthWrapsThirtyTwoBits", make_icon({{1, 1, 0, 0, 1, 1, 0xFFFFFFFFu, 22}}, 10)}),
    CaseName());

}  // namespace
