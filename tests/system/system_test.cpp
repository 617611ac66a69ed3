// The program run as a user runs it, with the system failing around it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Output { Captured, Closed, Full, BrokenPipe };

struct Outcome {
  int status;       // the exit status, or 128 + the signal that ended the process
  std::string out;  // standard output, when captured
};

// Runs tarve in `dir` with standard output as asked, the default reaction to SIGPIPE
// that a shell gives its commands, and an optional limit on the size of files.
Outcome run_tarve(const fs::path& dir, const std::vector<std::string>& args, Output output,
                  rlim_t fileLimit = RLIM_INFINITY) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {-1, {}};
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(120);
    ::signal(SIGPIPE, SIG_DFL);
    if (output == Output::Captured || output == Output::BrokenPipe) ::dup2(pipeFds[1], 1);
    if (output == Output::BrokenPipe) ::close(pipeFds[0]);
    if (output == Output::Full) ::dup2(::open("/dev/full", O_WRONLY), 1);
    if (output == Output::Closed) ::close(1);
    ::close(pipeFds[1]);
    if (fileLimit != RLIM_INFINITY) {
      const rlimit limit{fileLimit, fileLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv = {const_cast<char*>("tarve")};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TARVE_EXE, argv.data());
    ::_exit(121);
  }
  ::close(pipeFds[1]);
  if (output == Output::BrokenPipe) {
    ::close(pipeFds[0]);  // the reader is gone before the first line is written
  }
  Outcome run{-1, {}};
  if (output != Output::BrokenPipe) {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
      run.out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

fs::path scratch_dir(const std::string& name) {
  const auto dir = fs::temp_directory_path() / ("tarve-system-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// An icon file of `count` 16 x 16 images of `imageSize` bytes each, all sharing the
// bytes right after the directory.
Bytes icon_file(std::uint32_t count, std::uint32_t imageSize = 0) {
  Bytes bytes = {
      0, 0, 1, 0, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)};
  const std::uint32_t data = 6 + 16 * count;
  for (std::uint32_t i = 0; i < count; ++i) {
    const Bytes entry = {16,
                         16,
                         0,
                         0,
                         1,
                         0,
                         32,
                         0,
                         static_cast<std::uint8_t>(imageSize),
                         static_cast<std::uint8_t>(imageSize >> 8),
                         0,
                         0,
                         static_cast<std::uint8_t>(data),
                         static_cast<std::uint8_t>(data >> 8),
                         static_cast<std::uint8_t>(data >> 16),
                         0};
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  for (std::uint32_t i = 0; i < std::max(imageSize, 10u); ++i)
    bytes.push_back(static_cast<std::uint8_t>(i));
  return bytes;
}

// Enough images that the listing fills standard output's buffer and is written
// while the run is still going.
constexpr std::uint32_t kManyImages = 2000;

TEST(StandardOutput, ThatCannotBeWrittenChangesNothingElse) {
  const auto reference = scratch_dir("reference");
  write_file(reference / "many.ico", icon_file(kManyImages, 3));
  ASSERT_EQ(run_tarve(reference, {"out.ico", "many.ico"}, Output::Captured).status, 0);
  const Bytes expected = read_file(reference / "out.ico");

  const struct {
    const char* name;
    Output output;
  } cases[] = {{"closed", Output::Closed}, {"full", Output::Full}, {"pipe", Output::BrokenPipe}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = scratch_dir(c.name);
    write_file(dir / "many.ico", icon_file(kManyImages, 3));
    EXPECT_EQ(run_tarve(dir, {"out.ico", "many.ico"}, c.output).status, 0);
    EXPECT_EQ(read_file(dir / "out.ico"), expected);
  }
}

TEST(StandardOutput, ThatCannotBeWrittenKeepsAFailuresStatus) {
  const auto dir = scratch_dir("failure");
  EXPECT_EQ(run_tarve(dir, {"out.ico", "missing.ico"}, Output::BrokenPipe).status, 99);
  EXPECT_EQ(run_tarve(dir, {"out.ico"}, Output::Full).status, 255);
  EXPECT_TRUE(names_in(dir).empty());
}

TEST(FailedWrite, KeepsTheExistingIconAndLeavesNoTemporaryFile) {
  const auto dir = scratch_dir("limit");
  const Bytes old = icon_file(300, 4);
  write_file(dir / "icon.ico", old);
  write_file(dir / "new.ico", icon_file(1, 4));
  // The new icon needs 301 * 20 + 6 bytes, more than the 4 KiB the process may write.
  const Outcome run = run_tarve(dir, {"icon.ico", "icon.ico", "new.ico"}, Output::Captured, 4096);
  EXPECT_EQ(run.status, 99);
  EXPECT_TRUE(
      run.out.ends_with("301: bmp  16x 16 32bpp   0clr      4 new.ico\n"
                        "file write error: icon.ico\n"))
      << run.out.substr(run.out.size() - std::min<std::size_t>(run.out.size(), 200));
  EXPECT_EQ(read_file(dir / "icon.ico"), old);
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"icon.ico", "new.ico"}));
}

TEST(ImageCount, AsManyAsTheFormatCountsMakeAnIconOneMoreIsRefused) {
  const auto dir = scratch_dir("count");
  write_file(dir / "most.ico", icon_file(65535));
  write_file(dir / "one.ico", icon_file(1));

  const Outcome most = run_tarve(dir, {"out.ico", "most.ico"}, Output::Captured);
  EXPECT_EQ(most.status, 0);
  EXPECT_TRUE(most.out.ends_with("65535: bmp  16x 16 32bpp   0clr      0 most.ico\n"));
  const Bytes written = read_file(dir / "out.ico");
  ASSERT_EQ(written.size(), 6u + 16u * 65535u);
  EXPECT_EQ(written[4], 0xFF);
  EXPECT_EQ(written[5], 0xFF);
  fs::remove(dir / "out.ico");

  const Outcome tooMany = run_tarve(dir, {"out.ico", "most.ico", "one.ico"}, Output::Captured);
  EXPECT_EQ(tooMany.status, 99);
  EXPECT_EQ(tooMany.out, "too many images for one icon file: out.ico\n");
  EXPECT_FALSE(fs::exists(dir / "out.ico"));
}

TEST(HugeInputs, AreReadErrorsWithoutTakingTheirSizeInMemory) {
  const auto dir = scratch_dir("huge");
  write_file(dir / "huge.ico", icon_file(0));
  fs::resize_file(dir / "huge.ico", (std::uintmax_t{1} << 32) + 100);
  const Outcome run = run_tarve(dir, {"out.ico", "huge.ico"}, Output::Captured);
  EXPECT_EQ(run.status, 99);
  EXPECT_EQ(run.out, "file read error: huge.ico\n");
  EXPECT_FALSE(fs::exists(dir / "out.ico"));
}

}  // namespace
