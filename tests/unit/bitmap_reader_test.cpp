#include <cstdint>
#include <cstring>
#include <string>

#include "readers/read_bitmap.h"
#include "test_support.h"

namespace {

struct Shape {
  std::int32_t width;
  std::int32_t height;  // negative: rows stored top-down
  std::uint16_t bitCount;
  std::uint32_t clrUsed = 0;
  std::uint32_t tableEntries = 0;  // entries actually stored after the header
  std::uint32_t headerSize = 40;
};

constexpr std::uint32_t kFileHeader = 14;

std::uint32_t stored_stride(const Shape& shape) {
  return (shape.bitCount * static_cast<std::uint32_t>(shape.width) + 31) / 32 * 4;
}

std::uint32_t stored_rows(const Shape& shape) {
  return shape.height < 0 ? 0u - static_cast<std::uint32_t>(shape.height)
                          : static_cast<std::uint32_t>(shape.height);
}

// The byte at position `column` of the row stored `row`-th in the file.
std::uint8_t pixel_byte(std::uint32_t row, std::uint32_t column) {
  return static_cast<std::uint8_t>(row * 37 + column * 11 + 1);
}

// A bitmap file: file header, the header, `tableEntries` colour entries (entry i
// holds i, i+1, i+2 and, in four-byte entries, 0xA0 + i), then the rows.
Bytes make_bitmap(const Shape& shape) {
  const bool core = shape.headerSize == 12;
  const std::uint32_t entrySize = core ? 3 : 4;
  const std::uint32_t tableStart = kFileHeader + shape.headerSize;
  const std::uint32_t offBits = tableStart + entrySize * shape.tableEntries;
  Bytes bytes(offBits, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  put_le32(bytes, 10, offBits);
  put_le32(bytes, 14, shape.headerSize);
  if (core) {
    put_le16(bytes, 18, static_cast<std::uint32_t>(shape.width));
    put_le16(bytes, 20, static_cast<std::uint32_t>(shape.height));
    put_le16(bytes, 22, 1);
    put_le16(bytes, 24, shape.bitCount);
  } else {
    put_le32(bytes, 18, static_cast<std::uint32_t>(shape.width));
    put_le32(bytes, 22, static_cast<std::uint32_t>(shape.height));
    put_le16(bytes, 26, 1);
    put_le16(bytes, 28, shape.bitCount);
    put_le32(bytes, 34, 0x12345);     // biSizeImage
    put_le32(bytes, 38, 2835);        // biXPelsPerMeter
    put_le32(bytes, 42, 0xFFFFFFFF);  // biYPelsPerMeter, -1
    put_le32(bytes, 46, shape.clrUsed);
    put_le32(bytes, 50, 7);  // biClrImportant
  }
  for (std::uint32_t i = 0; i < shape.tableEntries; ++i) {
    const std::uint32_t at = tableStart + entrySize * i;
    bytes[at] = static_cast<std::uint8_t>(i);
    bytes[at + 1] = static_cast<std::uint8_t>(i + 1);
    bytes[at + 2] = static_cast<std::uint8_t>(i + 2);
    if (!core) bytes[at + 3] = static_cast<std::uint8_t>(0xA0 + i);
  }
  const std::uint32_t stride = stored_stride(shape);
  for (std::uint32_t row = 0; row < stored_rows(shape); ++row) {
    for (std::uint32_t column = 0; column < stride; ++column) {
      bytes.push_back(pixel_byte(row, column));
    }
  }
  return bytes;
}

struct Converted {
  IconEntry head{};
  IconEntry* entry = nullptr;
};

Converted convert(Bytes& bytes) {
  Converted result;
  SourceFile source = source_of(bytes, "pic.bmp");
  result.entry = read_bitmap(&result.head, &source);
  return result;
}

// The icon image's mask rows, its last rows × (1-bit stride) bytes, are all zero.
bool mask_is_clear(const IconEntry* entry, std::uint32_t width, std::uint32_t rows) {
  const std::uint32_t maskSize = rows * ((width + 31) / 32 * 4);
  const std::uint8_t* mask = entry->image + entry->bytesInRes - maskSize;
  for (std::uint32_t i = 0; i < maskSize; ++i) {
    if (mask[i] != 0) return false;
  }
  return true;
}

struct WorkedSize {
  Shape shape;
  std::uint16_t outputBits;
  std::uint32_t imageSize;
  std::uint8_t colorCount;
};

class WorkedSizes : public ::testing::TestWithParam<WorkedSize> {};

TEST_P(WorkedSizes, ImageSizeAndEntryFields) {
  const WorkedSize& expected = GetParam();
  Bytes bytes = make_bitmap(expected.shape);
  const Converted result = convert(bytes);
  const IconEntry* entry = result.entry;
  const auto rows = stored_rows(expected.shape);
  const auto width = static_cast<std::uint32_t>(expected.shape.width);

  EXPECT_EQ(result.head.next, entry);
  EXPECT_EQ(entry->next, nullptr);
  EXPECT_EQ(entry->bytesInRes, expected.imageSize);
  EXPECT_EQ(entry->colorCount, expected.colorCount);
  EXPECT_EQ(entry->bitCount, expected.outputBits);
  EXPECT_EQ(entry->width, static_cast<std::uint8_t>(width));
  EXPECT_EQ(entry->height, static_cast<std::uint8_t>(rows));
  EXPECT_EQ(entry->planes, 1);
  EXPECT_EQ(entry->reserved, 0);
  EXPECT_EQ(entry->imageOffset, 0u);
  EXPECT_STREQ(entry->sourcePath, "pic.bmp");

  const std::uint8_t* header = entry->image;
  EXPECT_EQ(get_le32(header + 0), 40u);
  EXPECT_EQ(get_le32(header + 4), width);
  EXPECT_EQ(get_le32(header + 8), 2 * rows);  // colour rows and mask rows
  EXPECT_EQ(get_le16(header + 14), expected.outputBits);
  EXPECT_TRUE(mask_is_clear(entry, width, rows));
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, WorkedSizes,
                         ::testing::Values(WorkedSize{{32, 32, 24}, 32, 4264, 0},
                                           WorkedSize{{16, 16, 4, 0, 16}, 4, 296, 16},
                                           WorkedSize{{32, 32, 8, 0, 256}, 8, 2216, 0},
                                           WorkedSize{{48, 48, 32}, 32, 9640, 0},
                                           WorkedSize{{256, 256, 32}, 32, 270376, 0},
                                           WorkedSize{{3, 3, 24}, 32, 88, 0},
                                           WorkedSize{{1, 1, 1, 0, 2}, 1, 56, 2},
                                           WorkedSize{{16, 16, 4, 0, 16, 12}, 4, 296, 16},
                                           WorkedSize{{256, 1, 1, 0, 2}, 1, 112, 2}));

TEST(BitmapReader, WidensEachTwentyFourBitPixelWithAZeroFourthByte) {
  Bytes bytes = make_bitmap({3, 3, 24});
  const IconEntry* entry = convert(bytes).entry;
  const std::uint8_t* rows = entry->image + 40;  // no colour table
  for (std::uint32_t row = 0; row < 3; ++row) {
    for (std::uint32_t x = 0; x < 3; ++x) {
      const std::uint8_t* pixel = rows + row * 12 + x * 4;
      SCOPED_TRACE("row " + std::to_string(row) + " pixel " + std::to_string(x));
      EXPECT_EQ(pixel[0], pixel_byte(row, 3 * x));
      EXPECT_EQ(pixel[1], pixel_byte(row, 3 * x + 1));
      EXPECT_EQ(pixel[2], pixel_byte(row, 3 * x + 2));
      EXPECT_EQ(pixel[3], 0);
    }
  }
}

TEST(BitmapReader, CopiesOtherRowsUnchangedAndTheTableWithItsFourthBytes) {
  Bytes bytes = make_bitmap({5, 2, 8, 3, 3});  // biClrUsed 3: a table of 3 entries
  const IconEntry* entry = convert(bytes).entry;
  const Bytes expectedTable = {0, 1, 2, 0xA0, 1, 2, 3, 0xA1, 2, 3, 4, 0xA2};
  EXPECT_EQ(Bytes(entry->image + 40, entry->image + 52), expectedTable);
  const std::uint8_t* rows = entry->image + 52;
  for (std::uint32_t row = 0; row < 2; ++row) {
    for (std::uint32_t column = 0; column < 8; ++column) {  // stride 8, padding included
      EXPECT_EQ(rows[row * 8 + column], pixel_byte(row, column));
    }
  }
}

TEST(BitmapReader, KeepsTheStoredHeaderFieldsItDoesNotReplace) {
  Bytes bytes = make_bitmap({4, 4, 24});
  const std::uint8_t* header = convert(bytes).entry->image;
  EXPECT_EQ(get_le16(header + 12), 1);            // biPlanes
  EXPECT_EQ(get_le32(header + 16), 0u);           // biCompression
  EXPECT_EQ(get_le32(header + 20), 0x12345u);     // biSizeImage
  EXPECT_EQ(get_le32(header + 24), 2835u);        // biXPelsPerMeter
  EXPECT_EQ(get_le32(header + 28), 0xFFFFFFFFu);  // biYPelsPerMeter
  EXPECT_EQ(get_le32(header + 32), 0u);           // biClrUsed: no table
  EXPECT_EQ(get_le32(header + 36), 7u);           // biClrImportant
}

TEST(BitmapReader, WidensACoreHeaderAndItsThreeByteColourTable) {
  Bytes bytes = make_bitmap({2, 2, 1, 0, 2, 12});
  const IconEntry* entry = convert(bytes).entry;
  const std::uint8_t* header = entry->image;
  EXPECT_EQ(get_le32(header + 0), 40u);
  EXPECT_EQ(get_le32(header + 4), 2u);
  EXPECT_EQ(get_le32(header + 8), 4u);
  EXPECT_EQ(get_le16(header + 12), 1);
  EXPECT_EQ(get_le16(header + 14), 1);
  EXPECT_EQ(Bytes(header + 16, header + 32), Bytes(16, 0));  // compression to resolutions
  EXPECT_EQ(get_le32(header + 32), 2u);                      // biClrUsed: the colours
  EXPECT_EQ(get_le32(header + 36), 0u);
  EXPECT_EQ(Bytes(header + 40, header + 48), (Bytes{0, 1, 2, 0, 1, 2, 3, 0}));
  EXPECT_EQ(entry->colorCount, 2);
}

TEST(BitmapReader, CoreHeaderOfTwentyFourBitsIsWidenedToThirtyTwo) {
  Bytes bytes = make_bitmap({3, 3, 24, 0, 0, 12});
  const IconEntry* entry = convert(bytes).entry;
  EXPECT_EQ(entry->bytesInRes, 88u);
  EXPECT_EQ(entry->bitCount, 32);
  EXPECT_EQ(get_le32(entry->image + 20), 0u);  // biSizeImage
  EXPECT_EQ(entry->image[40 + 4 + 0], pixel_byte(0, 3));
  EXPECT_EQ(entry->image[40 + 4 + 3], 0);
}

struct ColourCase {
  const char* name;
  Shape shape;
  std::uint32_t colours;  // biClrUsed in the image header, table entries copied
  std::uint8_t colorCount;
};

class Colours : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Colours, CountAndTable) {
  const ColourCase& expected = GetParam();
  Bytes bytes = make_bitmap(expected.shape);
  const IconEntry* entry = convert(bytes).entry;
  EXPECT_EQ(get_le32(entry->image + 32), expected.colours);
  EXPECT_EQ(entry->colorCount, expected.colorCount);
  const std::uint8_t* last = entry->image + 40 + 4 * (expected.colours - 1);
  const auto index = static_cast<std::uint8_t>(expected.colours - 1);
  EXPECT_EQ(last[0], index);
  EXPECT_EQ(last[3], static_cast<std::uint8_t>(0xA0 + index));
}

INSTANTIATE_TEST_SUITE_P(
    Bitmaps, Colours,
    ::testing::Values(ColourCase{"EightBitsFullTable", {8, 2, 8, 0, 256}, 256, 0},
                      ColourCase{"EightBitsTwentyUsed", {8, 2, 8, 20, 20}, 20, 20},
                      ColourCase{"TwentyFourBitsWithTable", {2, 2, 24, 300, 300}, 300, 44},
                      ColourCase{"TwoBitsFourColours", {4, 2, 2, 0, 4}, 4, 4}),
    CaseName());

// A top-down file gives the same image as the bottom-up file of the same picture:
// its rows are reversed in place, and its height is made positive.
TEST(BitmapReader, TopDownRowsComeOutBottomUp) {
  for (const std::uint16_t bits : {std::uint16_t{4}, std::uint16_t{24}, std::uint16_t{32}}) {
    SCOPED_TRACE("bits " + std::to_string(bits));
    const std::uint32_t table = bits == 4 ? 16 : 0;
    Bytes bottomUp = make_bitmap({16, 16, bits, 0, table});
    Bytes topDown = make_bitmap({16, 16, bits, 0, table});
    put_le32(topDown, 22, static_cast<std::uint32_t>(-16));
    const std::uint32_t stride = stored_stride({16, 16, bits});
    const std::uint32_t offBits = get_le32(topDown.data() + 10);
    for (std::uint32_t row = 0; row < 16; ++row) {  // the same picture, top row first
      std::memcpy(topDown.data() + offBits + row * stride,
                  bottomUp.data() + offBits + (15 - row) * stride, stride);
    }
    const IconEntry* fromBottomUp = convert(bottomUp).entry;
    const IconEntry* fromTopDown = convert(topDown).entry;
    ASSERT_EQ(fromTopDown->bytesInRes, fromBottomUp->bytesInRes);
    EXPECT_EQ(get_le32(fromTopDown->image + 8), 32u);
    EXPECT_EQ(Bytes(fromTopDown->image, fromTopDown->image + fromTopDown->bytesInRes),
              Bytes(fromBottomUp->image, fromBottomUp->image + fromBottomUp->bytesInRes));
  }
}

TEST(BitmapReader, ReversesAnOddNumberOfRowsAroundTheMiddleOne) {
  Bytes bytes = make_bitmap({1, -3, 8, 1, 1});
  const std::uint32_t offBits = get_le32(bytes.data() + 10);
  const IconEntry* entry = convert(bytes).entry;
  for (std::uint32_t row = 0; row < 3; ++row) {
    EXPECT_EQ(entry->image[44 + 4 * row], pixel_byte(2 - row, 0));
    EXPECT_EQ(bytes[offBits + 4 * row], pixel_byte(2 - row, 0));  // reversed in the source
  }
}

struct Refusal {
  const char* name;
  Bytes bytes;
  const char* message;
};

Bytes with_le32(Bytes bytes, std::size_t offset, std::uint32_t value) {
  put_le32(bytes, offset, value);
  return bytes;
}

Bytes with_le16(Bytes bytes, std::size_t offset, std::uint32_t value) {
  put_le16(bytes, offset, value);
  return bytes;
}

Bytes cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, EndTheRunWithTheirMessage) {
  Bytes bytes = GetParam().bytes;
  EXPECT_RUN_FAILS(convert(bytes), GetParam().message);
}

