#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "test_support.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace fs = std::filesystem;

namespace {

TEST(NullDevice, NulInAnyCaseNamesIt) {
  for (const char* name : {"nul", "NUL", "Nul", "nUl"})
    EXPECT_TRUE(is_null_device_name(name)) << name;
  for (const char* name : {"", "nu", "null", "nul.ico", "./nul", "nul "}) {
    EXPECT_FALSE(is_null_device_name(name)) << name;
  }
}

#if defined(_WIN32)

// UTF-16 and its UTF-8 form, both ways. Lone surrogates, which Windows file names
// may hold, take UTF-8's three-byte form on their own.
struct Text {
  const char* name;
  std::wstring wide;
  std::string utf8;
};

class Utf8RoundTrip : public ::testing::TestWithParam<Text> {};

TEST_P(Utf8RoundTrip, BothWays) {
  const Text& text = GetParam();
  EXPECT_EQ(utf8_from_wide(text.wide.c_str()), text.utf8);
  EXPECT_EQ(wide_from_utf8(text.utf8.c_str()), std::optional<std::wstring>(text.wide));
}

INSTANTIATE_TEST_SUITE_P(
    Platform, Utf8RoundTrip,
    ::testing::Values(Text{"Empty", L"", ""}, Text{"Ascii", L"in.ico", "in.ico"},
                      Text{"TwoBytes", L"ikoni-\u00e4.png", "ikoni-\xC3\xA4.png"},
                      Text{"ThreeBytes", L"\u30A2\u30A4\u30B3\u30F3",
                           "\xE3\x82\xA2\xE3\x82\xA4\xE3\x82\xB3\xE3\x83\xB3"},
                      Text{"LastOfEachLength", L"\u007F\u07FF\uFFFF", "\x7F\xDF\xBF\xEF\xBF\xBF"},
                      Text{"SurrogatePair", L"\xD83D\xDE00.ico", "\xF0\x9F\x98\x80.ico"},
                      Text{"LoneHighSurrogate", L"a\xD800-", "a\xED\xA0\x80-"},
                      Text{"LoneLowSurrogateAtEnd", L"a\xDFFF", "a\xED\xBF\xBF"},
                      Text{"PairBackwards", L"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80"}),
    CaseName());

TEST(Utf8Conversion, MalformedBytesAreRefused) {
  for (const char* bytes :
       {"\x80", "a\xC3", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF"}) {
    EXPECT_EQ(wide_from_utf8(bytes), std::nullopt) << ::testing::PrintToString(std::string(bytes));
  }
}

TEST(Utf8Conversion, ArgumentsBecomeUtf8AndEndInANullPointer) {
  std::wstring output = L"\u51FA\u529B.ico";
  std::wstring input = L"in.ico";
  wchar_t* arguments[] = {output.data(), input.data(), nullptr};
  char** converted = utf8_arguments(2, arguments);
  EXPECT_STREQ(converted[0], "\xE5\x87\xBA\xE5\x8A\x9B.ico");
  EXPECT_STREQ(converted[1], "in.ico");
  EXPECT_EQ(converted[2], nullptr);
}

// The UTF-8 form of a path, as tarve's arguments have it.
std::string utf8_of(const fs::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

bool replace(const fs::path& path, const Bytes& bytes) {
  return replace_file(utf8_of(path).c_str(), bytes.data(), bytes.size());
}

const Bytes kOld = {0, 0, 1, 0, 0, 0};
const Bytes kNew = {0, 0, 1, 0, 1, 0, 7, 7, 7};

// Files are named in UTF-8 and found by their UTF-16 names, not through the system's
// narrow code page, and both ways they are binary: line ends and Ctrl+Z stay as they are.
TEST(WindowsFiles, NamesOutsideAsciiAreWrittenAndReadInBinary) {
  const auto dir = scratch_dir("platform-names");
  const fs::path name = dir / L"\u30A2\u30A4\u30B3\u30F3-\u00e4.ico";
  const Bytes bytes = {0, 0, 1, 0, '\n', '\r', '\n', 0x1A, '\n'};
  ASSERT_TRUE(replace(name, bytes));
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{name.filename()});
  EXPECT_EQ(read_file(name), bytes);

  std::FILE* file = open_file(utf8_of(name).c_str(), "rb");
  ASSERT_NE(file, nullptr);
  Bytes content(bytes.size() + 1);
  content.resize(std::fread(content.data(), 1, content.size(), file));
  std::fclose(file);
  EXPECT_EQ(content, bytes);

  EXPECT_EQ(open_file((utf8_of(dir) + "\\\xC3.ico").c_str(), "rb"), nullptr);  // not UTF-8
}

TEST(WindowsFiles, AnExistingFileIsReplacedAndKeepsItsAttributes) {
  const auto dir = scratch_dir("platform-replace");
  const fs::path path = dir / "out.ico";
  write_file(path, kOld);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(replace(path, kNew));
  EXPECT_EQ(read_file(path), kNew);
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD{FILE_ATTRIBUTE_HIDDEN});
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

TEST(WindowsFiles, AReadOnlyFileIsNotReplaced) {
  const auto dir = scratch_dir("platform-read-only");
  const fs::path path = dir / "out.ico";
  write_file(path, kOld);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const bool replaced = replace(path, kNew);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(read_file(path), kOld);
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

// Another program reads the old file and does not let it be deleted: the new content
// is written in full, the move over the old file fails, and the temporary goes.
TEST(WindowsFiles, AFileHeldOpenIsNotReplacedAndNoTemporaryIsLeft) {
  const auto dir = scratch_dir("platform-held-open");
  const fs::path path = dir / "out.ico";
  write_file(path, kOld);
  const HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const bool replaced = replace(path, kNew);
  CloseHandle(reader);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(read_file(path), kOld);
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

TEST(WindowsFiles, ADirectoryOrAMissingOneIsAFailure) {
  const auto dir = scratch_dir("platform-directory");
  fs::create_directory(dir / "out.ico");
  EXPECT_FALSE(replace(dir / "out.ico", kNew));
  EXPECT_TRUE(fs::is_empty(dir / "out.ico"));
  EXPECT_FALSE(replace(dir / "none" / "out.ico", kNew));
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

TEST(WindowsFiles, NulInAnyCaseIsTheNullDevice) {
  const auto dir = scratch_dir("platform-nul");
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  EXPECT_TRUE(replace_file("nul", kNew.data(), kNew.size()));
  EXPECT_TRUE(replace_file("NUL", kNew.data(), kNew.size()));
  fs::current_path(previous);
  EXPECT_TRUE(names_in(dir).empty());
}

#else

mode_t mode_of(const fs::path& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mode & 07777;
}

const Bytes kOld = {0, 0, 1, 0, 0, 0};
const Bytes kNew = {0, 0, 1, 0, 1, 0, 7, 7, 7};

// Both ways of replacing a file behave the same; the second is the one taken where
// unnamed temporary files cannot be had.
using Replace = bool (*)(const fs::path& path, const Bytes& bytes);

bool replace_normally(const fs::path& path, const Bytes& bytes) {
  return replace_file(path.c_str(), bytes.data(), bytes.size());
}

bool replace_through_name(const fs::path& path, const Bytes& bytes) {
  struct stat status {};
  const bool exists = ::stat(path.c_str(), &status) == 0;
  const mode_t mode = exists ? status.st_mode & 07777 : 0644;
  return replace_through_named_file(path, mode, exists ? &status : nullptr, bytes.data(),
                                    bytes.size());
}

// Replaces the file in a process whose files may not grow past 4 KiB.
bool replace_limited(Replace replace, const fs::path& path, const Bytes& bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, 4096};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  return replace(path, bytes);
}

struct Way {
  const char* name;
  Replace replace;
};

class ReplaceFile : public ::testing::TestWithParam<Way> {};

TEST_P(ReplaceFile, ANewFileGetsTheUsualModeAndNothingElseIsLeft) {
  const auto dir = scratch_dir(std::string("platform-new-") + GetParam().name);
  const mode_t previous = ::umask(027);
  const bool ok = GetParam().replace(dir / "out.ico", kNew);
  ::umask(previous);
  ASSERT_TRUE(ok);
  EXPECT_EQ(read_file(dir / "out.ico"), kNew);
  if (GetParam().replace == replace_normally) {
    EXPECT_EQ(mode_of(dir / "out.ico"), 0640u);
  }
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

TEST_P(ReplaceFile, AReplacedFileKeepsItsPermissionBits) {
  const auto dir = scratch_dir(std::string("platform-keep-") + GetParam().name);
  write_file(dir / "out.ico", kOld);
  ::chmod((dir / "out.ico").c_str(), 0604);
  ASSERT_TRUE(GetParam().replace(dir / "out.ico", kNew));
  EXPECT_EQ(read_file(dir / "out.ico"), kNew);
  EXPECT_EQ(mode_of(dir / "out.ico"), 0604u);
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

TEST_P(ReplaceFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  const auto dir = scratch_dir(std::string("platform-fail-") + GetParam().name);
  write_file(dir / "out.ico", kOld);
  const Bytes large(64 * 1024, 0x5A);
  // In a child process whose files may not grow past 4 KiB: the write fails half way.
  EXPECT_EXIT(std::exit(replace_limited(GetParam().replace, dir / "out.ico", large) ? 0 : 3),
              ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(read_file(dir / "out.ico"), kOld);
  EXPECT_EQ(names_in(dir), std::vector<fs::path>{"out.ico"});
}

INSTANTIATE_TEST_SUITE_P(Platform, ReplaceFile,
                         ::testing::Values(Way{"Normally", replace_normally},
                                           Way{"ThroughANamedTemporary", replace_through_name}),
                         CaseName());

TEST(ReplaceFile, ALinkStaysALinkToTheReplacedFile) {
  const auto dir = scratch_dir("platform-link");
  fs::create_directory(dir / "real");
  write_file(dir / "real" / "icon.ico", kOld);
  fs::create_symlink("real/icon.ico", dir / "step.ico");
  fs::create_symlink(dir / "step.ico", dir / "out.ico");  // a chain: absolute, then relative
  ASSERT_TRUE(replace_file((dir / "out.ico").c_str(), kNew.data(), kNew.size()));
  EXPECT_TRUE(fs::is_symlink(dir / "out.ico"));
  EXPECT_TRUE(fs::is_symlink(dir / "step.ico"));
  EXPECT_EQ(read_file(dir / "real" / "icon.ico"), kNew);
  EXPECT_EQ(names_in(dir / "real"), std::vector<fs::path>{"icon.ico"});
}

TEST(ReplaceFile, ALinkToNothingCreatesItsTarget) {
  const auto dir = scratch_dir("platform-dangling");
  fs::create_symlink("made.ico", dir / "out.ico");
  ASSERT_TRUE(replace_file((dir / "out.ico").c_str(), kNew.data(), kNew.size()));
  EXPECT_TRUE(fs::is_symlink(dir / "out.ico"));
  EXPECT_EQ(read_file(dir / "made.ico"), kNew);
}

TEST(ReplaceFile, DevicesAreWrittenDirectly) {
  EXPECT_TRUE(replace_file("/dev/null", kNew.data(), kNew.size()));
  EXPECT_FALSE(replace_file("/dev/full", kNew.data(), kNew.size()));
  const auto dir = scratch_dir("platform-nul");
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  EXPECT_TRUE(replace_file("NUL", kNew.data(), kNew.size()));
  fs::current_path(previous);
  EXPECT_TRUE(names_in(dir).empty());
}

TEST(ReplaceFile, AMissingDirectoryIsAFailure) {
  const auto dir = scratch_dir("platform-missing");
  EXPECT_FALSE(replace_file((dir / "none" / "out.ico").c_str(), kNew.data(), kNew.size()));
}

#endif

}  // namespace
