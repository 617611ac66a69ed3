#include <cstdint>
#include <string>

#include "cli/recognize.h"
#include "test_support.h"

namespace {

Bytes starting_with(Bytes start) {
  start.resize(32, 0);
  return start;
}

// Which reader the first bytes select shows in how each reader treats an input that
// is otherwise empty.
struct Case {
  const char* name;
  Bytes bytes;
  const char* message;
};

class Recognition : public ::testing::TestWithParam<Case> {};

TEST_P(Recognition, FirstBytesSelectTheReader) {
  Bytes bytes = GetParam().bytes;
  SourceFile source = source_of(bytes, "x.ico");
  IconEntry head{};
  EXPECT_RUN_FAILS(recognize_and_convert(&head, &source), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Recognition,
    ::testing::Values(
        Case{"Bitmap", starting_with({'B', 'M'}),
             "unsupported/compressed (or planes not 1): x.ico\n"},
        Case{"PngWithItsSignatureCut", starting_with({0x89, 'P', 'N', 'G', 0, 0, 0, 0}),
             "unrecognized PNG file: x.ico\n"},
        Case{"Cursor", starting_with({0, 0, 2, 0}), "unknown file format: x.ico\n"},
        Case{"LowerCaseBm", starting_with({'b', 'm'}), "unknown file format: x.ico\n"},
        Case{"ThreePngBytes", starting_with({0x89, 'P', 'N', 'g'}), "unknown file format: x.ico\n"},
        Case{"IconWithReservedSet", starting_with({1, 0, 1, 0}), "unknown file format: x.ico\n"},
        Case{"Zeros", starting_with({}), "unknown file format: x.ico\n"}),
    CaseName());

TEST(Recognition, AnIconFileIsSplitIntoItsImages) {
  Bytes bytes = starting_with({0, 0, 1, 0, 0, 0});  // an icon of no images
  SourceFile source = source_of(bytes, "empty.ico");
  IconEntry head{};
  EXPECT_EQ(recognize_and_convert(&head, &source), &head);
}

}  // namespace