const Bytes kSmall = make_bitmap({16, 16, 24});
const Bytes kPaletted = make_bitmap({8, 8, 8, 0, 256});
const char* const kUnsupported = "unsupported/compressed (or planes not 1): pic.bmp\n";
const char* const kTruncated = "truncated bitmap file: pic.bmp\n";

INSTANTIATE_TEST_SUITE_P(
    Bitmaps, Refusals,
    ::testing::Values(
        Refusal{"HeaderOf108Bytes", with_le32(kSmall, 14, 108), kUnsupported},
        Refusal{"BitFields", with_le32(kSmall, 30, 3), kUnsupported},
        Refusal{"TwoPlanes", with_le16(kSmall, 26, 2), kUnsupported},
        Refusal{"ThirtyThreeBits", with_le16(kSmall, 28, 33), kUnsupported},
        Refusal{"CoreHeaderPlanes", with_le16(make_bitmap({2, 2, 24, 0, 0, 12}), 22, 0),
                kUnsupported},
        Refusal{"Wide", make_bitmap({257, 10, 1, 0, 2}),
                "bad row,col for icon: 10,257 [pic.bmp]\n"},
        Refusal{"ZeroWide", with_le32(kSmall, 18, 0), "bad row,col for icon: 16,0 [pic.bmp]\n"},
        Refusal{"NegativeWidth", with_le32(kSmall, 18, static_cast<std::uint32_t>(-16)),
                "bad row,col for icon: 16,-16 [pic.bmp]\n"},
        Refusal{"ZeroHigh", with_le32(kSmall, 22, 0), "bad row,col for icon: 0,16 [pic.bmp]\n"},
        Refusal{"TopDownTooHigh", with_le32(kSmall, 22, static_cast<std::uint32_t>(-300)),
                "bad row,col for icon: 300,16 [pic.bmp]\n"},
        Refusal{"MostNegativeHeight", with_le32(kSmall, 22, 0x80000000u),
                "bad row,col for icon: -2147483648,16 [pic.bmp]\n"},
        Refusal{"NoHeaderSize", cut(kSmall, 17), kTruncated},
        Refusal{"InfoHeaderCut", cut(kSmall, 53), kTruncated},
        Refusal{"CoreHeaderCut", cut(make_bitmap({2, 2, 24, 0, 0, 12}), 25), kTruncated},
        Refusal{"TableCut", cut(kPaletted, 54 + 1023), kTruncated},
        Refusal{"HugeColourCount", with_le32(kSmall, 46, 0x40000000), kTruncated},
        Refusal{"RowsCut", cut(kSmall, kSmall.size() - 1), kTruncated},
        Refusal{"RowsPastFourGigabytes", with_le32(kSmall, 10, 0xFFFFFFF0), kTruncated}),
    CaseName());

TEST(RowStride, PadsRowsToFourBytes) {
  EXPECT_EQ(row_stride(1, 1), 4u);
  EXPECT_EQ(row_stride(1, 33), 8u);
  EXPECT_EQ(row_stride(24, 3), 12u);
  EXPECT_EQ(row_stride(4, 9), 8u);
  EXPECT_EQ(row_stride(32, 256), 1024u);
}

}  // namespace
