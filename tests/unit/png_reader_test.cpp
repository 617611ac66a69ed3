#include <cstdint>
#include <string>

#include "readers/read_png.h"
#include "test_support.h"

namespace {

// The signature and an IHDR chunk of the given size and bit depth, then a few more
// bytes standing for the rest of the file; nothing past the depth byte is read.
Bytes make_png(std::uint32_t width, std::uint32_t height, std::uint8_t depth) {
  Bytes bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (const std::uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  }
  bytes.insert(bytes.end(), {depth, 6, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF});
  return bytes;
}

TEST(ReadBe32, MostSignificantByteFirst) {
  const std::uint8_t bytes[] = {0x89, 0x01, 0x00, 0xFF};
  EXPECT_EQ(read_be32(bytes), 0x890100FFu);
}

struct Accepted {
  const char* name;
  std::uint32_t width;
  std::uint32_t height;
  std::uint8_t depth;
  std::uint8_t storedWidth;
  std::uint8_t storedHeight;
  std::uint16_t bitCount;
};

class AcceptedPngs : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedPngs, BecomeOneEntryReferringToTheWholeFile) {
  const Accepted& expected = GetParam();
  Bytes bytes = make_png(expected.width, expected.height, expected.depth);
  SourceFile source = source_of(bytes, "pic.png");
  IconEntry head{};
  const IconEntry* entry = read_png(&head, &source);
  EXPECT_EQ(head.next, entry);
  EXPECT_EQ(entry->next, nullptr);
  EXPECT_EQ(entry->width, expected.storedWidth);
  EXPECT_EQ(entry->height, expected.storedHeight);
  EXPECT_EQ(entry->bitCount, expected.bitCount);
  EXPECT_EQ(entry->colorCount, 0);
  EXPECT_EQ(entry->reserved, 0);
  EXPECT_EQ(entry->planes, 1);
  EXPECT_EQ(entry->imageOffset, 0u);
  EXPECT_EQ(entry->bytesInRes, bytes.size());
  EXPECT_EQ(entry->image, bytes.data());  // not copied
  EXPECT_STREQ(entry->sourcePath, "pic.png");
}

INSTANTIATE_TEST_SUITE_P(Pngs, AcceptedPngs,
                         ::testing::Values(Accepted{"Largest", 256, 256, 8, 0, 0, 8},
                                           Accepted{"Smallest", 1, 1, 1, 1, 1, 1},
                                           Accepted{"WiderThanHigh", 16, 24, 8, 16, 24, 8},
                                           Accepted{"SixteenBitGrey", 48, 48, 16, 48, 48, 16},
                                           Accepted{"DepthWidenedWithItsSign", 32, 32, 255, 32, 32,
                                                    65535},
                                           Accepted{"DepthOf128", 32, 32, 128, 32, 32, 65408}),
                         CaseName());

struct Refused {
  const char* name;
  Bytes bytes;
  const char* message;
};

Bytes with_chunk_type(Bytes bytes, const char* type) {
  for (int i = 0; i < 4; ++i)
    bytes[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(type[i]);
  return bytes;
}

Bytes cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

class RefusedPngs : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedPngs, EndTheRunWithTheirMessage) {
  Bytes bytes = GetParam().bytes;
  SourceFile source = source_of(bytes, "pic.png");
  IconEntry head{};
  EXPECT_RUN_FAILS(read_png(&head, &source), GetParam().message);
}

const char* const kUnrecognized = "unrecognized PNG file: pic.png\n";

INSTANTIATE_TEST_SUITE_P(
    Pngs, RefusedPngs,
    ::testing::Values(
        Refused{"FirstChunkNotIhdr", with_chunk_type(make_png(16, 16, 8), "IDAT"), kUnrecognized},
        Refused{"LowerCaseIhdr", with_chunk_type(make_png(16, 16, 8), "ihdr"), kUnrecognized},
        Refused{"NoDepthByte", cut(make_png(16, 16, 8), 24), kUnrecognized},
        Refused{"SignatureOnly", cut(make_png(16, 16, 8), 16), kUnrecognized},
        Refused{"TooWide", make_png(300, 20, 8), "bad row,col for icon: 20,300 [pic.png]\n"},
        Refused{"TooHigh", make_png(16, 257, 8), "bad row,col for icon: 257,16 [pic.png]\n"},
        Refused{"NoWidth", make_png(0, 16, 8), "bad row,col for icon: 16,0 [pic.png]\n"},
        Refused{"WidthPrintedSigned", make_png(0x80000000u, 16, 8),
                "bad row,col for icon: 16,-2147483648 [pic.png]\n"},
        Refused{"HeightPrintedSigned", make_png(16, 0xFFFFFFFFu, 8),
                "bad row,col for icon: -1,16 [pic.png]\n"}),
    CaseName());

}  // namespace
