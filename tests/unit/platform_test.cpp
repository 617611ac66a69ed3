#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "test_support.h"

#if !defined(_WIN32)
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

#if !defined(_WIN32)

fs::path scratch_dir(const std::string& name) {
  const auto dir = fs::temp_directory_path() / ("tarve-platform-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

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
  const auto dir = scratch_dir(std::string("new-") + GetParam().name);
  const mode_t previous = ::umask(027);
  const bool ok = GetParam().replace(dir / "out.ico", kNew);
  ::umask(previous);
  ASSERT_TRUE(ok);
  EXPECT_EQ(read_file(dir / "out.ico"), kNew);
  if (GetParam().replace == replace_normally) {
    EXPECT_EQ(mode_of(dir / "out.ico"), 0640u);
  }
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"out.ico"});
}

TEST_P(ReplaceFile, AReplacedFileKeepsItsPermissionBits) {
  const auto dir = scratch_dir(std::string("keep-") + GetParam().name);
  write_file(dir / "out.ico", kOld);
  ::chmod((dir / "out.ico").c_str(), 0604);
  ASSERT_TRUE(GetParam().replace(dir / "out.ico", kNew));
  EXPECT_EQ(read_file(dir / "out.ico"), kNew);
  EXPECT_EQ(mode_of(dir / "out.ico"), 0604u);
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"out.ico"});
}

TEST_P(ReplaceFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  const auto dir = scratch_dir(std::string("fail-") + GetParam().name);
  write_file(dir / "out.ico", kOld);
  const Bytes large(64 * 1024, 0x5A);
  // In a child process whose files may not grow past 4 KiB: the write fails half way.
  EXPECT_EXIT(std::exit(replace_limited(GetParam().replace, dir / "out.ico", large) ? 0 : 3),
              ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(read_file(dir / "out.ico"), kOld);
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"out.ico"});
}

INSTANTIATE_TEST_SUITE_P(Platform, ReplaceFile,
                         ::testing::Values(Way{"Normally", replace_normally},
                                           Way{"ThroughANamedTemporary", replace_through_name}),
                         CaseName());

TEST(ReplaceFile, ALinkStaysALinkToTheReplacedFile) {
  const auto dir = scratch_dir("link");
  fs::create_directory(dir / "real");
  write_file(dir / "real" / "icon.ico", kOld);
  fs::create_symlink("real/icon.ico", dir / "step.ico");
  fs::create_symlink(dir / "step.ico", dir / "out.ico");  // a chain: absolute, then relative
  ASSERT_TRUE(replace_file((dir / "out.ico").c_str(), kNew.data(), kNew.size()));
  EXPECT_TRUE(fs::is_symlink(dir / "out.ico"));
  EXPECT_TRUE(fs::is_symlink(dir / "step.ico"));
  EXPECT_EQ(read_file(dir / "real" / "icon.ico"), kNew);
  EXPECT_EQ(names_in(dir / "real"), std::vector<std::string>{"icon.ico"});
}

TEST(ReplaceFile, ALinkToNothingCreatesItsTarget) {
  const auto dir = scratch_dir("dangling");
  fs::create_symlink("made.ico", dir / "out.ico");
  ASSERT_TRUE(replace_file((dir / "out.ico").c_str(), kNew.data(), kNew.size()));
  EXPECT_TRUE(fs::is_symlink(dir / "out.ico"));
  EXPECT_EQ(read_file(dir / "made.ico"), kNew);
}

TEST(ReplaceFile, DevicesAreWrittenDirectly) {
  EXPECT_TRUE(replace_file("/dev/null", kNew.data(), kNew.size()));
  EXPECT_FALSE(replace_file("/dev/full", kNew.data(), kNew.size()));
  const auto dir = scratch_dir("nul");
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  EXPECT_TRUE(replace_file("NUL", kNew.data(), kNew.size()));
  fs::current_path(previous);
  EXPECT_TRUE(names_in(dir).empty());
}

TEST(ReplaceFile, AMissingDirectoryIsAFailure) {
  const auto dir = scratch_dir("missing");
  EXPECT_FALSE(replace_file((dir / "none" / "out.ico").c_str(), kNew.data(), kNew.size()));
}

#endif

}  // namespace
