// Replays stored fuzz inputs without libFuzzer: every file named on the command
// line, and every file of every directory named, goes once through
// LLVMFuzzerTestOneInput. Files whose names start with a dot are skipped. Built with
// any compiler, it runs the seed corpus and the regression inputs as a plain test;
// a fault shows as a sanitizer report or an abort, a missing path as status 1.
//
//   fuzz_replay fuzz/corpus fuzz/regressions

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_entry.h"

namespace fs = std::filesystem;

namespace {

bool read_whole(const fs::path& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  bytes.resize(static_cast<std::size_t>(file.tellg()));
  file.seekg(0);
  return static_cast<bool>(
      file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())));
}

bool hidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name.front() == '.';
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path named(argv[i]);
    std::error_code error;
    if (fs::is_directory(named, error)) {
      std::vector<fs::path> found;
      for (const fs::directory_entry& entry : fs::directory_iterator(named, error)) {
        if (entry.is_regular_file() && !hidden(entry.path())) found.push_back(entry.path());
      }
      if (error) {
        std::fprintf(stderr, "cannot list %s\n", argv[i]);
        return 1;
      }
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(named, error)) {
      inputs.push_back(named);
    } else {
      std::fprintf(stderr, "no such file or directory: %s\n", argv[i]);
      return 1;
    }
  }

  std::vector<std::uint8_t> bytes;
  for (const fs::path& input : inputs) {
    if (!read_whole(input, bytes)) {
      std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
      return 1;
    }
    std::printf("%s\n", input.string().c_str());
    std::fflush(stdout);  // the name of the input is out before a crash on it
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
