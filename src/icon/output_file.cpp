#include "icon/output_file.h"

#include <cctype>
#include <cstdio>

#include "cli/fail.h"

bool is_null_device_name(const char* path) {
  const char* name = "nul";
  for (; *name != '\0'; ++path, ++name) {
    if (std::tolower(static_cast<unsigned char>(*path)) != *name) return false;
  }
  return *path == '\0';
}

namespace {

const char* platform_path(const char* path) {
#if defined(_WIN32)
  return path;
#else
  return is_null_device_name(path) ? "/dev/null" : path;
#endif
}

}  // namespace

void write_output_file(const char* path, const std::uint8_t* bytes, std::size_t size) {
  std::FILE* file = std::fopen(platform_path(path), "wb");
  if (file == nullptr) fail("file write error: %s\n", path);
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) fail("file write error: %s\n", path);
}
